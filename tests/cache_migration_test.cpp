// A whole migration with the block cache off, with it on, and with a cache of a few
// blocks that writes back all the time: every file of the new tree comes out the same,
// byte for byte, and so do the messages.
#include <gtest/gtest.h>

#include "io/block_cache.h"
#include "tests/fault_support.h"

namespace varmex::fault {
namespace {

struct Outcome {
  std::map<std::string, Bytes> files;  // new-tree path -> bytes (absent files left out)
  std::vector<std::string> messages;
};

// Every file a migration may write: the old collection's names, the fresh files and the
// partner files, in the new tree.
std::vector<std::string> NewTreePaths(const World& w) {
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : w.old()) {
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    paths.push_back(std::string(kNewData) + name);
    paths.push_back(std::string(kNewErp) + name);
  }
  for (const auto& [name, bytes] : gencollection::FreshFiles(1, 1))
    paths.push_back(std::string(kNewData) + name);
  return paths;
}

Outcome Migrate(int version, size_t cacheBudget) {
  io::SetCacheBudget(cacheBudget);
  Outcome out;
  {
    World w(version);
    EXPECT_TRUE(w.Migrate());
    ExpectOrderlyEnd(w, "budget " + std::to_string(cacheBudget));
    for (const std::string& path : NewTreePaths(w)) {
      if (const Bytes* bytes = w.os.Bytes(path)) out.files[path] = *bytes;
    }
    for (const auto& m : w.os.messages) out.messages.push_back(m.text);
  }
  io::SetCacheBudget(io::kDefaultCacheBudget);
  return out;
}

TEST(CacheMigration, EveryFileAsWithoutTheCache) {
  for (int version : {36, 35}) {
    const Outcome straight = Migrate(version, 0);
    ASSERT_GT(straight.files.size(), 20u);
    for (size_t budget : {io::kDefaultCacheBudget, size_t{6 * 1024}}) {
      const Outcome cached = Migrate(version, budget);
      EXPECT_EQ(cached.messages, straight.messages) << version << " " << budget;
      ASSERT_EQ(cached.files.size(), straight.files.size()) << version << " " << budget;
      for (const auto& [path, bytes] : straight.files) {
        EXPECT_TRUE(cached.files.at(path) == bytes) << version << " " << budget << ": " << path;
      }
    }
  }
}

}  // namespace
}  // namespace varmex::fault
