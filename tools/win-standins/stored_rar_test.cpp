// The stored-archive reader against archives from the project's own writer.
#include "tools/win-standins/stored_rar.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/rarwrite/rar_writer.h"

namespace varmex::tools {
namespace {

RarEntry File(const std::string& name, const std::string& text) {
  RarEntry e;
  e.name = name;
  e.data.assign(text.begin(), text.end());
  return e;
}

std::vector<uint8_t> Sample() {
  RarEntry folder;
  folder.name = "doc";
  folder.directory = true;
  const std::vector<RarEntry> entries = {File("a.txt", "alpha"), folder,
                                         File("doc/sub/b.txt", "beta"), File("empty.dat", "")};
  return BuildRarArchive(entries);
}

TEST(StoredRar, ReadsEveryEntryWithItsData) {
  const StoredArchive a = ParseStoredRar(Sample());
  ASSERT_EQ(a.status, kStoredRarOk) << a.reason;
  ASSERT_EQ(a.entries.size(), 4u);
  EXPECT_EQ(a.entries[0].name, "a.txt");
  EXPECT_EQ(std::string(a.entries[0].data.begin(), a.entries[0].data.end()), "alpha");
  EXPECT_TRUE(a.entries[1].directory);
  EXPECT_EQ(a.entries[2].name, "doc\\sub\\b.txt");
  EXPECT_TRUE(a.entries[3].data.empty());
}

TEST(StoredRar, FindsDamageAnywhere) {
  const std::vector<uint8_t> good = Sample();
  // A flipped data byte breaks that entry's CRC.
  std::vector<uint8_t> bad = good;
  bad[static_cast<size_t>(DataOffsetOfEntry(bad, 2))] ^= 1;
  EXPECT_EQ(ParseStoredRar(bad).status, kStoredRarDamaged);
  // Every single-byte change after the marker, and every cut, is caught or harmless:
  // the reader never accepts different contents and never reads past the end.
  for (size_t i = 7; i < good.size(); ++i) {
    bad = good;
    bad[i] ^= 0x40;
    const StoredArchive a = ParseStoredRar(bad);
    EXPECT_NE(a.status, kStoredRarOk) << "byte " << i;
  }
  for (size_t n = 0; n < good.size() - 7; ++n) {
    const StoredArchive a = ParseStoredRar(std::span<const uint8_t>(good.data(), n));
    EXPECT_NE(a.status, kStoredRarOk) << "cut at " << n;
  }
}

TEST(StoredRar, RefusesWhatItCannotReadFaithfully) {
  EXPECT_EQ(ParseStoredRar(std::vector<uint8_t>{'P', 'K', 3, 4}).status, kStoredRarUnsupported);
  // A compressed entry (method 0x33) with a resealed header.
  std::vector<uint8_t> packed = BuildRarArchive(std::vector<RarEntry>{File("a.txt", "alpha")});
  const size_t header = 7 + 13;
  packed[header + 25] = 0x33;
  const size_t size = packed[header + 5] | (packed[header + 6] << 8);
  const uint32_t crc = Crc32(std::span<const uint8_t>(packed.data() + header + 2, size - 2));
  packed[header] = static_cast<uint8_t>(crc & 0xff);
  packed[header + 1] = static_cast<uint8_t>((crc >> 8) & 0xff);
  EXPECT_EQ(ParseStoredRar(packed).status, kStoredRarUnsupported);
}

class StoredUnrarRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("varmex-stored-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "out");
    Put("a.rar", Sample());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string S(const std::filesystem::path& p) { return p.string(); }
  std::filesystem::path dir_;
};

TEST_F(StoredUnrarRun, CommandsOfTheSetupProgram) {
  EXPECT_EQ(RunStoredUnrar({"t", S(dir_ / "a.rar")}), kStoredRarOk);
  EXPECT_EQ(RunStoredUnrar({"T", S(dir_ / "a.rar")}), kStoredRarOk);
  EXPECT_EQ(RunStoredUnrar({"t", S(dir_ / "none.rar")}), kStoredRarOpenFailed);
  EXPECT_EQ(RunStoredUnrar({"t"}), kStoredRarUsage);
  EXPECT_EQ(RunStoredUnrar({"e", S(dir_ / "a.rar"), S(dir_ / "out")}), kStoredRarUsage);

  // "e" drops the folders.
  ASSERT_EQ(RunStoredUnrar({"e", "-y", S(dir_ / "a.rar"), S(dir_ / "out")}), kStoredRarOk);
  EXPECT_EQ(Read(dir_ / "out" / "b.txt"), "beta");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "doc"));
  // "x" keeps them, and overwrites existing files.
  std::ofstream(dir_ / "out" / "a.txt") << "old contents, longer";
  ASSERT_EQ(RunStoredUnrar({"x", "-y", S(dir_ / "a.rar"), S(dir_ / "out")}), kStoredRarOk);
  EXPECT_EQ(Read(dir_ / "out" / "doc" / "sub" / "b.txt"), "beta");
  EXPECT_EQ(Read(dir_ / "out" / "a.txt"), "alpha");
  EXPECT_EQ(RunStoredUnrar({"e", "-y", S(dir_ / "a.rar"), S(dir_ / "missing")}),
            kStoredRarWriteFailed);
}

TEST_F(StoredUnrarRun, EntriesNeverLeaveTheDestination) {
  Put("evil.rar", BuildRarArchive(std::vector<RarEntry>{File("../escape.txt", "x")}));
  EXPECT_EQ(RunStoredUnrar({"x", "-y", S(dir_ / "evil.rar"), S(dir_ / "out")}), kStoredRarUnsafe);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "escape.txt"));
  Put("drive.rar", BuildRarArchive(std::vector<RarEntry>{File("C:evil.txt", "x")}));
  EXPECT_EQ(RunStoredUnrar({"e", "-y", S(dir_ / "drive.rar"), S(dir_ / "out")}), kStoredRarUnsafe);
}

}  // namespace
}  // namespace varmex::tools
