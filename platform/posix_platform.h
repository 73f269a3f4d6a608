// The platform on POSIX systems: drives and paths as in posix_paths.h, processes as
// in posix_process.h, message boxes and dialogs drawn on the terminal and answered
// by typed actions (ui_session.h).
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix_paths.h"

namespace varmex::platform {

class UiSession;

class PosixPlatform : public Platform {
 public:
  explicit PosixPlatform(posix::DriveTable drives);
  ~PosixPlatform() override;

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style) override;
  intptr_t DialogBox(int resourceId, DialogProcedure& proc) override;
  uint32_t LastError() override { return lastError_; }
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
  uint32_t MatchAccess(std::string_view path, std::string_view like) override;
  std::unique_ptr<FileLock> LockFile(std::string_view path, uint32_t& error) override;
  std::optional<std::string> FinalPath(std::string_view path) override;
  uint32_t ListDirectory(std::string_view path, std::vector<std::string>& names) override;
  void WriteStandardOutput(std::string_view text) override;
  [[noreturn]] void ExitProcess(int status) override;

  const posix::DriveTable& drives() const { return drives_; }
  // Where a Windows path lies here; empty when its drive does not exist.
  std::string Resolve(std::string_view path);
  const posix::DirectoryListings& listings() const { return listings_; }

 private:
  UiSession& Terminal();

  posix::DriveTable drives_;
  // Every call that creates, copies, renames or removes an entry tells the listings.
  posix::DirectoryListings listings_;
  std::unique_ptr<UiSession> terminal_;
  uint32_t lastError_ = 0;
};

// What was wrong with VARMEX_DRIVES or VARMEX_DRIVE_TYPES when the native platform
// was made (already said on standard error), or empty.
const std::string& NativeDriveProblem();

}  // namespace varmex::platform
