// End-to-end checks of the archive tools: the built unrar on its command lines, the
// installer's check of a medium that cannot be unpacked, the command-line conventions
// of the archive tools, and the demo medium read by a second, independent reader
// (Debian's unrar-free, whose options differ) with the same result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/e2e.h"
#include "tools/demo_medium/demo_medium.h"
#include "tools/rarwrite/rar_writer.h"

namespace varmex {
namespace {

namespace fs = std::filesystem;

// Every regular file under `root`, by relative path, with its contents.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      out[fs::relative(entry.path(), root).string()] = e2e::ReadFile(entry.path().string());
  }
  return out;
}

e2e::Run Unrar(e2e::Scratch& s, std::vector<std::string> args) {
  e2e::RunOptions o;
  o.program = e2e::BinDir() + "/unrar";
  o.args = std::move(args);
  return e2e::RunProgram(s, o);
}

TEST(UnrarToolE2eTest, ExitCodesAndOneLineReasons) {
  e2e::Scratch s;
  const std::string medium = s.Folder("medium");
  tools::WriteMedium(medium, {});
  EXPECT_EQ(Unrar(s, {"t", medium + "/tutorial.rar"}).status, 0);

  e2e::Run run = Unrar(s, {"t", medium + "/none.rar"});
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.err.rfind("unrar: cannot open " + medium + "/none.rar", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

  std::string raw = e2e::ReadFile(medium + "/quovar.rar");
  raw[raw.size() - 10] ^= 0x10;  // inside the last entry's data
  std::ofstream(medium + "/quovar.rar", std::ios::binary | std::ios::trunc) << raw;
  run = Unrar(s, {"t", medium + "/quovar.rar"});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("quovar.exe"), std::string::npos) << run.err;

  run = Unrar(s, {"l", medium + "/erp.rar"});
  EXPECT_EQ(run.status, 7);
  EXPECT_NE(run.err.find("usage: unrar"), std::string::npos);
}

// A tutorial.rar that cannot be unpacked is caught by the check of every archive,
// before anything is written: a named pipe (which once held the check for ever) and an
// entry that climbs out of its folder (which once passed the check and stopped the
// unpacking half way).
TEST(UnrarToolE2eTest, TheInstallersCheckCatchesATutorialThatCannotBeUnpacked) {
  const std::vector<std::pair<std::string, std::string>> cases = {{"pipe", " 6"}, {"climbs", " 9"}};
  for (const auto& [kind, code] : cases) {
    SCOPED_TRACE(kind);
    e2e::Scratch s;
    const std::string d = s.Drive('D');
    const std::string medium = s.Folder("medium");
    tools::MediumOptions options;
    options.mklnkPath = e2e::BinDir() + "/mklnk";
    if (kind == "climbs") {
      tools::RarEntry evil;
      evil.name = "tutorial/../../../escaped.txt";
      evil.data = {'x'};
      options.extra["tutorial.rar"].push_back(evil);
    } else {
      options.omit.insert("tutorial.rar");
    }
    tools::WriteMedium(medium, options);
    if (kind == "pipe") {
      ASSERT_EQ(mkfifo((medium + "/tutorial.rar").c_str(), 0644), 0);
    }
    e2e::RunOptions o;
    o.script = "dialog 101\nclick 1\nanswer no\n";
    o.cwd = medium;
    o.timeoutSeconds = 60;  // a wait on the pipe fails here instead of hanging the suite
    const e2e::Run run = e2e::RunSetup(s, o);
    ASSERT_FALSE(run.timedOut) << run.Transcript();
    EXPECT_EQ(run.status, 1) << run.Transcript();
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{
                  "Arhiva tutorial.rar este alterata ('unrar t' retcode=" + code +
                  ")!\n"
                  "Pentru a continua instalarea e necesara inlocuirea acestei arhive.\n"
                  "Puteti descarca aceasta arhiva de pe site-ul www.varmex.ro"});
    EXPECT_EQ(run.Commands().back(), "unrar t tutorial.rar");
    EXPECT_FALSE(e2e::Exists(d + "/kedro"));
    EXPECT_FALSE(e2e::Exists(s.path() + "/escaped.txt"));
  }
}

// -h and --help print the usage on standard output; any other word that starts with
// '-' is an unknown option (unrar keeps the suite tool's code 7 for a bad command
// line); none is ever taken as a file or folder to create.
TEST(UnrarToolE2eTest, ArchiveToolsNeverTakeAnOptionForAFileToCreate) {
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    int status;
    bool usageOnStdout;
  };
  const std::vector<Case> cases = {
      {"rarwrite", {"--help"}, 0, true},
      {"rarwrite", {"-h"}, 0, true},
      {"rarwrite", {"--bogus", "x.rar"}, 2, false},
      {"rarwrite", {"x.rar", "--", "a:=b"}, 2, false},
      {"rarwrite", {}, 2, false},
      {"varmex-demo-medium", {"--help"}, 0, true},
      {"varmex-demo-medium", {"-h"}, 0, true},
      {"varmex-demo-medium", {"--bogus"}, 2, false},
      {"varmex-demo-medium", {"m", "--omit"}, 2, false},
      {"varmex-demo-medium", {"--omit", "-x", "m"}, 2, false},
      {"varmex-demo-medium", {}, 2, false},
      {"unrar", {"--help"}, 7, false},
      {"unrar", {"-h"}, 7, false},
      {"unrar", {"x", "-y", "a.rar", "-out"}, 7, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool + " " + ::testing::PrintToString(c.args));
    e2e::Scratch s;
    e2e::RunOptions o;
    o.program = e2e::BinDir() + "/" + c.tool;
    o.args = c.args;
    const e2e::Run run = e2e::RunProgram(s, o);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE((c.usageOnStdout ? run.out : run.err).find("usage: "), std::string::npos);
    EXPECT_EQ((c.usageOnStdout ? run.err : run.out).find("usage: "), std::string::npos);
    for (const auto& entry : fs::directory_iterator(s.path())) {
      const std::string name = entry.path().filename().string();
      // Only the scratch's drives and the run's own files.
      EXPECT_TRUE(name == "drives" || name.rfind("run", 0) == 0) << "created " << name;
    }
  }
}

