// Tests of the benchmark table: floors, ratios and the targets each row misses.
#include "bench/bench_table.h"

#include <gtest/gtest.h>

namespace varmex::bench {
namespace {

Measurement M(double ns, std::map<std::string, double> counters = {}) {
  Measurement m;
  m.nsPerOp = ns;
  m.counters = std::move(counters);
  return m;
}

TEST(BenchTable, FloorIsTheSameNumberOfBareReadsAndWrites) {
  ResultTable t;
  t.Add("KeyedWrite-insert/prefman/80/varmex", M(1000, {{"reads", 2},
                                                        {"writes", 1},
                                                        {"audit_reads", 2},
                                                        {"audit_writes", 1},
                                                        {"least_reads", 2},
                                                        {"least_writes", 1},
                                                        {"fill", 80.2}}));
  t.Add("Floor/prefman/80/read512", M(200));
  t.Add("Floor/prefman/80/write512", M(300));
  t.Add("Floor/prefman/50/read512", M(1));  // another group: not used
  t.Add("KeyedWrite-insert/prefman/80/varmex-cached", M(400));
  t.Add("KeyedWrite-insert/prefman/80/gdbm", M(2000));
  t.Add("KeyedWrite-insert/prefman/80/sqlite", M(500));
  const auto rows = t.Rows();
  ASSERT_EQ(rows.size(), 1u);
  const TableRow& r = rows[0];
  EXPECT_DOUBLE_EQ(r.floorNs, 2 * 200 + 300);
  EXPECT_DOUBLE_EQ(r.FloorRatio(), 1000.0 / 700);
  EXPECT_DOUBLE_EQ(r.GdbmRatio(), 0.5);
  EXPECT_DOUBLE_EQ(r.CachedGdbmRatio(), 0.2);
  EXPECT_DOUBLE_EQ(r.SqliteRatio(), 2.0);
  EXPECT_TRUE(r.Misses().empty());  // 1.43x the floor, cached faster than GDBM
  const std::string md = t.Markdown(4001);
  EXPECT_NE(md.find("| KeyedWrite-insert | prefman | 80.2 | 1000 | 2.00 (2.00) | 1.00 (1.00) | 700 "
                    "| 1.43 | 400 | 2000 | 0.50 | 0.20 | 500 | 2.00 |"),
            std::string::npos)
      << md;
  EXPECT_NE(md.find("Every row meets its targets."), std::string::npos);
}

TEST(BenchTable, MissedTargetsAreListed) {
  ResultTable t;
  t.Add("KeyedRead/furnmat/95/varmex",
        M(900, {{"reads", 3.5}, {"audit_reads", 3.5}, {"least_reads", 3}}));
  t.Add("KeyedRead/furnmat/95/varmex-cached", M(900));
  t.Add("KeyedRead/furnmat/95/gdbm", M(600));
  t.Add("Floor/furnmat/95/read512", M(100));
  // Deletes are not held to GDBM's time, only to their floor and their blocks; nor is
  // the store straight to the file, only through the cache.
  t.Add("KeyedDelete/furnmat/95/varmex", M(900, {{"reads", 1},
                                                 {"writes", 1.5},
                                                 {"audit_reads", 1},
                                                 {"audit_writes", 1.5},
                                                 {"least_reads", 1},
                                                 {"least_writes", 1}}));
  t.Add("KeyedDelete/furnmat/95/gdbm", M(100));
  t.Add("Floor/furnmat/95/write512", M(400));
  const auto rows = t.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].op, "KeyedRead");  // table order, not name order
  const auto readMisses = rows[0].Misses();
  ASSERT_EQ(readMisses.size(), 3u);
  EXPECT_NE(readMisses[0].find("cached, slower than GDBM (1.50x)"), std::string::npos);
  EXPECT_NE(readMisses[1].find("2.57x its I/O floor"), std::string::npos);
  EXPECT_NE(readMisses[2].find("reads 3.50 blocks per operation, least 3.00"), std::string::npos);
  const auto deleteMisses = rows[1].Misses();
  ASSERT_EQ(deleteMisses.size(), 1u);  // 900 ns against a floor of 100 + 1.5 x 400
  EXPECT_NE(deleteMisses[0].find("writes 1.50"), std::string::npos);
  EXPECT_NE(t.Markdown(9).find("Targets missed:\n- KeyedRead furnmat 95: cached, slower than GDBM"),
            std::string::npos);
}

TEST(BenchTable, AFailedOperationOfAnyEngineMarksTheRun) {
  ResultTable t;
  t.Add("KeyedRead/prefman/50/varmex", M(10, {{"failed", 0}}));
  EXPECT_TRUE(t.Failures().empty());
  t.Add("KeyedRead/prefman/50/sqlite", M(10, {{"failed", 2}}));
  EXPECT_EQ(t.Failures(), std::vector<std::string>{"KeyedRead/prefman/50/sqlite"});
  EXPECT_TRUE(t.Rows()[0].failed);
  // Without a measured floor there is no ratio, and no floor target to miss.
  EXPECT_EQ(t.Rows()[0].FloorRatio(), 0);
  EXPECT_NE(t.Markdown(9).find("| - | - | - |"), std::string::npos);
}

TEST(BenchTable, LegacyLookUpSitsAfterTheKeyedRowsWithItsOwnFloor) {
  ResultTable t;
  t.Add("LegacyKeyedRead/estimate/-/varmex", M(5000, {{"reads", 2}, {"least_reads", 2}}));
  t.Add("Floor/estimate/-/read512", M(1000));
  t.Add("KeyedRead/furnmat/50/varmex", M(1));
  t.Add("Unrelated", M(1));
  const auto rows = t.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].op, "LegacyKeyedRead");
  EXPECT_DOUBLE_EQ(rows[1].floorNs, 2000);
  EXPECT_NE(t.Markdown(9).find("| LegacyKeyedRead | estimate | - | 5000 |"), std::string::npos);
}

}  // namespace
}  // namespace varmex::bench
