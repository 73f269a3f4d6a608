// An in-memory platform for unit tests: files live in a map, message boxes and runs
// are recorded, dialogs and processes are answered by callbacks the test sets.
// Paths are compared without regard to case, as on Windows.
#pragma once

#include <functional>
#include <map>
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
  void WriteStandardOutput(std::string_view text) override;
  // Throws ExitCalled so that a test can observe a stop.
  [[noreturn]] void ExitProcess(int status) override;

  struct ExitCalled {
    int status;
  };

 private:
  static std::string Key(std::string_view path);
  static std::string Parent(const std::string& key);
  std::map<std::string, Entry> entries_;
  Platform* previous_;
};

}  // namespace varmex::platform
