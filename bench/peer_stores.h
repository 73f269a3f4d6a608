// The same keyed workloads on two well-known embedded stores, for comparison: GDBM
// (hashed file) and SQLite (a WITHOUT ROWID table, one transaction per batch). Each
// holds the record's data under its key.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "bench/workload.h"

namespace varmex::bench {

class PeerStore {
 public:
  virtual ~PeerStore() = default;
  virtual const char* name() const = 0;
  // The record under the key, key included, into `out`; false when absent.
  virtual bool Fetch(std::span<const uint8_t> key, Bytes& out) = 0;
  // Stores a record whose key is new; false when the key is there or on failure.
  virtual bool Insert(std::span<const uint8_t> record) = 0;
  // Replaces the data of a record that is there (GDBM also stores an absent one).
  virtual bool Replace(std::span<const uint8_t> record) = 0;
  virtual bool Delete(std::span<const uint8_t> key) = 0;
  // Batches group operations (SQLite: one transaction); a batch must be ended before
  // the store is closed.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}
};

// Opens (creating when needed) a store at `path` for keys of `keyLength` bytes.
// Null when it cannot be opened.
std::unique_ptr<PeerStore> OpenGdbm(const std::string& path, int keyLength);
std::unique_ptr<PeerStore> OpenSqlite(const std::string& path, int keyLength);

using PeerOpener = std::unique_ptr<PeerStore> (*)(const std::string&, int);

}  // namespace varmex::bench
