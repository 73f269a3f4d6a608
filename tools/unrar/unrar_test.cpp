#include "tools/unrar/unrar.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/rarwrite/rar_writer.h"

namespace varmex::tools {
namespace {

namespace fs = std::filesystem;

class UnrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/unrar_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  static RarEntry File(const std::string& name, const std::string& text, uint32_t mode = 0) {
    RarEntry e;
    e.name = name;
    e.data.assign(text.begin(), text.end());
    e.mode = mode;
    return e;
  }

  std::string Write(const std::string& name, const std::vector<RarEntry>& entries) {
    const std::vector<uint8_t> bytes = BuildRarArchive(entries);
    return WriteBytes(name, bytes);
  }
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<RarEntry> Sample() {
    return {File("top.txt", "top"), File("sub/inner.txt", "inner"),
            File("sub/deep/tool", "run", 0755)};
  }

  std::string dir_;
};

TEST_F(UnrarTest, TestsASoundArchive) {
  const std::string a = Write("a.rar", Sample());
  const UnrarOutcome r = RunUnrar({"t", a});
  EXPECT_EQ(r.exitCode, kUnrarOk) << r.reason;
  EXPECT_TRUE(r.reason.empty());
}

TEST_F(UnrarTest, ExtractFlatDropsFoldersAndKeepsExecutePermission) {
  const std::string a = Write("a.rar", Sample());
  const std::string dest = dir_ + "/out";
  ASSERT_EQ(RunUnrar({"e", "-y", a, dest}).exitCode, kUnrarOk);
  EXPECT_EQ(Read(dest + "/top.txt"), "top");
  EXPECT_EQ(Read(dest + "/inner.txt"), "inner");
  EXPECT_EQ(Read(dest + "/tool"), "run");
  EXPECT_FALSE(fs::exists(dest + "/sub"));
  EXPECT_EQ(access((dest + "/tool").c_str(), X_OK), 0);
}

TEST_F(UnrarTest, ExtractWithFoldersKeepsThem) {
  const std::string a = Write("a.rar", Sample());
  const std::string dest = dir_ + "/out/";
  ASSERT_EQ(RunUnrar({"x", "-y", a, dest}).exitCode, kUnrarOk);
  EXPECT_EQ(Read(dir_ + "/out/top.txt"), "top");
  EXPECT_EQ(Read(dir_ + "/out/sub/inner.txt"), "inner");
  EXPECT_EQ(Read(dir_ + "/out/sub/deep/tool"), "run");
}

TEST_F(UnrarTest, OverwritesExistingFilesWhateverTheirCase) {
  const std::string dest = dir_ + "/out";
  fs::create_directories(dest + "/SUB");
  std::ofstream(dest + "/TOP.TXT") << "old and longer";
  std::ofstream(dest + "/SUB/Inner.txt") << "old";
  const std::string a =
      Write("a.rar", {File("top.txt", "new"), File("sub/inner.txt", "new inner")});
  ASSERT_EQ(RunUnrar({"x", "-y", a, dest}).exitCode, kUnrarOk);
  EXPECT_EQ(Read(dest + "/TOP.TXT"), "new");
  EXPECT_EQ(Read(dest + "/SUB/Inner.txt"), "new inner");
  EXPECT_FALSE(fs::exists(dest + "/top.txt") &&
               !fs::equivalent(dest + "/top.txt", dest + "/TOP.TXT"));
  EXPECT_FALSE(fs::exists(dest + "/sub"));
}

TEST_F(UnrarTest, ADamagedArchiveFailsTheTestAndTheUnpacking) {
  std::vector<uint8_t> bytes = BuildRarArchive(Sample());
  bytes[static_cast<size_t>(DataOffsetOfEntry(bytes, 1))] ^= 0x40;
  const std::string a = WriteBytes("bad.rar", bytes);
  const UnrarOutcome t = RunUnrar({"t", a});
  EXPECT_EQ(t.exitCode, kUnrarDamaged);
  EXPECT_NE(t.reason.find("inner.txt"), std::string::npos) << t.reason;
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/out"}).exitCode, kUnrarDamaged);

  // Cut short in the middle of the last entry's data.
  std::vector<uint8_t> cut = BuildRarArchive(Sample());
  cut.resize(static_cast<size_t>(DataOffsetOfEntry(cut, 2)) + 1);
  EXPECT_EQ(RunUnrar({"t", WriteBytes("cut.rar", cut)}).exitCode, kUnrarDamaged);
}

TEST_F(UnrarTest, EverySingleDamagedByteAndEveryCutIsCaught) {
  const std::vector<RarEntry> entries = {File("a.txt", "alpha"), File("dir/b.txt", "beta")};
  const std::vector<uint8_t> sound = BuildRarArchive(entries);
  for (size_t at = 0; at < sound.size(); ++at) {
    std::vector<uint8_t> bytes = sound;
    bytes[at] ^= 0x04;
    const UnrarOutcome r = RunUnrar({"t", WriteBytes("flip.rar", bytes)});
    EXPECT_NE(r.exitCode, kUnrarOk) << "byte " << at << " changed unnoticed";
  }
  // Cut anywhere before the closing block: never a crash, never taken for sound. (A
  // cut right after an entry's data reads as an archive without the optional closing
  // block, as older archivers wrote them.)
  const size_t afterFirst = static_cast<size_t>(DataOffsetOfEntry(sound, 0)) + 5;
  for (size_t keep = 0; keep + 7 < sound.size(); ++keep) {
    if (keep == afterFirst) continue;
    const std::vector<uint8_t> bytes(sound.begin(), sound.begin() + static_cast<ptrdiff_t>(keep));
    EXPECT_NE(RunUnrar({"t", WriteBytes("cut.rar", bytes)}).exitCode, kUnrarOk)
        << "cut at " << keep;
  }
}

TEST_F(UnrarTest, MissingOrForeignArchivesAreReported) {
  EXPECT_EQ(RunUnrar({"t", dir_ + "/none.rar"}).exitCode, kUnrarOpenFailed);
  EXPECT_EQ(RunUnrar({"t", dir_}).exitCode, kUnrarOpenFailed);
  std::ofstream(dir_ + "/text.rar") << "this is not an archive at all, just some words";
  EXPECT_EQ(RunUnrar({"t", dir_ + "/text.rar"}).exitCode, kUnrarNotAnArchive);
  std::ofstream(dir_ + "/empty.rar");
  EXPECT_NE(RunUnrar({"t", dir_ + "/empty.rar"}).exitCode, kUnrarOk);
}

TEST_F(UnrarTest, EntriesThatWouldEscapeTheDestinationAreRefused) {
  const std::string dest = dir_ + "/out";
  for (const char* name : {"../escaped.txt", "sub/../../escaped.txt", "/tmp/escaped.txt",
                           "C:\\escaped.txt", "..\\escaped.txt"}) {
    SCOPED_TRACE(name);
    const std::string a = Write("evil.rar", {File(name, "x")});
    EXPECT_EQ(RunUnrar({"x", "-y", a, dest}).exitCode, kUnrarUnsafeEntry);
    EXPECT_FALSE(fs::exists(dir_ + "/escaped.txt"));
  }
  // Without folders the same entries land inside the destination under their last name.
  const std::string a = Write("evil.rar", {File("../escaped.txt", "x")});
  EXPECT_EQ(RunUnrar({"e", "-y", a, dest}).exitCode, kUnrarOk);
  EXPECT_TRUE(fs::exists(dest + "/escaped.txt"));
  EXPECT_FALSE(fs::exists(dir_ + "/escaped.txt"));
}

TEST_F(UnrarTest, AnUnwritableDestinationIsAWriteFailure) {
  const std::string a = Write("a.rar", Sample());
  std::ofstream(dir_ + "/plain") << "a file";
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/plain"}).exitCode, kUnrarWriteFailed);
  fs::create_directories(dir_ + "/out/top.txt");  // a folder where a file goes
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/out"}).exitCode, kUnrarWriteFailed);
  if (geteuid() != 0) {  // root writes anywhere
    fs::create_directories(dir_ + "/locked");
    fs::permissions(dir_ + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/locked"}).exitCode, kUnrarWriteFailed);
  }
}

TEST_F(UnrarTest, BadCommandLines) {
  const std::string a = Write("a.rar", Sample());
  EXPECT_EQ(RunUnrar({}).exitCode, kUnrarUsage);
  EXPECT_EQ(RunUnrar({"l", a}).exitCode, kUnrarUsage);
  EXPECT_EQ(RunUnrar({"t"}).exitCode, kUnrarUsage);
  EXPECT_EQ(RunUnrar({"t", a, "extra"}).exitCode, kUnrarUsage);
  EXPECT_EQ(RunUnrar({"e", "-q", a, dir_}).exitCode, kUnrarUsage);
  EXPECT_EQ(RunUnrar({"T", a}).exitCode, kUnrarOk);
}

}  // namespace
}  // namespace varmex::tools
