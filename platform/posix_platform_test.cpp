#include "platform/posix_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "installer/runner.h"
#include "platform/posix_process.h"

namespace varmex::platform {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteScript(const fs::path& p, const std::string& body) {
  WriteFile(p, "#!/bin/sh\n" + body);
  fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// A scratch folder with a drives folder: d (directory), E: (link to a directory),
// f (a plain file: not a drive).
class PosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varmex-posix-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directories(root_ / "drives" / "d");
    fs::create_directories(root_ / "elsewhere");
    fs::create_directory_symlink(root_ / "elsewhere", root_ / "drives" / "E:");
    WriteFile(root_ / "drives" / "f", "not a drive");
    setup_ = posix::LoadDrives((root_ / "drives").c_str(), "e=cdrom, D=remote");
    os_ = std::make_unique<PosixPlatform>(setup_.table);
    oldCwd_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(oldCwd_);
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  fs::path D() const { return root_ / "drives" / "d"; }

  fs::path root_;
  fs::path oldCwd_;
  posix::DriveSetup setup_;
  std::unique_ptr<PosixPlatform> os_;
};

TEST_F(PosixTest, DrivesAndTheirTypes) {
  EXPECT_TRUE(setup_.problem.empty()) << setup_.problem;
  EXPECT_EQ(os_->GetDriveType("D:\\"), kDriveRemote);
  EXPECT_EQ(os_->GetDriveType("e:\\"), kDriveCdrom);
  EXPECT_EQ(os_->GetDriveType("F:\\"), kDriveNoRootDir);
  EXPECT_EQ(os_->GetDriveType("C:\\"), kDriveNoRootDir);

  const posix::DriveSetup plain = posix::LoadDrives((root_ / "drives").c_str(), nullptr);
  EXPECT_EQ(PosixPlatform(plain.table).GetDriveType("D:\\"), kDriveFixed);

  const posix::DriveSetup unset = posix::LoadDrives(nullptr, nullptr);
  EXPECT_EQ(unset.table.Root('C'), std::optional<std::string>("/"));
  EXPECT_FALSE(unset.table.Root('D'));

  const posix::DriveSetup nowhere = posix::LoadDrives((root_ / "missing").c_str(), "Q=floppy");
  EXPECT_FALSE(nowhere.problem.empty());
  EXPECT_EQ(nowhere.problem.find('\n'), std::string::npos);
  EXPECT_EQ(PosixPlatform(nowhere.table).GetDriveType("C:\\"), kDriveNoRootDir);

  EXPECT_FALSE(posix::LoadDrives((root_ / "drives").c_str(), "D=floppy").problem.empty());
}

// A drive whose root leaves no room under the system's path limit for the program's
// longest paths is refused when the drives are read; one byte shorter is taken.
TEST_F(PosixTest, ADriveRootTooLongForTheProgramsPathsIsRefused) {
  for (const size_t length : {posix::kLongestDriveRoot, posix::kLongestDriveRoot + 1}) {
    SCOPED_TRACE(length);
    // VARMEX_DRIVES of length - 2 bytes, so that its drive "d" has a root of `length`.
    std::string drives = (root_ / "deep").string();
    while (drives.size() < length - 2) {
      drives += "/" + std::string(std::min<size_t>(200, length - 2 - drives.size() - 1), 'p');
    }
    fs::create_directories(fs::path(drives) / "d");
    const posix::DriveSetup setup = posix::LoadDrives(drives.c_str(), nullptr);
    if (length == posix::kLongestDriveRoot) {
      EXPECT_TRUE(setup.problem.empty()) << setup.problem;
      EXPECT_EQ(setup.table.Root('D')->size(), length);
    } else {
      EXPECT_EQ(setup.problem,
                "VARMEX_DRIVES: the root of drive D is 3830 bytes long; the "
                "program's paths need a root of at most 3829 bytes");
      EXPECT_FALSE(setup.table.Root('D'));
    }
    fs::remove_all(root_ / "deep");
  }
}

TEST_F(PosixTest, NamesMatchWithoutRegardToCase) {
  fs::create_directories(D() / "Kedro" / "Varmex");
  WriteFile(D() / "Kedro" / "Varmex" / "DEV.DAT", "abc");
  EXPECT_EQ(os_->Resolve("d:\\KEDRO\\varmex\\dev.dat"),
            (D() / "Kedro" / "Varmex" / "DEV.DAT").string());
  EXPECT_EQ(os_->Resolve("D:/kedro/VARMEX/Dev.Dat"),
            (D() / "Kedro" / "Varmex" / "DEV.DAT").string());
  // A new name keeps the spelling given, under the existing spelling of its parents.
  EXPECT_EQ(os_->Resolve("D:\\KEDRO\\New\\File.txt"),
            (D() / "Kedro" / "New" / "File.txt").string());
  // Through the link drive, and ".." stays inside the drive.
  EXPECT_EQ(os_->Resolve("E:\\..\\..\\x"), (root_ / "drives" / "E:" / "x").string());
  EXPECT_EQ(os_->Resolve("Q:\\x"), "");

  EXPECT_EQ(os_->FileSize("d:\\kedro\\VARMEX\\dev.dat"), std::optional<uint64_t>(3));
  EXPECT_EQ(os_->CopyFile("D:\\kedro\\varmex\\DEV.dat", "D:\\KEDRO\\Varmex\\Dev.dat", false),
            kErrorSharingViolation)
      << "a copy onto itself must not empty the file";
  EXPECT_EQ(ReadFile(D() / "Kedro" / "Varmex" / "DEV.DAT"), "abc");

  // Relative paths are taken from the current directory.
  fs::current_path(D() / "Kedro");
  EXPECT_EQ(os_->GetFileAttributes("varmex\\DEV.dat"), kAttributeNormal);
}

// A directory is read once for names not spelt as on disk; the program's own changes
// keep its listing true, a child program or a change behind the program's back makes
// it read the directory again.
TEST_F(PosixTest, DirectoryListingsFollowEveryChange) {
  fs::create_directories(D() / "data");
  WriteFile(D() / "data" / "Alpha.dat", "a");
  const posix::DirectoryListings& listings = os_->listings();
  EXPECT_EQ(os_->FileSize("D:\\data\\ALPHA.DAT"), std::optional<uint64_t>(1));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(os_->GetFileAttributes("D:\\data\\none" + std::to_string(i)), kInvalidFileAttributes);
  }
  EXPECT_EQ(listings.reads(), 1u);

