#include "bench/bench_table.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace varmex::bench {
namespace {

// The parts of "<op>/<shape>/<fill>/<engine>"; empty when the name has another form.
std::vector<std::string> SplitName(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = name.find('/', start);
    parts.push_back(
        name.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts.size() == 4 ? parts : std::vector<std::string>{};
}

int OpRank(const std::string& op) {
  for (int i = 0; i < 4; ++i) {
    if (op == kOpNames[i]) return i;
  }
  return op == kLegacyOpName ? 4 : 5;
}

int ShapeRank(const std::string& shape) {
  return shape == "prefman" ? 0 : shape == "furnmat" ? 1 : 2;
}

double Counter(const Measurement& m, const char* name) {
  const auto it = m.counters.find(name);
  return it == m.counters.end() ? 0 : it->second;
}

std::string Fixed(double v, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// A ratio, or a dash when it could not be worked out.
std::string Ratio(double r) { return r > 0 ? Fixed(r, 2) : "-"; }
std::string Ns(double ns) { return ns > 0 ? Fixed(ns, 0) : "-"; }

}  // namespace

std::vector<std::string> TableRow::Misses() const {
  std::vector<std::string> out;
  if (failed) out.push_back("some operations did not give the expected status");
  const bool keyedReadOrWrite = op == kOpNames[0] || op == kOpNames[1] || op == kOpNames[2];
  if (keyedReadOrWrite && CachedGdbmRatio() > 1)
    out.push_back("cached, slower than GDBM (" + Fixed(CachedGdbmRatio(), 2) + "x)");
  if (floorNs > 0 && FloorRatio() > 1.5) out.push_back(Fixed(FloorRatio(), 2) + "x its I/O floor");
  // Reads and writes beyond the least are counted in the same sample of operations.
  if (auditReads > leastReads + 0.005) {
    out.push_back("reads " + Fixed(auditReads, 2) + " blocks per operation, least " +
                  Fixed(leastReads, 2));
  }
  if (auditWrites > leastWrites + 0.005) {
    out.push_back("writes " + Fixed(auditWrites, 2) + " blocks per operation, least " +
                  Fixed(leastWrites, 2));
  }
  return out;
}

const Measurement* ResultTable::Find(const std::string& name) const {
  const auto it = results_.find(name);
  return it == results_.end() ? nullptr : &it->second;
}

std::vector<TableRow> ResultTable::Rows() const {
  std::vector<TableRow> rows;
  for (const auto& [name, m] : results_) {
    const std::vector<std::string> parts = SplitName(name);
    if (parts.empty() || parts[3] != "varmex" || OpRank(parts[0]) > 4) continue;
    TableRow row;
    row.op = parts[0];
    row.shape = parts[1];
    row.fill = parts[2];
    row.ns = m.nsPerOp;
    row.reads = Counter(m, "reads");
    row.writes = Counter(m, "writes");
    row.auditReads = Counter(m, "audit_reads");
    row.auditWrites = Counter(m, "audit_writes");
    row.leastReads = Counter(m, "least_reads");
    row.leastWrites = Counter(m, "least_writes");
    row.measuredFill = Counter(m, "fill");
    row.failed = Counter(m, "failed") > 0;
    const std::string group = "/" + row.shape + "/" + row.fill + "/";
    const Measurement* floorRead = Find("Floor" + group + "read512");
    const Measurement* floorWrite = Find("Floor" + group + "write512");
    if (floorRead != nullptr && (row.writes == 0 || floorWrite != nullptr)) {
      row.floorNs =
          row.reads * floorRead->nsPerOp + (row.writes > 0 ? row.writes * floorWrite->nsPerOp : 0);
    }
    if (const Measurement* c = Find(row.op + group + "varmex-cached")) {
      row.cachedNs = c->nsPerOp;
      row.failed = row.failed || Counter(*c, "failed") > 0;
    }
    if (const Measurement* g = Find(row.op + group + "gdbm")) {
      row.gdbmNs = g->nsPerOp;
      row.failed = row.failed || Counter(*g, "failed") > 0;
    }
    if (const Measurement* s = Find(row.op + group + "sqlite")) {
      row.sqliteNs = s->nsPerOp;
      row.failed = row.failed || Counter(*s, "failed") > 0;
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end(), [](const TableRow& a, const TableRow& b) {
    return std::make_tuple(ShapeRank(a.shape), std::atoi(a.fill.c_str()), OpRank(a.op)) <
           std::make_tuple(ShapeRank(b.shape), std::atoi(b.fill.c_str()), OpRank(b.op));
  });
  return rows;
}

std::string ResultTable::Markdown(int blocks) const {
  const std::vector<TableRow> rows = Rows();
  std::string out =
      "\nKeyed store, files of " + std::to_string(blocks) +
      " blocks warm in the page cache (times in ns per operation; x = the store's time divided "
      "by the other)\n\n";
  out +=
      "| Operation | Records | Fill % | Store ns | Reads/op (least) | Writes/op (least) | I/O "
      "floor ns | x floor | Cached ns | GDBM ns | x GDBM | Cached x GDBM | SQLite ns | x SQLite "
      "|\n";
  out += "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const TableRow& r : rows) {
    const std::string fill = r.fill == "-" ? "-" : Fixed(r.measuredFill, 1);
    out += "| " + r.op + " | " + r.shape + " | " + fill + " | " + Ns(r.ns) + " | " +
           Fixed(r.auditReads, 2) + " (" + Fixed(r.leastReads, 2) + ") | " +
           Fixed(r.auditWrites, 2) + " (" + Fixed(r.leastWrites, 2) + ") | " + Ns(r.floorNs) +
           " | " + Ratio(r.FloorRatio()) + " | " + Ns(r.cachedNs) + " | " + Ns(r.gdbmNs) + " | " +
           Ratio(r.GdbmRatio()) + " | " + Ratio(r.CachedGdbmRatio()) + " | " + Ns(r.sqliteNs) +
           " | " + Ratio(r.SqliteRatio()) + " |\n";
  }
  std::string misses;
  for (const TableRow& r : rows) {
    for (const std::string& m : r.Misses())
      misses += "- " + r.op + " " + r.shape + " " + r.fill + ": " + m + "\n";
  }
  out += misses.empty() ? "\nEvery row meets its targets.\n" : "\nTargets missed:\n" + misses;
  return out;
}

std::vector<std::string> ResultTable::Failures() const {
  std::vector<std::string> out;
  for (const auto& [name, m] : results_) {
    if (Counter(m, "failed") > 0) out.push_back(name);
  }
  return out;
}

}  // namespace varmex::bench
