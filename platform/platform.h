// The one door from the core to the operating system: message boxes, modal dialogs,
// processes, the file system and drive types. The core (installer/, migration/,
// database/, store/, grupdev/, pricebase/) never includes a system header; it is handed
// a Platform by its caller, from the program's or tool's entry point down: the Win32
// implementation in the Windows build, the POSIX one on Linux, or a test double.
//
// Paths are Windows paths as the core builds them ("D:\kedro\Varmex\dev.dat"); each
// implementation resolves them its own way. Failures are Windows error codes
// (2 file not found, 3 path not found, 5 access denied, 112 disk full, 183 exists ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varmex::platform {

// Windows error codes the core names.
enum ErrorCode : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorHandleDiskFull = 39,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorResourceNotFound = 1813,
};

// File attributes as GetFileAttributesA reports them.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeNormal = 0x80;

// Drive types as GetDriveTypeA reports them.
enum DriveType : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamdisk = 6,
};

// Message box styles and answers (the values of the Windows API).
enum MessageStyle : uint32_t {
  kMbOk = 0x0,
  kMbYesNo = 0x4,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbSystemModal = 0x1000,
  kMbTopmost = 0x40000,
};
enum MessageAnswer : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
};

// Notification code of a button click in a command message.
inline constexpr int kBnClicked = 0;

// What a dialog procedure may do to its own dialog. The Win32 host adapts a real
// window; the scripted and terminal hosts simulate one from the dialog description.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual void SetItemText(int id, std::string_view text) = 0;
  // At most maxChars characters of the control's text (an edit field or a combo's edit).
  virtual std::string GetItemText(int id, size_t maxChars) = 0;
  virtual void EnableItem(int id, bool enabled) = 0;
  virtual void CheckRadioButton(int firstId, int lastId, int checkId) = 0;
  virtual bool IsButtonChecked(int id) = 0;
  virtual void ComboReset(int id) = 0;
  virtual void ComboAddString(int id, std::string_view text) = 0;
  virtual void ComboSetSelection(int id, int index) = 0;
  // The selected list index, or -1 when no list item is selected.
  virtual int ComboGetSelection(int id) = 0;
  virtual void EndDialog(intptr_t result) = 0;
};

// The core side of a dialog: the platform calls OnInit once when the dialog opens,
// then OnCommand for each command (control id, notification code). The return values
// are those of a Windows dialog procedure (true = handled).
class DialogProcedure {
 public:
  virtual ~DialogProcedure() = default;
  virtual bool OnInit(DialogHost& host) = 0;
  virtual bool OnCommand(DialogHost& host, int id, int notification) = 0;
};

// A file opened as an existing file, shared for reading and writing with others.
class File {
 public:
  virtual ~File() = default;
  // Reads up to out.size() bytes at offset; `got` receives the count (less at the end
  // of the file). Returns 0 or a Windows error code.
  virtual uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) = 0;
  // Writes in.size() bytes at offset; `put` receives the count written.
  virtual uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) = 0;
  // Puts everything written to the file so far, through any handle, on the disk.
  // Returns 0 or a Windows error code.
  virtual uint32_t Flush() = 0;
  // For skipping the holes of a sparse file: the first stretch [start, end) at or after
  // `offset` that may hold bytes other than zero; every byte from `offset` to `start`
  // is zero. When only holes follow, both are the end of the file (or `offset`, past
  // it). A system that cannot tell (the default) answers {offset, UINT64_MAX}.
  virtual std::pair<uint64_t, uint64_t> DataExtent(uint64_t offset) { return {offset, UINT64_MAX}; }
};

// An exclusive hold on a file, taken by LockFile and kept until the object goes. It
// keeps out other holders (another run of the same tool, say), not plain readers and
// writers, and does not stand in the way of this program's own opens of the file.
class FileLock {
 public:
  virtual ~FileLock() = default;
  // Puts the file at `replacement` (in the same folder) in the held file's place: the
  // held file's name now names the replacement's contents, with the held file's access
  // rights; the replacement's name is gone. The hold is given up as late as the system
  // allows (on Windows just before, as a file held open cannot be replaced). Every
  // handle of this program to either file must be closed. 0 or a Windows error code;
  // on failure both files are as they were.
  virtual uint32_t ReplaceWith(std::string_view replacement) = 0;
};

// Outcome of running an external program and waiting for it.
struct ProcessResult {
  uint32_t startError = 0;           // 0: started and ended; otherwise the error code
  std::optional<uint32_t> exitCode;  // the exit status, when it could be read
};

class Platform {
 public:
  virtual ~Platform() = default;

  // A modal message box with no owner window; returns the answer (kIdOk, kIdYes, kIdNo).
  virtual int MessageBox(std::string_view text, std::string_view caption, uint32_t style) = 0;

