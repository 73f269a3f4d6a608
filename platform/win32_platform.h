// The Win32 platform (Windows build only). Declared here, apart from the core's
// interface, so that its own tests can drive a real dialog window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

// <windows.h> must come after the interface: its macros would rename the interface's
// methods (MessageBox, DialogBox, CopyFile ...) where they are declared.
// clang-format off
#include <windows.h>
// clang-format on

// <windows.h> turns these names into macros for its ANSI/wide pairs; in this layer they
// are the interface's method names, and the ANSI functions are called explicitly.
#undef MessageBox
#undef CreateDirectory
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetDriveType
#undef DeleteFile
#undef CopyFile
#undef DialogBox

namespace varmex::platform {

// A real dialog window seen through the core's DialogHost.
class Win32DialogHost : public DialogHost {
 public:
  explicit Win32DialogHost(HWND window);
  void SetItemText(int id, std::string_view text) override;
  std::string GetItemText(int id, size_t maxChars) override;
  void EnableItem(int id, bool enabled) override;
  void CheckRadioButton(int firstId, int lastId, int checkId) override;
  bool IsButtonChecked(int id) override;
  void ComboReset(int id) override;
  void ComboAddString(int id, std::string_view text) override;
  void ComboSetSelection(int id, int index) override;
  int ComboGetSelection(int id) override;
  void EndDialog(intptr_t result) override;

 private:
  HWND window_;
};

// The dialog procedure that DialogBox registers: WM_INITDIALOG (whose parameter is the
// core's DialogProcedure) becomes OnInit, WM_COMMAND becomes OnCommand(id, notification).
INT_PTR CALLBACK Win32DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32Platform : public Platform {
 public:
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
  std::unique_ptr<FileLock> LockFile(std::string_view path, uint32_t& error) override;
  std::optional<std::string> FinalPath(std::string_view path) override;
  uint32_t ListDirectory(std::string_view path, std::vector<std::string>& names) override;
  void WriteStandardOutput(std::string_view text) override;
  [[noreturn]] void ExitProcess(int status) override;

 private:
  uint32_t lastError_ = 0;
};

}  // namespace varmex::platform