  EXPECT_EQ(os_->CopyFile("D:\\data\\alpha.dat", "D:\\data\\Beta.dat", true), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\BETA.DAT"), kAttributeNormal);
  EXPECT_EQ(os_->CreateDirectory("D:\\data\\Sub"), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\SUB"), kAttributeDirectory);
  EXPECT_EQ(os_->DeleteFile("D:\\data\\beta.DAT"), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\BETA.DAT"), kInvalidFileAttributes);
  EXPECT_EQ(listings.reads(), 1u);

  // Another program adds a file.
  WriteScript(D() / "mk", "echo g > '" + (D() / "data" / "Gamma.dat").string() + "'\n");
  EXPECT_EQ(os_->RunProcess("D:\\mk", true).exitCode, std::optional<uint32_t>(0));
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\GAMMA.DAT"), kAttributeNormal);
  EXPECT_EQ(listings.reads(), 2u);

  // A change behind the program's back moves the directory's time.
  WriteFile(D() / "data" / "Delta.dat", "d");
  const timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (D() / "data").c_str(), times, 0), 0);
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\DELTA.DAT"), kAttributeNormal);
  EXPECT_EQ(listings.reads(), 3u);
}

// A FIFO or a device is no data file: every open and copy refuses it at once, as it
// refuses a directory, instead of waiting for a writer that never comes.
TEST_F(PosixTest, SpecialFilesAreRefusedWithoutWaiting) {
  fs::create_directories(D() / "data");
  ASSERT_EQ(::mkfifo((D() / "data" / "PIPE.DAT").c_str(), 0666), 0);
  WriteFile(D() / "data" / "plain.dat", "x");
  ASSERT_EQ(::symlink("/dev/zero", (D() / "data" / "ZERO.DAT").c_str()), 0);
  struct Case {
    const char* what;
    std::function<uint32_t()> call;
  };
  const Case cases[] = {
      {"open a FIFO",
       [&] {
         uint32_t error = 0;
         EXPECT_EQ(os_->OpenExistingFile("D:\\data\\pipe.dat", error), nullptr);
         return error;
       }},
      {"open a device",
       [&] {
         uint32_t error = 0;
         EXPECT_EQ(os_->OpenExistingFile("D:\\data\\ZERO.DAT", error), nullptr);
         return error;
       }},
      {"read a FIFO",
       [&] {
         uint32_t error = 0;
         EXPECT_EQ(os_->OpenFileForReading("D:\\data\\pipe.dat", error), nullptr);
         return error;
       }},
      {"hold a FIFO",
       [&] {
         uint32_t error = 0;
         EXPECT_EQ(os_->LockFile("D:\\data\\pipe.dat", error), nullptr);
         return error;
       }},
      {"copy from a FIFO",
       [&] { return os_->CopyFile("D:\\data\\PIPE.DAT", "D:\\data\\a", false); }},
      {"copy from a device",
       [&] { return os_->CopyFile("D:\\data\\ZERO.DAT", "D:\\data\\b", false); }},
      {"copy onto a FIFO",
       [&] { return os_->CopyFile("D:\\data\\plain.dat", "D:\\data\\PIPE.DAT", false); }},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), kErrorAccessDenied) << c.what;
  EXPECT_EQ(os_->FileSize("D:\\data\\PIPE.DAT"), std::nullopt);
  EXPECT_FALSE(fs::exists(D() / "data" / "a"));
  EXPECT_FALSE(fs::exists(D() / "data" / "b"));
}

