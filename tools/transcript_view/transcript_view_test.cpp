#include "tools/transcript_view/transcript_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/transcript_view/transcript_event.h"

namespace varmex::tools {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome View(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = RunTranscriptView(args, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(TranscriptViewTest, CommandLine) {
  const std::string file = ::testing::TempDir() + "varmex-transcript-view.jsonl";
  std::ofstream(file) << R"({"event":"exit","status":0})"
                      << "\n";
  const std::string exitLine = "== the program ends with exit status 0\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;     // exactly, or "usage" for the usage text
    std::string errHas;  // a piece of standard error
  } cases[] = {
      {{"--help"}, 0, "usage", ""},
      {{"-h"}, 0, "usage", ""},
      {{"--version"}, 2, "", "unknown option --version\nusage: varmex-transcript"},
      {{"-x", file}, 2, "", "unknown option -x"},
      {{file, file}, 2, "", "one file only"},
      {{::testing::TempDir()}, 1, "", "is a folder, not a transcript"},
      {{"/nonexistent/t.jsonl"}, 1, "", "cannot read /nonexistent/t.jsonl"},
      {{file}, 0, exitLine, ""},
      {{"-"}, 0, exitLine, ""},  // standard input
      {{}, 0, exitLine, ""},
  };
  for (const Case& c : cases) {
    const std::string what = c.args.empty() ? "(no arguments)" : c.args[0];
    const Outcome o = View(c.args, R"({"event":"exit","status":0})"
                                   "\n");
    EXPECT_EQ(o.status, c.status) << what;
    if (c.out == "usage") {
      EXPECT_EQ(o.out.rfind("usage: varmex-transcript", 0), 0u) << what;
    } else {
      EXPECT_EQ(o.out, c.out) << what;
    }
    EXPECT_NE(o.err.find(c.errHas), std::string::npos) << what << ": " << o.err;
    if (c.errHas.empty()) {
      EXPECT_EQ(o.err, "") << what;
    }
  }
  std::remove(file.c_str());
}

// No byte of a text reaches the terminal as a control character: an escape sequence
// in a message, a command or a line that is not an event is shown, not obeyed.
TEST(TranscriptViewTest, ControlCharactersAreShownNotSent) {
  EXPECT_EQ(ShownText("a\x1b[2Jb\tc\x7f\n", false), "a^[[2Jb^Ic^?^J");
  EXPECT_EQ(ShownText("line\nnext", true), "line\nnext");
  const Outcome o =
      View({}, R"({"event":"message","title":"T\u001b","text":"a\u001b[31m\nb","answer":"ok"})"
               "\n"
               R"({"event":"run","command":"x\ty","result":0})"
               "\n\x1b[2J not json\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "[T^[] a^[[31m\n      b\n      -> ok\n$ x^Iy\n?? ^[[2J not json\n");
}

}  // namespace
}  // namespace varmex::tools
