// The Win32 platform against the real API (run under Wine in the Windows build).
#include "platform/win32_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace varmex::platform {
namespace {

// A scratch folder under %TEMP%, removed with its files after each test.
class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    dir_ = std::string(temp) + "varmex-w32-" + std::to_string(::GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    WIN32_FIND_DATAA found;
    HANDLE walk = ::FindFirstFileA((dir_ + "\\*").c_str(), &found);
    if (walk != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir_ + "\\" + name;
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          ::RemoveDirectoryA(path.c_str());
        } else {
          ::DeleteFileA(path.c_str());
        }
      } while (::FindNextFileA(walk, &found));
      ::FindClose(walk);
    }
    ::RemoveDirectoryA(dir_.c_str());
  }
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    HANDLE h = ::CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    ::CloseHandle(h);
  }

  Win32Platform platform_;
  std::string dir_;
};

TEST_F(Win32PlatformTest, DirectoriesReportWindowsErrorCodes) {
  EXPECT_EQ(platform_.CreateDirectory(Path("kedro")), 0u);
  EXPECT_EQ(platform_.CreateDirectory(Path("kedro")), uint32_t{kErrorAlreadyExists});
  // Only the last level is created: a missing parent is "path not found".
  EXPECT_EQ(platform_.CreateDirectory(Path("missing\\below")), uint32_t{kErrorPathNotFound});
  EXPECT_NE(platform_.GetFileAttributes(Path("kedro")) & kAttributeDirectory, 0u);
  EXPECT_EQ(platform_.GetFileAttributes(Path("nothing")), kInvalidFileAttributes);
  // A core text keeps its NUL terminator inside the view; the call stops there.
  EXPECT_EQ(platform_.CreateDirectory(Path("cut") + std::string("\0   ", 4)), 0u);
  EXPECT_NE(platform_.GetFileAttributes(Path("cut")), kInvalidFileAttributes);
}

TEST_F(Win32PlatformTest, FileAttributesCopyDeleteAndSize) {
  Write("a.dat", std::string(1030, 'x'));
  EXPECT_EQ(platform_.FileSize(Path("A.DAT")), std::optional<uint64_t>(1030));
  EXPECT_EQ(platform_.FileSize(Path("none.dat")), std::nullopt);
  EXPECT_EQ(platform_.FileSize(dir_), std::nullopt);

  EXPECT_EQ(platform_.CopyFile(Path("a.dat"), Path("b.dat"), true), 0u);
  EXPECT_EQ(platform_.CopyFile(Path("a.dat"), Path("b.dat"), true), uint32_t{kErrorFileExists});
  EXPECT_EQ(platform_.CopyFile(Path("a.dat"), Path("b.dat"), false), 0u);
  EXPECT_EQ(platform_.CopyFile(Path("none.dat"), Path("c.dat"), false),
            uint32_t{kErrorFileNotFound});
  EXPECT_EQ(platform_.FileSize(Path("b.dat")), std::optional<uint64_t>(1030));

  EXPECT_EQ(platform_.SetFileAttributes(Path("b.dat"), kAttributeReadOnly), 0u);
  EXPECT_NE(platform_.GetFileAttributes(Path("b.dat")) & kAttributeReadOnly, 0u);
  EXPECT_EQ(platform_.DeleteFile(Path("b.dat")), uint32_t{kErrorAccessDenied});
  EXPECT_EQ(platform_.SetFileAttributes(Path("b.dat"), kAttributeNormal), 0u);
  EXPECT_EQ(platform_.DeleteFile(Path("b.dat")), 0u);
  EXPECT_EQ(platform_.DeleteFile(Path("b.dat")), uint32_t{kErrorFileNotFound});
}