TEST_F(PosixTest, DirectoriesAndErrorCodes) {
  EXPECT_EQ(os_->CreateDirectory("D:\\kedro"), 0u);
  EXPECT_EQ(os_->CreateDirectory("D:\\KEDRO"), kErrorAlreadyExists);
  EXPECT_EQ(os_->CreateDirectory("D:\\kedro\\a\\b"), kErrorPathNotFound);  // last level only
  EXPECT_EQ(os_->GetFileAttributes("D:\\Kedro"), kAttributeDirectory);
  EXPECT_EQ(os_->GetFileAttributes("D:\\kedro\\none"), kInvalidFileAttributes);
  EXPECT_EQ(os_->CreateDirectory("Q:\\kedro"), kErrorPathNotFound);

  WriteFile(D() / "kedro" / "file", "x");
  EXPECT_EQ(os_->CreateDirectory("D:\\kedro\\file\\sub"), kErrorPathNotFound);  // a file in the way
  uint32_t error = 0;
  EXPECT_EQ(os_->OpenExistingFile("D:\\kedro\\nothing.dat", error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(os_->OpenExistingFile("D:\\nodir\\nothing.dat", error), nullptr);
  EXPECT_EQ(error, kErrorPathNotFound);
  EXPECT_EQ(os_->OpenExistingFile("D:\\kedro", error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(os_->DeleteFile("D:\\kedro\\nothing.dat"), kErrorFileNotFound);
  EXPECT_EQ(os_->DeleteFile("D:\\kedro"), kErrorAccessDenied);
}

TEST_F(PosixTest, ReadOnlyMarkFollowsTheWriteBits) {
  WriteFile(D() / "a.dat", "12345");
  EXPECT_EQ(os_->SetFileAttributes("D:\\A.DAT", kAttributeReadOnly), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\a.dat"), kAttributeReadOnly);
  EXPECT_EQ(fs::status(D() / "a.dat").permissions() & fs::perms::owner_write, fs::perms::none);

  uint32_t error = 0;
  EXPECT_EQ(os_->OpenExistingFile("D:\\a.dat", error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(os_->DeleteFile("D:\\a.dat"), kErrorAccessDenied);

  // The copy keeps the mark; copying over a read-only file is refused.
  EXPECT_EQ(os_->CopyFile("D:\\a.dat", "D:\\b.dat", true), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\B.dat"), kAttributeReadOnly);
  EXPECT_EQ(ReadFile(D() / "b.dat"), "12345");
  EXPECT_EQ(os_->CopyFile("D:\\a.dat", "D:\\b.dat", true), kErrorFileExists);
  EXPECT_EQ(os_->CopyFile("D:\\a.dat", "D:\\b.dat", false), kErrorAccessDenied);

  EXPECT_EQ(os_->SetFileAttributes("D:\\a.dat", kAttributeNormal), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\a.dat"), kAttributeNormal);
  EXPECT_EQ(os_->DeleteFile("D:\\a.dat"), 0u);
  EXPECT_FALSE(fs::exists(D() / "a.dat"));
  EXPECT_EQ(os_->CopyFile("D:\\a.dat", "D:\\c.dat", false), kErrorFileNotFound);
  EXPECT_EQ(os_->SetFileAttributes("D:\\a.dat", kAttributeNormal), kErrorFileNotFound);
}

TEST_F(PosixTest, OpenedFilesReadAndWriteInPlace) {
  WriteFile(D() / "blocks.dat", std::string(10, 'x'));
  uint32_t error = 99;
  std::unique_ptr<File> f = os_->OpenExistingFile("d:\\BLOCKS.DAT", error);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(error, 0u);
  const uint8_t in[3] = {'a', 'b', 'c'};
  size_t put = 0;
  EXPECT_EQ(f->WriteAt(8, in, put), 0u);
  EXPECT_EQ(put, 3u);
  uint8_t out[20];
  size_t got = 0;
  EXPECT_EQ(f->ReadAt(6, out, got), 0u);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), got), "xxabc");
  f.reset();
  EXPECT_EQ(ReadFile(D() / "blocks.dat"), "xxxxxxxxabc");
}

// The calls a file is replaced with: a new file under a name no one foresees, a hold
// on the old one that keeps a second holder out, the rename; the listings stay current.
TEST_F(PosixTest, ReplacingAFileUnderAHold) {
  fs::create_directories(D() / "data");
  WriteFile(D() / "data" / "Old.dat", "old");
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\OLD.DAT"), kAttributeNormal);
  const size_t reads = os_->listings().reads();

  std::string made, other;
  uint32_t error = 0;
  std::unique_ptr<File> created = os_->CreateUniqueFile("D:\\data\\Old.dat.tmp-", made, error);
  ASSERT_NE(created, nullptr) << error;
  ASSERT_NE(os_->CreateUniqueFile("D:\\data\\Old.dat.tmp-", other, error), nullptr);
  EXPECT_EQ(made.size(), std::string("D:\\data\\Old.dat.tmp-").size() + 12);
  EXPECT_NE(made, other);
  EXPECT_EQ(fs::status(D() / "data" / made.substr(8)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  size_t put = 0;
  const uint8_t bytes[3] = {'n', 'e', 'w'};
  EXPECT_EQ(created->WriteAt(0, bytes, put), 0u);
  EXPECT_EQ(created->Flush(), 0u);
  created.reset();

  std::unique_ptr<FileLock> hold = os_->LockFile("D:\\data\\old.dat", error);
  ASSERT_NE(hold, nullptr) << error;
  EXPECT_EQ(os_->LockFile("D:\\data\\OLD.dat", error), nullptr);
  EXPECT_EQ(error, kErrorLockViolation);
  fs::permissions(D() / "data" / "Old.dat",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(hold->ReplaceWith(made), 0u);
  hold.reset();
  EXPECT_EQ(ReadFile(D() / "data" / "Old.dat"), "new");
  EXPECT_EQ(fs::status(D() / "data" / "Old.dat").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(os_->GetFileAttributes(made), kInvalidFileAttributes);

  EXPECT_EQ(os_->RenameFile(other, "D:\\data\\Copy.dat"), 0u);
  EXPECT_EQ(os_->GetFileAttributes("D:\\data\\COPY.DAT"), kAttributeNormal);
  std::vector<std::string> names;
  EXPECT_EQ(os_->ListDirectory("D:\\data", names), 0u);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Copy.dat", "Old.dat"}));
  EXPECT_EQ(os_->listings().reads(), reads);

  // A read-only file still opens for reading; writes through that handle fail.
  fs::permissions(D() / "data" / "Old.dat", fs::perms::owner_read);
  std::unique_ptr<File> reader = os_->OpenFileForReading("D:\\data\\old.dat", error);
  ASSERT_NE(reader, nullptr) << error;
  EXPECT_EQ(reader->WriteAt(0, bytes, put), kErrorAccessDenied);

  // A link is followed to its file.
  fs::create_symlink(D() / "data" / "Old.dat", D() / "link.dat");
  EXPECT_EQ(os_->FinalPath("D:\\LINK.dat"), fs::canonical(D() / "data" / "Old.dat").string());
  EXPECT_EQ(os_->FinalPath("D:\\none.dat"), std::nullopt);
}

TEST_F(PosixTest, ArgumentsWithDrivePathsAreTranslated) {
  fs::create_directories(D() / "Kedro" / "ERP");
  const std::string erp = (D() / "Kedro" / "ERP").string();
  const posix::DriveTable& t = setup_.table;
  EXPECT_EQ(posix::TranslateArgument(t, "D:\\kedro\\erp"), erp);
  EXPECT_EQ(posix::TranslateArgument(t, "D:\\kedro\\erp\\"), erp + "/");
  EXPECT_EQ(posix::TranslateArgument(t, "-fD:\\kedro\\ERP\\menuerp.exe"),
            "-f" + erp + "/menuerp.exe");
  EXPECT_EQ(posix::TranslateArgument(t, "-o+"), "-o+");
  EXPECT_EQ(posix::TranslateArgument(t, "erp.rar"), "erp.rar");
  EXPECT_EQ(posix::TranslateArgument(t, "Q:\\nothing"), "Q:\\nothing");
  EXPECT_EQ(posix::TranslateArgument(t, "http://x"), "http://x");
  EXPECT_EQ(posix::SplitCommandLine("  a  b\tc "), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(PosixTest, ProgramsAreFoundAndRun) {
  fs::create_directories(D() / "Kedro" / "ERP");
  const fs::path out = root_ / "out.txt";
  // A tool that writes its arguments and working directory, then exits with 3.
  WriteScript(
      D() / "Kedro" / "ERP" / "mklnk.exe",
      "printf '%s|' \"$@\" > '" + out.string() + "'\npwd >> '" + out.string() + "'\nexit 3\n");
  int32_t exitCode = 0;
  EXPECT_EQ(installer::RunProgramForExitCode(
                *os_, "d:\\kedro\\erp\\MKLNK.EXE -fD:\\KEDRO\\erp\\menuerp.exe x", exitCode),
            0);
  EXPECT_EQ(exitCode, 3);
  EXPECT_EQ(ReadFile(out), "-f" + (D() / "Kedro" / "ERP").string() + "/menuerp.exe|x|" +
                               fs::current_path().string() + "\n");

  // Written without ".exe": found with it.
  exitCode = 0;
  EXPECT_EQ(installer::RunProgramForExitCode(*os_, "D:\\kedro\\ERP\\mklnk", exitCode), 0);
  EXPECT_EQ(exitCode, 3);

  // A bare name is found in the current directory and runs there; written with
  // ".exe", it is found without it.
  const fs::path work = root_ / "work";
  fs::create_directories(work);
  // (A name that no program of the build carries: the program's own directory, searched
  // first, holds the real tools.)
  WriteScript(work / "vxprobe", "pwd > '" + out.string() + "'\nexit 0\n");
  fs::current_path(work);
  exitCode = 9;
  EXPECT_EQ(installer::RunProgramForExitCode(*os_, "VXPROBE.EXE t erp.rar", exitCode), 0);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(ReadFile(out), fs::current_path().string() + "\n");

  exitCode = 9;
  EXPECT_EQ(installer::RunProgramForExitCode(*os_, "no-such-program-here", exitCode), 2);
  EXPECT_EQ(exitCode, 9);
  EXPECT_EQ(installer::RunProgram(*os_, "D:\\nothing\\tool.exe"), 2);
}

TEST_F(PosixTest, SearchOrderPrefersTheProgramsOwnDirectory) {
  const fs::path own = root_ / "own";
  const fs::path cwd = root_ / "cwd";
  const fs::path path = root_ / "path";
  for (const fs::path& p : {own, cwd, path}) fs::create_directories(p);
  WriteScript(path / "tool", "exit 0\n");
  posix::ProgramSearch search{own.string(), cwd.string(), {path.string()}};
  EXPECT_EQ(posix::FindProgram(setup_.table, search, "TOOL.exe"), (path / "tool").string());
  WriteScript(cwd / "Tool", "exit 0\n");
  EXPECT_EQ(posix::FindProgram(setup_.table, search, "tool"), (cwd / "Tool").string());
  WriteScript(own / "tool.exe", "exit 0\n");
  EXPECT_EQ(posix::FindProgram(setup_.table, search, "tool"), (cwd / "Tool").string())
      << "the name as written is searched everywhere before the other spelling";
  EXPECT_EQ(posix::FindProgram(setup_.table, search, "tool.exe"), (own / "tool.exe").string());
  WriteFile(own / "data", "not executable");
  EXPECT_EQ(posix::FindProgram(setup_.table, search, "data"), std::nullopt);
}

}  // namespace
}  // namespace varmex::platform
