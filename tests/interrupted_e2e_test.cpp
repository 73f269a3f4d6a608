// The built varmex-setup killed with SIGKILL at several moments of a migration, then
// started again on the same tree: the second run must leave every file with the records
// of an uninterrupted run (the layout of a file that grew may differ), no temporary file,
// and the old collection as it was. lcalcdev.dat and Prefman.dat start small, so that
// they grow during the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/fixed_text.h"
#include "tests/support/e2e.h"
#include "tools/gencollection/collection.h"

namespace varmex {
namespace {

namespace fs = std::filesystem;

class InterruptedE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = scratch_.Drive('C');
    d_ = scratch_.Drive('D');
    gencollection::CollectionOptions o;
    o.version = 36;
    o.estimates = 1000;
    o.priceBases = 3;
    o.seed = 11;
    const gencollection::Collection c = gencollection::GenerateCollection(o);
    ASSERT_TRUE(gencollection::WriteFiles(c.files, c_ + "/Palunor"));
  }

  // The installed tree as a fresh installation leaves it.
  void FreshTree() {
    fs::remove_all(d_ + "/kedro");
    const std::string varmex = d_ + "/kedro/Varmex";
    const std::string erp = d_ + "/kedro/ERP";
    fs::create_directories(varmex);
    fs::create_directories(erp);
    for (const char* tool : {"dens", "nredisp"})
      e2e::CopyFile(e2e::BinDir() + "/" + tool, varmex + "/" + tool);
    for (const char* tool : {"convfurn", "cuvterti", "lsort", "fo2", "mkhvoc"})
      e2e::CopyFile(e2e::BinDir() + "/" + tool, erp + "/" + tool);
    for (const auto& [name, bytes] : gencollection::FreshFiles(4, 8)) {
      scratch_.WriteFile("drives/D/kedro/Varmex/" + name, std::string(bytes.begin(), bytes.end()));
    }
  }

  e2e::Run Migrate(int killAfterMs = 0) {
    e2e::RunOptions o;
    o.args = {"/prel"};
    o.script =
        "dialog 101\nselect 1002 D\nclick 1\nanswer yes\ndialog 107\nset 1021 C:\\Palunor\nclick "
        "1\n";
    o.env["VARMEX_STANDIN_LOG"] = scratch_.path() + "/standins.log";
    o.killAfterMs = killAfterMs;
    o.timeoutSeconds = 280;
    return e2e::RunSetup(scratch_, o);
  }

  // Each file of the new tree by its name: a block file as its records (kedro-db dump
  // without the places), any other file as its bytes.
  std::map<std::string, std::string> Tree() {
    std::map<std::string, std::string> out;
    for (const std::string& dir : {d_ + "/kedro/Varmex", d_ + "/kedro/ERP"}) {
      for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = io::Lowercase(e.path().filename().string());
        const std::string path = e.path().string();
        if ((e.status().permissions() & fs::perms::owner_exec) != fs::perms::none) continue;
        if (name == "lcalcdev.dat" || name == "prefman.dat" || name == "furnmat.dat" ||
            name == "terti.dat") {
          out[name] = Records(path);
        } else {
          out[name] = e2e::ReadFile(path);
        }
      }
    }
    return out;
  }

  // Every file of the old collection with its bytes and permissions.
  std::map<std::string, std::string> OldCollection() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(c_)) {
      if (!e.is_regular_file()) continue;
      out[e.path().string()] = e2e::ReadFile(e.path().string()) + "/" +
                               std::to_string(static_cast<int>(e.status().permissions()));
    }
    return out;
  }

  std::string Records(const std::string& path) {
    e2e::RunOptions o;
    o.program = e2e::BinDir() + "/kedro-db";
    o.args = {"dump", path};
    const e2e::Run run = e2e::RunProgram(scratch_, o);
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
      const size_t key = line.find(" key ");
      lines.push_back(key == std::string::npos ? line : line.substr(key));
    }
    std::sort(lines.begin(), lines.end());
    std::string joined = "exit " + std::to_string(run.status) + "\n";
    for (const std::string& l : lines) joined += l + "\n";
    return joined;
  }

  e2e::Scratch scratch_;
  std::string c_, d_;
};

TEST_F(InterruptedE2eTest, AKilledMigrationCostsNothingButARerun) {
  const std::map<std::string, std::string> old = OldCollection();
  FreshTree();
  const auto start = std::chrono::steady_clock::now();
  const e2e::Run clean = Migrate();
  const auto cleanMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  ASSERT_EQ(clean.status, 0) << clean.Transcript();
  const std::map<std::string, std::string> want = Tree();
  ASSERT_NE(want.at("prefman.dat").find(" key "), std::string::npos);

  // The later shares are for a machine whose load made the clean run slower than the
  // killed ones: runs that end before their kill are no test of a kill.
  int kills = 0;
  for (const double share : {0.2, 0.4, 0.6, 0.8, 0.1, 0.05, 0.02}) {
    if (share < 0.2 && kills >= 2) break;
    FreshTree();
    const int killAfter = static_cast<int>(static_cast<double>(cleanMs) * share);
    const e2e::Run killed = Migrate(killAfter);
    const std::string context =
        "killed after " + std::to_string(killAfter) + " ms of " + std::to_string(cleanMs);
    // A run that told its end before the kill is a migration done: running it again
    // would be a second migration.
    const std::vector<std::string> told = killed.Messages();
    if (killed.status != 128 + 9 ||
        std::find(told.begin(), told.end(), "Instalare cu succes!") != told.end())
      continue;
    ++kills;
    const e2e::Run again = Migrate();
    ASSERT_EQ(again.status, 0) << context << again.Transcript();
    ASSERT_FALSE(again.Messages().empty()) << context;
    EXPECT_EQ(again.Messages().back(), "Instalare cu succes!") << context;
    const std::map<std::string, std::string> got = Tree();
    for (const auto& [name, content] : want) {
      const auto it = got.find(name);
      EXPECT_TRUE(it != got.end() && it->second == content) << context << ": " << name;
    }
    for (const auto& [name, content] : got) {
      EXPECT_EQ(want.count(name), 1u) << context << ": left behind: " << name;
    }
    EXPECT_TRUE(OldCollection() == old) << context;
  }
  EXPECT_GE(kills, 2);
}

}  // namespace
}  // namespace varmex
