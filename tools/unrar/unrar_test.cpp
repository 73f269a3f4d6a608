#include "tools/unrar/unrar.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tools/rarwrite/rar_writer.h"
#include "tools/unrar/hostile_archives.h"

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
    return WriteBytes(name, BuildRarArchive(entries));
  }
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Every entry under `root` (folders end with '/'), with the contents of files.
  static std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const std::string name = fs::relative(e.path(), root).string();
      out[e.is_directory() ? name + "/" : name] = e.is_directory() ? "" : Read(e.path());
    }
    return out;
  }

  std::vector<RarEntry> Sample() {
    return {File("top.txt", "top"), File("sub/inner.txt", "inner"),
            File("sub/deep/tool", "run", 0755)};
  }

  std::string dir_;
};

TEST_F(UnrarTest, TestsASoundArchive) {
  for (const std::vector<uint8_t>& bytes :
       {BuildRarArchive(Sample()), BuildRar5Archive(Sample())}) {
    const UnrarOutcome r = RunUnrar({"t", WriteBytes("a.rar", bytes)});
    EXPECT_EQ(r.exitCode, kUnrarOk) << r.reason;
    EXPECT_TRUE(r.reason.empty());
  }
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

TEST_F(UnrarTest, ExtractWithFoldersKeepsThemInBothFormats) {
  for (const std::vector<uint8_t>& bytes :
       {BuildRarArchive(Sample()), BuildRar5Archive(Sample())}) {
    fs::remove_all(dir_ + "/out");
    const std::string a = WriteBytes("a.rar", bytes);
    ASSERT_EQ(RunUnrar({"x", "-y", a, dir_ + "/out/"}).exitCode, kUnrarOk);
    const std::map<std::string, std::string> expected = {{"top.txt", "top"},
                                                         {"sub/", ""},
                                                         {"sub/inner.txt", "inner"},
                                                         {"sub/deep/", ""},
                                                         {"sub/deep/tool", "run"}};
    EXPECT_EQ(Tree(dir_ + "/out"), expected);
  }
}

TEST_F(UnrarTest, OverwritesExistingFilesWhateverTheirCase) {
  const std::string dest = dir_ + "/out";
  fs::create_directories(dest + "/SUB");
  std::ofstream(dest + "/TOP.TXT") << "old and longer";
  std::ofstream(dest + "/SUB/Inner.txt") << "old";
  const std::string a =
      Write("a.rar", {File("top.txt", "new"), File("sub/inner.txt", "new inner")});
  ASSERT_EQ(RunUnrar({"x", "-y", a, dest}).exitCode, kUnrarOk);
  const std::map<std::string, std::string> expected = {
      {"TOP.TXT", "new"}, {"SUB/", ""}, {"SUB/Inner.txt", "new inner"}};
  EXPECT_EQ(Tree(dest), expected);
}

TEST_F(UnrarTest, ADamagedArchiveFailsTheTestAndTheUnpacking) {
  std::vector<uint8_t> bytes = BuildRarArchive(Sample());
  bytes[static_cast<size_t>(DataOffsetOfEntry(bytes, 1))] ^= 0x40;
  const std::string a = WriteBytes("bad.rar", bytes);
  const UnrarOutcome t = RunUnrar({"t", a});
  EXPECT_EQ(t.exitCode, kUnrarDamaged);
  EXPECT_EQ(t.reason, "damaged entry sub/inner.txt: checksum error");
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/out"}).exitCode, kUnrarDamaged);
  // The sound entry before it was unpacked; the damaged one left nothing behind.
  const std::map<std::string, std::string> expected = {{"top.txt", "top"}};
  EXPECT_EQ(Tree(dir_ + "/out"), expected);
}

TEST_F(UnrarTest, EverySingleDamagedByteAndEveryCutIsCaught) {
  const std::vector<RarEntry> entries = {File("a.txt", "alpha"), File("dir/b.txt", "beta")};
  for (const std::vector<uint8_t>& sound : {BuildRarArchive(entries), BuildRar5Archive(entries)}) {
    for (size_t at = 0; at < sound.size(); ++at) {
      std::vector<uint8_t> bytes = sound;
      bytes[at] ^= 0x04;
      const UnrarOutcome r = RunUnrar({"t", WriteBytes("flip.rar", bytes)});
      EXPECT_NE(r.exitCode, kUnrarOk) << "byte " << at << " changed unnoticed";
    }
    // A cut anywhere, even right after an entry, loses the closing block: never sound.
    for (size_t keep = 0; keep < sound.size(); ++keep) {
      const std::vector<uint8_t> bytes(sound.begin(), sound.begin() + static_cast<ptrdiff_t>(keep));
      EXPECT_NE(RunUnrar({"t", WriteBytes("cut.rar", bytes)}).exitCode, kUnrarOk)
          << "cut at " << keep;
    }
  }
}

// Every hostile archive gets the same answer from "t", "e" and "x", and a destination
// that holds a precious "a.txt" comes out as it was: nothing replaced, nothing added.
TEST_F(UnrarTest, HostileArchivesGetOneAnswerFromEveryCommandAndChangeNothing) {
  const std::string dest = dir_ + "/out";
  const std::map<std::string, std::string> before = {{"a.txt", "precious original"}};
  for (const HostileArchive& hostile : HostileArchives()) {
    const std::string path = WriteBytes(hostile.label + ".rar", hostile.bytes);
    for (const char* command : {"t", "e", "x"}) {
      SCOPED_TRACE(hostile.label + " " + command);
      fs::remove_all(dest);
      fs::create_directories(dest);
      std::ofstream(dest + "/a.txt") << "precious original";
      const UnrarOutcome r = command == std::string("t") ? RunUnrar({command, path})
                                                         : RunUnrar({command, "-y", path, dest});
      EXPECT_EQ(r.exitCode, hostile.exitCode);
      EXPECT_EQ(r.reason, ExpectedReason(hostile, path));
      EXPECT_EQ(Tree(dest), before);
    }
    EXPECT_FALSE(fs::exists(dir_ + "/a.txt"));
  }
}

TEST_F(UnrarTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const std::string dest = dir_ + "/out";
  fs::create_directories(dest);
  std::ofstream(dest + "/a.txt") << "precious original";
  const std::string a = Write("a.rar", {File("a.txt", std::string(100000, 'n'))});
  const std::map<std::string, std::string> before = {{"a.txt", "precious original"}};

  // A file size limit stands in for a full disk: the write fails part way.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{50000, 50000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const UnrarOutcome r = RunUnrar({"e", "-y", a, dest});
    _exit(r.exitCode == kUnrarWriteFailed &&
                  r.reason == "cannot write " + dest + "/a.txt: File too large"
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Tree(dest), before);

  // A read-only file is left as it is, also for root.
  fs::permissions(dest + "/a.txt", fs::perms::owner_read);
  const UnrarOutcome r = RunUnrar({"e", "-y", a, dest});
  EXPECT_EQ(r.exitCode, kUnrarWriteFailed);
  EXPECT_EQ(r.reason, "cannot write " + dest + "/a.txt: Permission denied");
  EXPECT_EQ(Tree(dest), before);
}

TEST_F(UnrarTest, ArchivesThatAreNoRegularFileAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir_ + "/pipe.rar").c_str(), 0644), 0);
  alarm(20);  // a wait on the pipe fails the test instead of hanging it
  for (const std::string& path : {dir_ + "/pipe.rar", std::string("/dev/null")}) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"t", path}, {"e", "-y", path, dir_ + "/out"}, {"x", "-y", path, dir_ + "/out"}}) {
      const UnrarOutcome r = RunUnrar(args);
      EXPECT_EQ(r.exitCode, kUnrarOpenFailed);
      EXPECT_EQ(r.reason, "cannot open " + path + ": not a regular file");
    }
  }
  alarm(0);
  EXPECT_FALSE(fs::exists(dir_ + "/out"));
  EXPECT_EQ(RunUnrar({"t", dir_ + "/none.rar"}).reason,
            "cannot open " + dir_ + "/none.rar: No such file or directory");
  EXPECT_EQ(RunUnrar({"t", dir_}).reason, "cannot open " + dir_ + ": is a folder");
}

