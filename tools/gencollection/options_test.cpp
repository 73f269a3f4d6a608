#include "tools/gencollection/options.h"

#include <gtest/gtest.h>

namespace varmex::gencollection {
namespace {

TEST(GencollectionCommandLine, ReadsEveryOption) {
  const CommandLine c = ParseCommandLine({"--version",     "35",
                                          "--estimates",   "25000",
                                          "--seed",        "18446744",
                                          "--investment",  "12:150:3:1/2:noobi",
                                          "--bases",       "999",
                                          "--block-norms", "--split",
                                          "100",           "--fresh",
                                          "fresh",         "--lcalcdev-blocks",
                                          "4000",          "--prefman-blocks",
                                          "1000000",       "--",
                                          "-out"});
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.collection.version, 35);
  EXPECT_EQ(c.collection.estimates, 25000);
  EXPECT_EQ(c.collection.seed, 18446744u);
  ASSERT_EQ(c.collection.investments.size(), 1u);
  EXPECT_EQ(c.collection.investments[0].number, 12);
  EXPECT_EQ(c.collection.investments[0].estimates, 150);
  EXPECT_EQ(c.collection.investments[0].objects, 3);
  EXPECT_EQ(c.collection.investments[0].bases, (std::vector<int16_t>{1, 2}));
  EXPECT_FALSE(c.collection.investments[0].inObi);
  EXPECT_EQ(c.collection.priceBases, 999);
  EXPECT_TRUE(c.collection.blockFileNorms);
  EXPECT_EQ(c.collection.splitPercent, 100);
  EXPECT_EQ(c.freshDir, "fresh");
  EXPECT_EQ(c.lcalcdevBlocks, 4000);
  EXPECT_EQ(c.prefmanBlocks, 1000000);
  EXPECT_EQ(c.outDir, "-out");
  EXPECT_TRUE(ParseCommandLine({"out", "-h"}).help);
}

// Each refused command line, with the line that says why.
TEST(GencollectionCommandLine, Refusals) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "nothing to write: no OUTDIR, no --fresh"},
      {{"--frob", "out"}, "unknown option --frob"},
      {{"-x", "out"}, "unknown option -x"},
      {{"out", "other"}, "more than one OUTDIR: other"},
      {{"out", "--seed"}, "--seed needs a value"},
      {{"--split", "500", "out"}, "bad --split 500: a percentage from 0 to 100"},
      {{"--seed", "abc", "out"}, "bad --seed abc: a number"},
      {{"--seed", "-1", "out"}, "bad --seed -1: a number"},
      {{"--version", "37", "out"}, "bad --version 37: 35 or 36"},
      {{"--estimates", "12x", "out"}, "bad --estimates 12x: a number from 0 to 500000"},
      {{"--bases", "1000", "out"}, "bad --bases 1000: a number from 0 to 999"},
      {{"--investment", "1:99999999", "out"},
       "bad --investment 1:99999999: its estimates must number 0 to 500000"},
      {{"--investment", "0:5", "out"}, "bad --investment 0:5: its number must be 1 to 32767"},
      {{"--investment", "1:5:0", "out"}, "bad --investment 1:5:0: its objects must number"},
      {{"--investment", "1:5:1:1/1000", "out"},
       "bad --investment 1:5:1:1/1000: its price bases must be 0 to 999"},
      {{"--investment", "1:5:1:1:obi", "out"},
       "bad --investment 1:5:1:1:obi: its fifth part can only be noobi"},
      {{"--investment", "1", "out"}, "bad --investment 1: needs NUMBER:ESTIMATES"},
      {{"--estimates", "300000", "--investment", "1:200001", "out"},
       "more than 500000 estimates in all"},
      {{"--lcalcdev-blocks", "2147483647", "--fresh", "f"},
       "bad --lcalcdev-blocks 2147483647: a block count from 2 to 1000000"},
      {{"--prefman-blocks", "1", "--fresh", "f"}, "bad --prefman-blocks 1"},
      {{"--fresh", "--help"}, "bad --fresh --help: a folder"},
  };
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(args.empty() ? std::string("(none)") : args[0] + " " + args.back());
    const CommandLine c = ParseCommandLine(args);
    EXPECT_FALSE(c.help);
    EXPECT_EQ(c.error.substr(0, error.size()), error);
  }
}

}  // namespace
}  // namespace varmex::gencollection
