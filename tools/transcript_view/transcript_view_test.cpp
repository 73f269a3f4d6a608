#include "tools/transcript_view/transcript_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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

Outcome View(const std::vector<std::string>& args, const std::string& input = "",
             const std::string& inputRefusal = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = RunTranscriptView(args, in, out, err, inputRefusal);
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

// An input that is no transcript is refused at once with one line and status 1: no
// wait on a pipe named as FILE, no endless read of a device; what came before a line
// past its bound is printed.
TEST(TranscriptViewTest, InputsPastTheirBoundsOrFromADeviceAreRefused) {
  const std::string dir = ::testing::TempDir();
  const std::string fifo = dir + "varmex-transcript-view.fifo";
  const std::string large = dir + "varmex-transcript-large.jsonl";
  const std::string longLine = dir + "varmex-transcript-long.jsonl";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::ofstream{large};
  std::filesystem::resize_file(large, 256 * 1024 * 1024 + 1);  // sparse: never read
  const std::string exitLine = R"({"event":"exit","status":0})"
                               "\n";
  const std::string tooLong = exitLine + std::string(64 * 1024 + 1, ' ') + "\n" + exitLine;
  std::ofstream(longLine) << tooLong;
  const std::string printed = "== the program ends with exit status 0\n";
  struct Case {
    std::vector<std::string> args;
    std::string input, refusal;  // standard input and why it is refused
    std::string out, err;
  } cases[] = {
      {{fifo},
       "",
       "",
       "",
       fifo +
           " is refused: not a regular file (a pipe or a device); give a pipe as standard input"},
      {{"/dev/zero"},
       "",
       "",
       "",
       "/dev/zero is refused: not a regular file (a pipe or a device); give a pipe as standard "
       "input"},
      {{large}, "", "", "", large + " is refused: larger than 268435456 bytes"},
      {{longLine},
       "",
       "",
       printed,
       longLine + ": line 2 is longer than 65536 bytes; nothing more is read"},
      {{},
       tooLong,
       "",
       printed,
       "standard input: line 2 is longer than 65536 bytes; nothing more is read"},
      {{"-"},
       exitLine,
       "a device",
       "",
       "standard input is refused: a device, not a file, a pipe or a terminal"},
  };
  alarm(20);  // a wait on the FIFO fails the test instead of hanging it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome o = View(c.args, c.input, c.refusal);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "varmex-transcript: " + c.err + "\n");
  }
  alarm(0);
  for (const std::string& f : {fifo, large, longLine}) std::remove(f.c_str());
}

// No byte of a text reaches the terminal as a control character: an escape sequence
// in a message, a command or a line that is not an event is shown, not obeyed.
TEST(TranscriptViewTest, ControlCharactersAreShownNotSent) {
  EXPECT_EQ(ShownText("a\x1b[2Jb\tc\x7f\n", false), "a^[[2Jb^Ic^?^J");
  EXPECT_EQ(ShownText("line\nnext", true), "line\nnext");
  // C1 controls, as a lone byte or in UTF-8; other UTF-8 and single-byte letters pass.
  EXPECT_EQ(ShownText("a\x9b"
                      "2J\xc2\x85z \xe2\x80\x9c\xc8\x9b\xe9",
                      false),
            "a\\x9B2J\\u0085z \xe2\x80\x9c\xc8\x9b\xe9");
  const Outcome o =
      View({}, R"({"event":"message","title":"T\u001b","text":"a\u001b[31m\nb","answer":"ok"})"
               "\n"
               R"({"event":"run","command":"x\ty\u009b","result":0})"
               "\n\x1b[2J not json \x9b"
               "1m\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "[T^[] a^[[31m\n      b\n      -> ok\n$ x^Iy\\x9B\n?? ^[[2J not json \\x9B1m\n");
}

}  // namespace
}  // namespace varmex::tools
