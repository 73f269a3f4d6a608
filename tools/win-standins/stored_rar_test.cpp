// The stored-entry unpacking tool of the Windows build, run under Wine: the archives of
// the project's own writer and the hostile archives the POSIX tool is tested with,
// answered with the same codes and messages.
#include "tools/win-standins/stored_rar.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tools/rarformat/rar_layout.h"
#include "tools/rarwrite/rar_writer.h"
#include "tools/unrar/hostile_archives.h"

namespace varmex::tools {
namespace {

namespace fs = std::filesystem;

RarEntry File(const std::string& name, const std::string& text) {
  RarEntry e;
  e.name = name;
  e.data.assign(text.begin(), text.end());
  return e;
}

std::vector<RarEntry> Sample() {
  RarEntry folder;
  folder.name = "doc";
  folder.directory = true;
  return {File("a.txt", "alpha"), folder, File("doc/sub/b.txt", "beta"), File("empty.dat", "")};
}

class StoredUnrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() /
            ("varmex-stored-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
               .string();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetFileAttributesA((dir_ + "\\out\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(dir_);
  }
  std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ + "\\" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Every entry under `root` (folders end with '/'), with the contents of files.
  static std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const std::string name = fs::relative(e.path(), root).generic_string();
      out[e.is_directory() ? name + "/" : name] = e.is_directory() ? "" : Read(e.path());
    }
    return out;
  }
  // A destination holding a precious a.txt.
  std::string Destination() {
    const std::string dest = dir_ + "\\out";
    SetFileAttributesA((dest + "\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(dest);
    fs::create_directories(dest);
    std::ofstream(dest + "\\a.txt", std::ios::binary) << "precious original";
    return dest;
  }
  std::string dir_;
};

TEST_F(StoredUnrarTest, UnpacksBothFormatsWithAndWithoutFolders) {
  const std::map<std::string, std::string> flat = {
      {"a.txt", "alpha"}, {"b.txt", "beta"}, {"empty.dat", ""}};
  const std::map<std::string, std::string> folders = {{"a.txt", "alpha"},
                                                      {"doc/", ""},
                                                      {"doc/sub/", ""},
                                                      {"doc/sub/b.txt", "beta"},
                                                      {"empty.dat", ""}};
  for (const std::vector<uint8_t>& bytes :
       {BuildRarArchive(Sample()), BuildRar5Archive(Sample())}) {
    const std::string a = Put("a.rar", bytes);
    EXPECT_EQ(RunStoredUnrar({"t", a}).exitCode, kUnrarOk);
    EXPECT_EQ(RunStoredUnrar({"T", a}).exitCode, kUnrarOk);
    std::string dest = Destination();
    ASSERT_EQ(RunStoredUnrar({"e", "-y", a, dest}).reason, "");
    EXPECT_EQ(Tree(dest), flat);
    dest = Destination();
    ASSERT_EQ(RunStoredUnrar({"x", "-y", a, dest}).reason, "");
    EXPECT_EQ(Tree(dest), folders);
    // A destination that does not exist yet is made.
    ASSERT_EQ(RunStoredUnrar({"e", "-y", a, dir_ + "\\new\\deeper"}).exitCode, kUnrarOk);
    EXPECT_EQ(Tree(dir_ + "\\new\\deeper"), flat);
  }
}

TEST_F(StoredUnrarTest, EverySingleDamagedByteAndEveryCutIsCaught) {
  const std::vector<RarEntry> entries = {File("a.txt", "alpha"), File("dir/b.txt", "beta")};
  for (const std::vector<uint8_t>& good : {BuildRarArchive(entries), BuildRar5Archive(entries)}) {
    for (size_t i = 0; i < good.size(); ++i) {
      std::vector<uint8_t> bad = good;
      bad[i] ^= 0x40;
      EXPECT_NE(RunStoredUnrar({"t", Put("flip.rar", bad)}).exitCode, kUnrarOk) << "byte " << i;
    }
    for (size_t n = 0; n < good.size(); ++n) {
      const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(n));
      EXPECT_NE(RunStoredUnrar({"t", Put("cut.rar", cut)}).exitCode, kUnrarOk) << "cut at " << n;
    }
  }
}

// The same table as the POSIX tool's: one answer from "t", "e" and "x", and the
// destination's precious a.txt as it was.
TEST_F(StoredUnrarTest, HostileArchivesGetTheAnswersOfThePosixTool) {
  const std::map<std::string, std::string> before = {{"a.txt", "precious original"}};
  for (const HostileArchive& hostile : HostileArchives()) {
    const std::string path = Put(hostile.label + ".rar", hostile.bytes);
    for (const char* command : {"t", "e", "x"}) {
      SCOPED_TRACE(hostile.label + " " + command);
      const std::string dest = Destination();
      const UnrarOutcome r = command == std::string("t")
                                 ? RunStoredUnrar({command, path})
                                 : RunStoredUnrar({command, "-y", path, dest});
      EXPECT_EQ(r.exitCode, hostile.exitCode);
      EXPECT_EQ(r.reason, ExpectedReason(hostile, path));
      EXPECT_EQ(Tree(dest), before);
    }
  }
  EXPECT_FALSE(fs::exists(dir_ + "\\a.txt"));
}

TEST_F(StoredUnrarTest, WhatCannotBeOpenedOrWrittenIsSaidAsThePosixToolSaysIt) {
  const std::string a = Put("a.rar", BuildRarArchive(std::vector<RarEntry>{File("a.txt", "new")}));
  EXPECT_EQ(RunStoredUnrar({"t", dir_ + "\\none.rar"}).reason,
            "cannot open " + dir_ + "\\none.rar: No such file or directory");
  EXPECT_EQ(RunStoredUnrar({"t", dir_}).reason, "cannot open " + dir_ + ": is a folder");
  EXPECT_EQ(RunStoredUnrar({"t", "NUL"}).reason, "cannot open NUL: not a regular file");

  // A read-only file and a folder in the way are left as they are, with no temporary
  // file beside them.
  std::string dest = Destination();
  SetFileAttributesA((dest + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  UnrarOutcome r = RunStoredUnrar({"e", "-y", a, dest});
  EXPECT_EQ(r.exitCode, kUnrarWriteFailed);
  EXPECT_EQ(r.reason, "cannot write " + dest + "\\a.txt: Permission denied");
  EXPECT_EQ(Tree(dest), (std::map<std::string, std::string>{{"a.txt", "precious original"}}));
  dest = Destination();
  fs::remove(dest + "\\a.txt");
  fs::create_directories(dest + "\\A.TXT");
  r = RunStoredUnrar({"e", "-y", a, dest});
  EXPECT_EQ(r.reason, "cannot write " + dest + "\\a.txt: a folder of that name exists");
  EXPECT_EQ(Tree(dest), (std::map<std::string, std::string>{{"A.TXT/", ""}}));

  // Compressed entries (method 0x33 in a resealed header) are beyond this tool.
  std::vector<uint8_t> packed = BuildRarArchive(std::vector<RarEntry>{File("a.txt", "alpha")});
  const std::span<uint8_t> header = std::span<uint8_t>(packed).subspan(
      sizeof rar::kMarker + rar::kArchiveHeaderSize, rar::kFileHeaderSize + 5);
  header[rar::kFileMethodAt] = 0x33;
  rar::SealClassicHeader(header);
  r = RunStoredUnrar({"t", Put("packed.rar", packed)});
  EXPECT_EQ(r.exitCode, kUnrarNotAnArchive);
  EXPECT_EQ(r.reason, "refused entry a.txt: compressed");
}

TEST_F(StoredUnrarTest, BadCommandLines) {
  const std::string a = Put("a.rar", BuildRarArchive(Sample()));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"t"}, {"l", a}, {"e", "-q", a, dir_}, {"x", "-y", a, "--help"}, {"--help"}}) {
    EXPECT_EQ(RunStoredUnrar(args).exitCode, kUnrarUsage) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace varmex::tools