// Inputs that are no regular file, or far past any real input, are refused at once by
// the built programs: one line on standard error, status 1, nothing written; a file
// as standard input is still read.
TEST(UnrarToolE2eTest, ProgramsRefuseInputsThatAreNoFileOrPastTheirBounds) {
  e2e::Scratch s;
  const std::string fifo = s.path() + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string large = s.WriteFile("large", "");
  fs::resize_file(large, 256 * 1024 * 1024 + 1);  // sparse: never read
  const std::string longLine = s.WriteFile("long.script", "# " + std::string(4096, 'x') + "\n");
  struct Case {
    std::string tool;
    std::vector<std::string> args;
    std::string script;  // VARMEX_UI_SCRIPT, when not empty
    std::string input;   // standard input, when not empty
    std::string err;
  };
  const std::string notRegular = "not a regular file (a pipe or a device)";
  const std::vector<Case> cases = {
      {"rarwrite", {"a.rar", "y.txt=/dev/zero"}, "", "", "cannot read /dev/zero: " + notRegular},
      {"rarwrite", {"a.rar", "y.txt=" + fifo}, "", "", "cannot read " + fifo + ": " + notRegular},
      {"rarwrite",
       {"a.rar", "y.txt=" + large},
       "",
       "",
       "cannot read " + large + ": larger than 268435456 bytes"},
      {"varmex-transcript",
       {"/dev/zero"},
       "",
       "",
       "/dev/zero is refused: " + notRegular + "; give a pipe as standard input"},
      {"varmex-transcript",
       {},
       "",
       "/dev/zero",
       "standard input is refused: a device, not a file, a pipe or a terminal"},
      {"varmex-setup", {}, "/dev/zero", "", "the script /dev/zero is refused: " + notRegular},
      {"varmex-setup", {}, fifo, "", "the script " + fifo + " is refused: " + notRegular},
      {"varmex-setup",
       {},
       longLine,
       "",
       "the script " + longLine + " is refused: its line 1 is longer than 4096 bytes"},
      {"varmex-setup",
       {},
       "",
       "/dev/zero",
       "standard input is refused: a device, not a terminal, a file or a pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.err);
    e2e::RunOptions o;
    o.program = e2e::BinDir() + "/" + c.tool;
    o.args = c.args;
    if (!c.script.empty()) o.env["VARMEX_UI_SCRIPT"] = c.script;
    if (!c.input.empty()) o.input = c.input;
    o.timeoutSeconds = 30;
    const e2e::Run run = e2e::RunProgram(s, o);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 1);
    const std::string name = c.tool == "varmex-setup" ? "varmex" : c.tool;
    EXPECT_EQ(run.err, name + ": " + c.err + "\n");
    EXPECT_FALSE(e2e::Exists(s.path() + "/a.rar"));
    if (c.tool == "varmex-setup") {
      ASSERT_EQ(run.events.size(), 2u) << run.Transcript();
      EXPECT_EQ(run.events[0].Get("detail"), c.err);
      EXPECT_EQ(run.events[1].raw, "{\"event\":\"exit\",\"status\":1}");
    }
  }

  e2e::RunOptions piped;
  piped.program = e2e::BinDir() + "/varmex-transcript";
  piped.input = s.WriteFile("t.jsonl", "{\"event\":\"exit\",\"status\":0}\n");
  const e2e::Run run = e2e::RunProgram(s, piped);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "== the program ends with exit status 0\n");
}

TEST(UnrarToolE2eTest, TheDemoMediumReadsTheSameWithUnrarFree) {
  const std::string other = "/usr/bin/unrar";
  if (!e2e::Exists(other)) GTEST_SKIP() << "unrar-free is not installed";
  e2e::Scratch s;
  const std::string medium = s.Folder("medium");
  tools::MediumOptions options;
  options.mklnkPath = e2e::BinDir() + "/mklnk";
  tools::WriteMedium(medium, options);
  for (const char* name : tools::kMediumArchives) {
    SCOPED_TRACE(name);
    const std::string ours = s.Folder(std::string("ours/") + name);
    const std::string theirs = s.Folder(std::string("theirs/") + name);
    const e2e::Run mine = Unrar(s, {"x", "-y", medium + "/" + name, ours});
    ASSERT_EQ(mine.status, 0) << mine.err;
    e2e::RunOptions o;
    o.program = other;
    o.args = {"-x", "-f", medium + "/" + name, theirs + "/"};
    o.cwd = theirs;
    const e2e::Run free = e2e::RunProgram(s, o);
    ASSERT_EQ(free.status, 0) << free.out << free.err;
    EXPECT_EQ(Tree(ours), Tree(theirs));
    EXPECT_FALSE(Tree(ours).empty());
  }
}

}  // namespace
}  // namespace varmex
