#include "tools/standins/standins.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "store/block_file_builder.h"

namespace varmex::tools {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class StandinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("standins_test_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "erp");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string In(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// VARMEX_STANDIN_LOG for the runs that follow (empty: no log).
void SetLog(const std::string& path) {
#ifdef _WIN32
  _putenv(("VARMEX_STANDIN_LOG=" + path).c_str());
#else
  setenv("VARMEX_STANDIN_LOG", path.c_str(), 1);
#endif
}

struct Case {
  std::string tool;  // "mklnk" or a migration tool
  std::vector<std::string> args;
  int status;
  std::string out;  // a part of standard output (empty: nothing there)
  std::string err;  // a part of standard error (empty: nothing there)
};

// Every command line a stand-in answers without doing its work, and the work it does.
TEST_F(StandinsTest, CommandLines) {
  const std::string erp = In("erp");
  const std::vector<Case> cases = {
      {"mklnk", {"--help"}, 0, "usage: mklnk -lNAME", ""},
      {"mklnk", {"-h"}, 0, "usage: mklnk", ""},
      {"mklnk", {"-x"}, 2, "", "mklnk: unknown option -x\nusage: mklnk"},
      {"mklnk", {"name"}, 1, "", "mklnk: unexpected argument name\n"},
      {"mklnk", {"-l--help", "-ftarget", "-w" + erp}, 1, "", "usage: mklnk"},
      {"mklnk", {"-la/b", "-ftarget"}, 1, "", "usage: mklnk"},
      {"mklnk", {"-lx.lnk", "-ftarget", "-w" + In("none")}, 2, "", "mklnk: cannot write "},
      {"mklnk", {"-lx.lnk", "-ft", "-w" + erp, "-iicon"}, 0, "", ""},
      {"convfurn", {"--help"}, 0, "usage: convfurn ERPDIR VARMEXDIR\n", ""},
      {"convfurn", {"-h"}, 0, "usage: convfurn", ""},
      {"convfurn", {erp}, 1, "", "usage: convfurn"},
      {"convfurn", {"-x", erp}, 2, "", "convfurn: unknown option -x\n"},
      {"convfurn", {In("none"), erp}, 2, "", "convfurn: cannot write "},
      {"convfurn", {erp, erp}, 0, "", ""},
      {"cuvterti", {erp, "--frob"}, 2, "", "cuvterti: unknown option --frob\n"},
      {"lsort", {"a"}, 1, "", "usage: lsort IN OUT\n"},
      {"fo2", {"-o", "-s", "4000", "-n", "terti.voc", "-d", erp}, 0, "", ""},
      {"fo2", {"-q"}, 2, "", "fo2: unknown option -q\n"},
      {"mkhvoc", {"-s", "-d", "-h", erp, "1", "a.srt", "terti.voc"}, 0, "", ""},
      {"mkhvoc", {"-h"}, 0, "usage: mkhvoc", ""},
  };
  const std::string log = In("standins.log");
  SetLog(log);
  for (const Case& c : cases) {
    std::string line = c.tool;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE(line);
    std::ostringstream out, err;
    const int status =
        c.tool == "mklnk" ? RunMklnk(c.args, out, err) : RunSuiteTool(c.tool, c.args, out, err);
    EXPECT_EQ(status, c.status);
    if (c.out.empty()) {
      EXPECT_EQ(out.str(), "");
    } else {
      EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
    }
    if (c.err.empty()) {
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    }
  }
  SetLog("");
  EXPECT_EQ(Read(dir_ / "erp" / "x.lnk"), "[shortcut]\ntarget=t\nworkdir=" + erp + "\nicon=icon\n");
  const std::vector<uint8_t> partner = store::EmptyBlockFileImage(100);
  EXPECT_EQ(Read(dir_ / "erp" / "terti.dat"), std::string(partner.begin(), partner.end()));
  EXPECT_FALSE(fs::exists(dir_ / "erp" / "--help"));
  // Each run is logged but for the help texts.
  const std::string logged = Read(log);
  EXPECT_NE(logged.find("convfurn " + erp + " " + erp + "\n"), std::string::npos);
  EXPECT_NE(logged.find("mkhvoc -s -d -h " + erp + " 1 a.srt terti.voc\n"), std::string::npos);
  EXPECT_EQ(logged.find("--help"), std::string::npos);
}

}  // namespace
}  // namespace varmex::tools
