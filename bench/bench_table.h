// The table of the store benchmarks: per operation the store's time straight to the
// file, its block reads and writes beside the least its walk needs, its I/O floor (the
// same number of bare 512-byte reads and writes of the same file, timed in the same
// run), its time through the block cache, and the peers' times, as ratios. Results are
// named "<operation>/<shape>/<fill>/<engine>"; the store's engines are "varmex" and
// "varmex-cached".
//
// Targets: straight to the file, every operation within 1.5x its floor and each block
// of its walk read once and written only when changed; through the cache, KeyedRead and
// KeyedWrite at least as fast as GDBM.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace varmex::bench {

// Operation names, in table order (the store's four, then the word-layout look-up).
inline constexpr const char* kOpNames[] = {"KeyedRead", "KeyedWrite-insert", "KeyedWrite-replace",
                                           "KeyedDelete"};
inline constexpr const char* kLegacyOpName = "LegacyKeyedRead";

struct Measurement {
  double nsPerOp = 0;
  // reads, writes (timed), audit_reads, audit_writes, least_reads, least_writes, fill, failed
  std::map<std::string, double> counters;
};

// One line of the table, worked out from the measurements of its group.
struct TableRow {
  std::string op, shape, fill;
  double ns = 0;
  double reads = 0, writes = 0;  // block reads and writes per timed operation
  // The audit's sample: reads and writes per operation beside the least its walk needs.
  double auditReads = 0, leastReads = 0, auditWrites = 0, leastWrites = 0;
  double floorNs = 0;   // 0 when the floor was not measured
  double cachedNs = 0;  // through the block cache; 0 when not measured
  double gdbmNs = 0, sqliteNs = 0;
  double measuredFill = 0;
  bool failed = false;

  double FloorRatio() const { return floorNs > 0 ? ns / floorNs : 0; }
  double GdbmRatio() const { return gdbmNs > 0 ? ns / gdbmNs : 0; }
  double CachedGdbmRatio() const { return gdbmNs > 0 && cachedNs > 0 ? cachedNs / gdbmNs : 0; }
  double SqliteRatio() const { return sqliteNs > 0 ? ns / sqliteNs : 0; }
  // The targets this row misses, as short texts (empty when it meets them all).
  std::vector<std::string> Misses() const;
};

class ResultTable {
 public:
  void Add(const std::string& name, const Measurement& m) { results_[name] = m; }
  // Rows for every operation of the store measured, in table order.
  std::vector<TableRow> Rows() const;
  // The table in Markdown with a list of the targets missed; `blocks` is the size of
  // the block files, for the heading.
  std::string Markdown(int blocks) const;
  // Names of the results in which some operation did not give the expected status.
  std::vector<std::string> Failures() const;

 private:
  const Measurement* Find(const std::string& name) const;
  std::map<std::string, Measurement> results_;
};

}  // namespace varmex::bench