TEST_F(Win32PlatformTest, FilesAreReadAndWrittenAtOffsetsAndShared) {
  Write("dev.dat", std::string(1024, '\0'));
  uint32_t error = 99;
  auto first = platform_.OpenExistingFile(Path("dev.dat"), error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(error, 0u);
  // A second opening, as another program of the suite would hold one, must succeed.
  auto second = platform_.OpenExistingFile(Path("DEV.DAT"), error);
  ASSERT_NE(second, nullptr);

  std::array<uint8_t, 4> block = {0xFF, 0x70, '*', '*'};
  size_t put = 0;
  EXPECT_EQ(first->WriteAt(512, block, put), 0u);
  EXPECT_EQ(put, 4u);
  std::array<uint8_t, 4> back{};
  size_t got = 0;
  EXPECT_EQ(second->ReadAt(512, back, got), 0u);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(back, block);

  // Reading across the end gives what is there; reading past it gives nothing.
  std::vector<uint8_t> big(512);
  EXPECT_EQ(second->ReadAt(768, big, got), 0u);
  EXPECT_EQ(got, 256u);
  EXPECT_EQ(second->ReadAt(4096, big, got), 0u);
  EXPECT_EQ(got, 0u);

  // Writing past the end extends the file.
  EXPECT_EQ(first->WriteAt(1536, block, put), 0u);
  first.reset();
  second.reset();
  EXPECT_EQ(platform_.FileSize(Path("dev.dat")), std::optional<uint64_t>(1540));
}

TEST_F(Win32PlatformTest, OpeningFailuresGiveTheirCodes) {
  uint32_t error = 0;
  EXPECT_EQ(platform_.OpenExistingFile(Path("none.dat"), error), nullptr);
  EXPECT_EQ(error, uint32_t{kErrorFileNotFound});
  EXPECT_EQ(platform_.OpenExistingFile(Path("none\\x.dat"), error), nullptr);
  EXPECT_EQ(error, uint32_t{kErrorPathNotFound});
  // A directory is not a data file.
  EXPECT_EQ(platform_.OpenExistingFile(dir_, error), nullptr);
  EXPECT_NE(error, 0u);
}

TEST_F(Win32PlatformTest, DriveTypes) {
  EXPECT_EQ(platform_.GetDriveType("C:\\"), uint32_t{kDriveFixed});
  // The temporary folder's drive exists, whatever its kind.
  const std::string root = dir_.substr(0, 3);
  EXPECT_NE(platform_.GetDriveType(root), uint32_t{kDriveNoRootDir});
}

TEST_F(Win32PlatformTest, ProcessesReportStartErrorsAndExitCodes) {
  ProcessResult r = platform_.RunProcess("cmd /c exit 3", true);
  EXPECT_EQ(r.startError, 0u);
  EXPECT_EQ(r.exitCode, std::optional<uint32_t>(3));

  // Without a request the exit code is not read.
  r = platform_.RunProcess("cmd /c exit 4", false);
  EXPECT_EQ(r.startError, 0u);
  EXPECT_EQ(r.exitCode, std::nullopt);

  r = platform_.RunProcess("no-such-program-varmex.exe a b", true);
  EXPECT_EQ(r.startError, uint32_t{kErrorFileNotFound});
  EXPECT_EQ(r.exitCode, std::nullopt);

  // The child works in the caller's current directory and sees its NUL-terminated line.
  char cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, cwd);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir_.c_str()));
  r = platform_.RunProcess(std::string("cmd /c echo x> here.txt\0 ignored", 32), true);
  ::SetCurrentDirectoryA(cwd);
  EXPECT_EQ(r.exitCode, std::optional<uint32_t>(0));
  EXPECT_NE(platform_.GetFileAttributes(Path("here.txt")), kInvalidFileAttributes);
  EXPECT_EQ(platform_.GetFileAttributes(Path("ignored")), kInvalidFileAttributes);
}

// A pipe or a device is no data file: opening or copying one is refused at once, as
// a directory is, instead of reading from it and waiting.
TEST_F(Win32PlatformTest, PipesAndDevicesAreRefusedWithoutWaiting) {
  // Each pipe is made afresh for one call: an instance once opened stays taken.
  int pipes = 0;
  std::vector<HANDLE> servers;
  auto newPipe = [&] {
    const std::string name = "\\\\.\\pipe\\varmex-w32-" + std::to_string(::GetCurrentProcessId()) +
                             "-" + std::to_string(++pipes);
    servers.push_back(::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512,
                                         512, 0, nullptr));
    EXPECT_NE(servers.back(), INVALID_HANDLE_VALUE);
    return name;
  };
  for (const bool isPipe : {true, false}) {
    const std::string what = isPipe ? "a pipe" : "the NUL device";
    uint32_t error = 0;
    EXPECT_EQ(platform_.OpenExistingFile(isPipe ? newPipe() : "NUL", error), nullptr) << what;
    EXPECT_EQ(error, uint32_t{kErrorAccessDenied}) << what;
    EXPECT_EQ(platform_.CopyFile(isPipe ? newPipe() : "NUL", Path("copy"), false),
              uint32_t{kErrorAccessDenied})
        << what;
  }
  EXPECT_EQ(platform_.GetFileAttributes(Path("copy")), kInvalidFileAttributes);
  for (HANDLE server : servers) ::CloseHandle(server);
}

TEST_F(Win32PlatformTest, AMissingDialogResourceGivesMinusOneAndAReason) {
  struct Never : DialogProcedure {
    bool OnInit(DialogHost&) override { return true; }
    bool OnCommand(DialogHost&, int, int) override { return true; }
  } never;
  EXPECT_EQ(platform_.DialogBox(31999, never), -1);
  EXPECT_NE(platform_.LastError(), 0u);
}

}  // namespace
}  // namespace varmex::platform