TEST_F(UnrarTest, AnUnwritableDestinationIsAWriteFailure) {
  const std::string a = Write("a.rar", Sample());
  std::ofstream(dir_ + "/plain") << "a file";
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/plain"}).exitCode, kUnrarWriteFailed);
  fs::create_directories(dir_ + "/out/top.txt");  // a folder where a file goes
  EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/out"}).reason,
            "cannot write " + dir_ + "/out/top.txt: a folder of that name exists");
  if (geteuid() != 0) {  // root writes anywhere
    fs::create_directories(dir_ + "/locked");
    fs::permissions(dir_ + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(RunUnrar({"e", "-y", a, dir_ + "/locked"}).exitCode, kUnrarWriteFailed);
  }
}

TEST_F(UnrarTest, BadCommandLinesNeverNameAFileToCreate) {
  const std::string a = Write("a.rar", Sample());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"l", a},
                                             {"t"},
                                             {"t", a, "extra"},
                                             {"e", "-q", a, dir_},
                                             {"--help"},
                                             {"-h"},
                                             {"x", "-y", a, "--help"},
                                             {"x", "-y", a, "-"},
                                             {"e", "-y", "--", a}}) {
    EXPECT_EQ(RunUnrar(args).exitCode, kUnrarUsage) << ::testing::PrintToString(args);
  }
  EXPECT_FALSE(fs::exists("--help"));
  EXPECT_EQ(RunUnrar({"T", a}).exitCode, kUnrarOk);
  EXPECT_EQ(RunUnrar({"x", a, "-Y", dir_ + "/out"}).exitCode, kUnrarOk);
}

}  // namespace
}  // namespace varmex::tools
