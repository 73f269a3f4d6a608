#include "tools/transcript_view/transcript_event.h"

#include <gtest/gtest.h>

namespace varmex::tools {
namespace {

TEST(TranscriptEventTest, ReadsStringsNumbersAndBooleans) {
  const auto e = ParseTranscriptLine(
      R"({"event":"message","title":"Eroare","text":"a \"b\"\nc\\d\u0041","style":266288,"answer":"ok"})");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind(), "message");
  EXPECT_EQ(e->Get("text"), "a \"b\"\nc\\dA");
  EXPECT_EQ(e->Get("style"), "266288");
  const auto f =
      ParseTranscriptLine(R"({"event":"enable","dialog":107,"control":1004,"enabled":false})");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->Get("enabled"), "false");
  EXPECT_FALSE(f->Has("text"));
}

TEST(TranscriptEventTest, RefusesBrokenLines) {
  EXPECT_FALSE(ParseTranscriptLine(""));
  EXPECT_FALSE(ParseTranscriptLine("not json"));
  EXPECT_FALSE(ParseTranscriptLine(R"({"event":"run","command":"unrar t a.rar)"));
  EXPECT_FALSE(ParseTranscriptLine(R"({"event" "run"})"));
  EXPECT_FALSE(ParseTranscriptLine(R"({"event":})"));
}

TEST(TranscriptEventTest, DescribesRunsWithAndWithoutExitCodes) {
  EXPECT_EQ(DescribeEvent(*ParseTranscriptLine(
                R"({"event":"run","command":"unrar t erp.rar","result":0,"exit":3})")),
            "$ unrar t erp.rar   (exit code 3)");
  EXPECT_EQ(
      DescribeEvent(*ParseTranscriptLine(R"({"event":"run","command":"mklnk.exe","result":2})")),
      "$ mklnk.exe   (could not start: error 2)");
  EXPECT_EQ(DescribeEvent(*ParseTranscriptLine(
                R"({"event":"message","title":"Eroare","text":"one\ntwo","answer":"ok"})")),
            "[Eroare] one\n         two\n         -> ok");
}

}  // namespace
}  // namespace varmex::tools