  // Runs dialog resource `resourceId` modally with `proc`. Returns the value given to
  // EndDialog, or -1 when the dialog could not be created (LastError() tells why).
  virtual intptr_t DialogBox(int resourceId, DialogProcedure& proc) = 0;

  // Error code of the last failed DialogBox.
  virtual uint32_t LastError() = 0;

  // Starts the command line (split at blanks, program searched in the program's own
  // directory, the current directory, then PATH) with the inherited environment and
  // current directory, and waits for it without a time limit. `wantExitCode` tells
  // whether the caller will look at the exit status (it is logged only then).
  virtual ProcessResult RunProcess(std::string_view commandLine, bool wantExitCode) = 0;

  virtual uint32_t GetFileAttributes(std::string_view path) = 0;
  // 0 on success, otherwise the error code. Creates the last level only.
  virtual uint32_t CreateDirectory(std::string_view path) = 0;
  // `root` is "X:\".
  virtual uint32_t GetDriveType(std::string_view root) = 0;
  virtual uint32_t SetFileAttributes(std::string_view path, uint32_t attributes) = 0;
  virtual uint32_t DeleteFile(std::string_view path) = 0;
  virtual uint32_t CopyFile(std::string_view from, std::string_view to, bool failIfExists) = 0;
  // Size in bytes of an existing file; nullopt when it cannot be queried.
  virtual std::optional<uint64_t> FileSize(std::string_view path) = 0;
  // Opens an existing file for reading and writing, shared with other programs.
  // On failure returns null and sets `error`.
  virtual std::unique_ptr<File> OpenExistingFile(std::string_view path, uint32_t& error) = 0;

  // Opens an existing file for reading only, shared with other programs: a read-only
  // file opens too, and every write through the handle fails with 5.
  virtual std::unique_ptr<File> OpenFileForReading(std::string_view path, uint32_t& error) = 0;

  // Creates a new, empty file named `prefix` followed by a suffix of 12 random
  // characters (a-z, 0-9) that no one can foresee, for reading and writing. It is
  // created exclusively: whatever already lies under a name, a link included, is never
  // opened or followed; another name is drawn instead. `createdPath` receives the name.
  virtual std::unique_ptr<File> CreateUniqueFile(std::string_view prefix, std::string& createdPath,
                                                 uint32_t& error) = 0;

  // Gives `from` the name `to`, replacing a file of that name (a link there is
  // replaced, not followed). Both must lie in the same folder or at least on one drive.
  virtual uint32_t RenameFile(std::string_view from, std::string_view to) = 0;

  // Gives the file at `path` the access rights of the file at `like`, or, when there is
  // none, the rights a new file gets (on POSIX 0666 less the umask). 0 or an error
  // code. Systems whose files take their rights from their folder do nothing.
  virtual uint32_t MatchAccess(std::string_view /*path*/, std::string_view /*like*/) { return 0; }

  // Takes the exclusive hold on an existing file (see FileLock). Fails at once with
  // 33 (lock violation) when another holder has it, without waiting.
  virtual std::unique_ptr<FileLock> LockFile(std::string_view path, uint32_t& error) = 0;

  // The path of the file that `path` names once every symbolic link on the way is
  // followed (`path` itself when there is none), usable in every call here; nullopt
  // when it cannot be followed (a missing file, a broken link).
  virtual std::optional<std::string> FinalPath(std::string_view path) = 0;

  // The names of the entries of a folder (not "." and ".."), in no set order.
  virtual uint32_t ListDirectory(std::string_view path, std::vector<std::string>& names) = 0;

  // A line on the program's standard output (used by one fatal store error).
  virtual void WriteStandardOutput(std::string_view text) = 0;

  // Ends the process with `status` (after the transcript's "exit" event).
  [[noreturn]] virtual void ExitProcess(int status) = 0;

  // Happenings that start no platform call but belong in the transcript. Platforms
  // ignore them; the transcript decorator records them.
  // The runner refused a command line (too long): nothing was started.
  virtual void NoteRefusedRun(std::string_view /*commandLine*/, bool /*wantExitCode*/,
                              int32_t /*result*/) {}
  // The program returns from its entry point with `status` (a normal end). Returns
  // the status to return instead (a decorator may have a reason to end otherwise).
  virtual int NoteProgramEnd(int status) { return status; }
};

// The platform in force. Until Install is called it is the build's native platform.
// Only the entry points read it, once, to hand it down (the program's entry after the
// environment has installed its decorators; the tools' main, over the native one).
Platform& Current();

// Installs `p` (not owned) as the platform in force; null restores the native one.
// Returns what was installed before (null for the native one), so that whoever
// installs a platform for a while can put the earlier one back.
Platform* Install(Platform* p);

}  // namespace varmex::platform
