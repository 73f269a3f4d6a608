// An in-memory platform for unit tests: files live in a map, message boxes and runs
// are recorded, dialogs and processes are answered by callbacks the test sets.
// Paths are compared without regard to case, as on Windows. As on Windows, a file
// that is open cannot be renamed or replaced (RenameFile, FileLock::ReplaceWith answer
// 32), so a caller that forgets a handle is caught here too. There are no links:
// FinalPath names a file by its own path.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varmex::platform {

class FakePlatform : public Platform {
 public:
  struct Message {
    std::string text;
    std::string caption;
    uint32_t style;
  };
  struct Run {
    std::string commandLine;
    bool wantExitCode;
  };
  struct Entry {
    std::string name;  // the last part of the path, spelt as it was given
    bool directory = false;
    uint32_t attributes = kAttributeNormal;
    std::vector<uint8_t> bytes;
  };

  // Installs itself as the current platform for the life of the object, and puts
  // back the platform that was in force before when it goes.
  FakePlatform();
  ~FakePlatform() override;
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Files and directories.
  void AddFile(std::string_view path, std::vector<uint8_t> bytes);
  void AddDirectory(std::string_view path);
  bool Exists(std::string_view path) const;
  std::vector<uint8_t>* Bytes(std::string_view path);

  std::vector<Message> messages;
  std::vector<Run> runs;
  std::map<char, uint32_t> driveTypes;                       // letter (upper case) -> type
  std::function<int(const Message&)> answerMessage;          // default: kIdOk / kIdNo
  std::function<intptr_t(int, DialogProcedure&)> runDialog;  // default: -1
  std::function<ProcessResult(const Run&)> runProcess;       // default: not found (2)
  uint32_t lastError = 0;
  std::string standardOutput;

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style) override;
  intptr_t DialogBox(int resourceId, DialogProcedure& proc) override;
  uint32_t LastError() override { return lastError; }
  ProcessResult RunProcess(std::string_view commandLine, bool wantExitCode) override;
  uint32_t GetFileAttributes(std::string_view path) override;
  uint32_t CreateDirectory(std::string_view path) override;
  uint32_t GetDriveType(std::string_view root) override;
  uint32_t SetFileAttributes(std::string_view path, uint32_t attributes) override;
  uint32_t DeleteFile(std::string_view path) override;
  uint32_t CopyFile(std::string_view from, std::string_view to, bool failIfExists) override;
  std::optional<uint64_t> FileSize(std::string_view path) override;
  std::unique_ptr<File> OpenExistingFile(std::string_view path, uint32_t& error) override;
  std::unique_ptr<File> OpenFileForReading(std::string_view path, uint32_t& error) override;
  std::unique_ptr<File> CreateUniqueFile(std::string_view prefix, std::string& createdPath,
                                         uint32_t& error) override;
  uint32_t RenameFile(std::string_view from, std::string_view to) override;
  std::unique_ptr<FileLock> LockFile(std::string_view path, uint32_t& error) override;
  std::optional<std::string> FinalPath(std::string_view path) override;
  uint32_t ListDirectory(std::string_view path, std::vector<std::string>& names) override;
  void WriteStandardOutput(std::string_view text) override;
  // Throws ExitCalled so that a test can observe a stop.
  [[noreturn]] void ExitProcess(int status) override;

  struct ExitCalled {
    int status;
  };

 private:
  // Open handles and holds by key; shared with the handles, which may outlive this.
  struct Handles {
    std::map<std::string, int> open;
    std::set<std::string> held;
  };
  class FakeLock;

  static std::string Key(std::string_view path);
  static std::string Parent(const std::string& key);
  static std::string LastPart(std::string_view path);
  std::unique_ptr<File> Open(std::string_view path, bool writable, uint32_t& error);
  std::map<std::string, Entry> entries_;
  std::shared_ptr<Handles> handles_ = std::make_shared<Handles>();
  std::mt19937_64 names_{20240607};
  Platform* previous_;
};

}  // namespace varmex::platform
