// End-to-end checks of the archive tools: the built unrar on its command lines, and
// the demo medium read by a second, independent reader (Debian's unrar-free, whose
// options differ) with the same result.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/e2e.h"
#include "tools/demo_medium/demo_medium.h"

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
