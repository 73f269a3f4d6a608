#include "bench/peer_stores.h"

#include <gdbm.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace varmex::bench {
namespace {

datum Datum(std::span<const uint8_t> bytes) {
  datum d;
  d.dptr = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes.data()));
  d.dsize = static_cast<int>(bytes.size());
  return d;
}

class GdbmStore : public PeerStore {
 public:
  GdbmStore(GDBM_FILE db, int keyLength) : db_(db), keyLength_(static_cast<size_t>(keyLength)) {}
  ~GdbmStore() override { gdbm_close(db_); }
  const char* name() const override { return "gdbm"; }

  bool Fetch(std::span<const uint8_t> key, Bytes& out) override {
    datum v = gdbm_fetch(db_, Datum(key.first(keyLength_)));
    if (v.dptr == nullptr) return false;
    out.assign(key.begin(), key.begin() + static_cast<ptrdiff_t>(keyLength_));
    out.insert(out.end(), v.dptr, v.dptr + v.dsize);
    std::free(v.dptr);
    return true;
  }
  bool Insert(std::span<const uint8_t> record) override { return Store(record, GDBM_INSERT); }
  // Like the keyed write, a replace is a plain store that overwrites.
  bool Replace(std::span<const uint8_t> record) override { return Store(record, GDBM_REPLACE); }
  bool Delete(std::span<const uint8_t> key) override {
    return gdbm_delete(db_, Datum(key.first(keyLength_))) == 0;
  }

 private:
  bool Store(std::span<const uint8_t> record, int how) {
    return gdbm_store(db_, Datum(record.first(keyLength_)), Datum(record.subspan(keyLength_)),
                      how) == 0;
  }

  GDBM_FILE db_;
  size_t keyLength_;
};

class SqliteStore : public PeerStore {
 public:
  SqliteStore(sqlite3* db, int keyLength) : db_(db), keyLength_(static_cast<size_t>(keyLength)) {
    sqlite3_prepare_v2(db_, "SELECT v FROM r WHERE k = ?1", -1, &fetch_, nullptr);
    sqlite3_prepare_v2(db_, "INSERT INTO r (k, v) VALUES (?1, ?2)", -1, &insert_, nullptr);
    sqlite3_prepare_v2(db_, "UPDATE r SET v = ?2 WHERE k = ?1", -1, &update_, nullptr);
    sqlite3_prepare_v2(db_, "DELETE FROM r WHERE k = ?1", -1, &delete_, nullptr);
  }
  ~SqliteStore() override {
    if (inBatch_) EndBatch();
    for (sqlite3_stmt* s : {fetch_, insert_, update_, delete_}) sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  bool ok() const { return fetch_ && insert_ && update_ && delete_; }
  const char* name() const override { return "sqlite"; }

  bool Fetch(std::span<const uint8_t> key, Bytes& out) override {
    BindKey(fetch_, key);
    bool found = false;
    if (sqlite3_step(fetch_) == SQLITE_ROW) {
      const auto* v = static_cast<const uint8_t*>(sqlite3_column_blob(fetch_, 0));
      const int size = sqlite3_column_bytes(fetch_, 0);
      out.assign(key.begin(), key.begin() + static_cast<ptrdiff_t>(keyLength_));
      out.insert(out.end(), v, v + size);
      found = true;
    }
    sqlite3_reset(fetch_);
    return found;
  }
  bool Insert(std::span<const uint8_t> record) override { return Change(insert_, record); }
  bool Replace(std::span<const uint8_t> record) override { return Change(update_, record); }
  bool Delete(std::span<const uint8_t> key) override {
    return Change(delete_, key.first(keyLength_));
  }
  void BeginBatch() override {
    if (!inBatch_) inBatch_ = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  void EndBatch() override {
    if (inBatch_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    inBatch_ = false;
  }

 private:
  void BindKey(sqlite3_stmt* s, std::span<const uint8_t> key) {
    sqlite3_bind_blob(s, 1, key.data(), static_cast<int>(keyLength_), SQLITE_STATIC);
  }
  // Runs an insert, update or delete; true when it changed exactly one row.
  bool Change(sqlite3_stmt* s, std::span<const uint8_t> record) {
    BindKey(s, record);
    if (record.size() > keyLength_) {
      const auto data = record.subspan(keyLength_);
      sqlite3_bind_blob(s, 2, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
    }
    const bool done = sqlite3_step(s) == SQLITE_DONE && sqlite3_changes(db_) == 1;
    sqlite3_reset(s);
    return done;
  }

  sqlite3* db_;
  size_t keyLength_;
  sqlite3_stmt* fetch_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
  bool inBatch_ = false;
};

}  // namespace

std::unique_ptr<PeerStore> OpenGdbm(const std::string& path, int keyLength) {
  // No fsync and no locking: the store under test does neither.
  GDBM_FILE db = gdbm_open(path.c_str(), 0, GDBM_WRCREAT | GDBM_NOLOCK, 0644, nullptr);
  if (db == nullptr) return nullptr;
  return std::make_unique<GdbmStore>(db, keyLength);
}

std::unique_ptr<PeerStore> OpenSqlite(const std::string& path, int keyLength) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  // Durability off, as for the store under test; the journal still makes each batch
  // one transaction.
  const char* setup =
      "PRAGMA synchronous = OFF;"
      "CREATE TABLE IF NOT EXISTS r (k BLOB PRIMARY KEY, v BLOB) WITHOUT ROWID;";
  if (sqlite3_exec(db, setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  auto store = std::make_unique<SqliteStore>(db, keyLength);
  if (!store->ok()) return nullptr;
  return store;
}

}  // namespace varmex::bench
