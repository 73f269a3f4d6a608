// A platform that hands every call on to another one. The decorators of the platform
// (the transcript, the scripted and terminal sessions) derive from it and override
// only the calls they record or change; a new platform call is forwarded here once
// for all of them.
#pragma once

#include <cstdlib>

#include "platform/platform.h"

namespace varmex::platform {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style) override {
    return inner_.MessageBox(text, caption, style);
  }
  intptr_t DialogBox(int resourceId, DialogProcedure& proc) override {
    return inner_.DialogBox(resourceId, proc);
  }
  uint32_t LastError() override { return inner_.LastError(); }
  ProcessResult RunProcess(std::string_view commandLine, bool wantExitCode) override {
    return inner_.RunProcess(commandLine, wantExitCode);
  }
  uint32_t GetFileAttributes(std::string_view path) override {
    return inner_.GetFileAttributes(path);
  }
  uint32_t CreateDirectory(std::string_view path) override { return inner_.CreateDirectory(path); }
  uint32_t GetDriveType(std::string_view root) override { return inner_.GetDriveType(root); }
  uint32_t SetFileAttributes(std::string_view path, uint32_t attributes) override {
    return inner_.SetFileAttributes(path, attributes);
  }
  uint32_t DeleteFile(std::string_view path) override { return inner_.DeleteFile(path); }
  uint32_t CopyFile(std::string_view from, std::string_view to, bool failIfExists) override {
    return inner_.CopyFile(from, to, failIfExists);
  }
  std::optional<uint64_t> FileSize(std::string_view path) override { return inner_.FileSize(path); }
  uint32_t MatchAccess(std::string_view path, std::string_view like) override {
    return inner_.MatchAccess(path, like);
  }
  std::unique_ptr<File> OpenExistingFile(std::string_view path, uint32_t& error) override {
    return inner_.OpenExistingFile(path, error);
  }
  std::unique_ptr<File> OpenFileForReading(std::string_view path, uint32_t& error) override {
    return inner_.OpenFileForReading(path, error);
  }
  std::unique_ptr<File> CreateUniqueFile(std::string_view prefix, std::string& createdPath,
                                         uint32_t& error) override {
    return inner_.CreateUniqueFile(prefix, createdPath, error);
  }
  uint32_t RenameFile(std::string_view from, std::string_view to) override {
    return inner_.RenameFile(from, to);
  }
  std::unique_ptr<FileLock> LockFile(std::string_view path, uint32_t& error) override {
    return inner_.LockFile(path, error);
  }
  std::optional<std::string> FinalPath(std::string_view path) override {
    return inner_.FinalPath(path);
  }
  uint32_t ListDirectory(std::string_view path, std::vector<std::string>& names) override {
    return inner_.ListDirectory(path, names);
  }
  void WriteStandardOutput(std::string_view text) override { inner_.WriteStandardOutput(text); }
  [[noreturn]] void ExitProcess(int status) override {
    inner_.ExitProcess(status);
    std::abort();  // not reached: ExitProcess does not return
  }
  void NoteRefusedRun(std::string_view commandLine, bool wantExitCode, int32_t result) override {
    inner_.NoteRefusedRun(commandLine, wantExitCode, result);
  }
  int NoteProgramEnd(int status) override { return inner_.NoteProgramEnd(status); }

 protected:
  Platform& inner() { return inner_; }

 private:
  Platform& inner_;
};

}  // namespace varmex::platform
