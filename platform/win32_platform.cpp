// The platform over the real Windows API: USER32 dialogs and message boxes, KERNEL32
// processes and files. Every path, text and command line reaches the API as an ANSI
// string ending at its first NUL, as the core builds them.
#include "platform/win32_platform.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/native.h"

namespace varmex::platform {
namespace {

// The child's start-up record is passed with this size: 68 bytes in the 32-bit API,
// 104 in the 64-bit one (the test build), where its handles and strings are 8 bytes.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104),
              "STARTUPINFOA as the API of this build defines it");

// The text up to its first NUL (a core text may carry its terminator inside the view).
std::string CString(std::string_view text) {
  const size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

uint32_t SuccessOrLastError(BOOL ok) { return ok ? 0u : static_cast<uint32_t>(::GetLastError()); }

// One open file: a Win32 handle, read and written at explicit offsets so that no
// shared file pointer is involved.
class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle, bool writable = true) : handle_(handle), writable_(writable) {}
  ~Win32File() override { ::CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
    got = 0;
    while (got < out.size()) {
      DWORD n = 0;
      OVERLAPPED at = At(offset + got);
      const DWORD want = Chunk(out.size() - got);
      if (!::ReadFile(handle_, out.data() + got, want, &n, &at)) {
        const DWORD error = ::GetLastError();
        // Reading at or past the end is a short read, not a failure.
        if (error == ERROR_HANDLE_EOF) return 0;
        return static_cast<uint32_t>(error);
      }
      if (n == 0) return 0;
      got += n;
    }
    return 0;
  }

  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
    put = 0;
    if (!writable_) return kErrorAccessDenied;
    while (put < in.size()) {
      DWORD n = 0;
      OVERLAPPED at = At(offset + put);
      const DWORD want = Chunk(in.size() - put);
      if (!::WriteFile(handle_, in.data() + put, want, &n, &at)) {
        return static_cast<uint32_t>(::GetLastError());
      }
      // A write that moves nothing would loop for ever: the disk is full.
      if (n == 0) return kErrorDiskFull;
      put += n;
    }
    return 0;
  }

  uint32_t Flush() override {
    if (!writable_) return 0;
    return SuccessOrLastError(::FlushFileBuffers(handle_));
  }

 private:
  static OVERLAPPED At(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
  }
  static DWORD Chunk(size_t left) {
    return left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
  }

  HANDLE handle_;
  bool writable_;
};

// The byte LockFile locks: far past the end of any block file, so that the lock, which
// Windows enforces on every other handle, never stands in the way of a read or write.
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0u;
constexpr DWORD kLockOffsetHigh = 0x3FFFFFFFu;

OVERLAPPED LockPlace() {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return at;
}

// Opens an existing file that is a file on a disk: a pipe or a device opens, but
// reading it may wait for ever, so it is refused as a folder is.
HANDLE OpenDiskFile(const std::string& path, DWORD access, uint32_t& error) {
  HANDLE handle = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = static_cast<uint32_t>(::GetLastError());
    return handle;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    error = kErrorAccessDenied;
    return INVALID_HANDLE_VALUE;
  }
  error = 0;
  return handle;
}

// The hold of LockFile: one byte locked exclusively through a handle of its own.
class Win32FileLock : public FileLock {
 public:
  Win32FileLock(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Win32FileLock() override { Release(); }
  Win32FileLock(const Win32FileLock&) = delete;
  Win32FileLock& operator=(const Win32FileLock&) = delete;

  // Windows replaces no file that is open, so the hold goes first. Should another run
  // take the file in between, the replacement fails and that run has the file whole.
  uint32_t ReplaceWith(std::string_view replacement) override {
    const DWORD attributes = ::GetFileAttributesA(path_.c_str());
    Release();
    const std::string from = CString(replacement);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      ::SetFileAttributesA(
          from.c_str(),
          attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    }
    return SuccessOrLastError(::MoveFileExA(from.c_str(), path_.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  }

 private:
  void Release() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    OVERLAPPED at = LockPlace();
    ::UnlockFileEx(handle_, 0, 1, 0, &at);
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  HANDLE handle_;
  std::string path_;
};

// Twelve characters of a-z and 0-9 from the system's random source (RtlGenRandom,
// looked up at run time), or from the clock and the process where it is missing.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12] = {};
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  static const GenRandom gen = [] {
    HMODULE advapi = ::LoadLibraryA("advapi32.dll");
    return advapi == nullptr ? GenRandom{}
                             : reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                   ::GetProcAddress(advapi, "SystemFunction036")));
  }();
  if (gen == nullptr || !gen(bytes, sizeof bytes)) {
    static ULONGLONG counter = 0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    ULONGLONG mix = static_cast<ULONGLONG>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
                    (static_cast<ULONGLONG>(::GetCurrentProcessId()) << 32) ^ ++counter;
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  std::string out;
  for (unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
  return out;
}

}  // namespace

// ---- Dialogs ------------------------------------------------------------------------

Win32DialogHost::Win32DialogHost(HWND window) : window_(window) {}

void Win32DialogHost::SetItemText(int id, std::string_view text) {
  const std::string value = CString(text);
  ::SetDlgItemTextA(window_, id, value.c_str());
  // Long work runs inside a command handler without a message loop: paint the control
  // now so that a status line written there is seen while the work goes on.
  if (HWND item = ::GetDlgItem(window_, id)) ::UpdateWindow(item);
}

std::string Win32DialogHost::GetItemText(int id, size_t maxChars) {
  std::vector<char> buffer(maxChars + 1, '\0');
  const UINT got = ::GetDlgItemTextA(window_, id, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), got < buffer.size() ? got : maxChars);
}

void Win32DialogHost::EnableItem(int id, bool enabled) {
  ::EnableWindow(::GetDlgItem(window_, id), enabled ? TRUE : FALSE);
}

void Win32DialogHost::CheckRadioButton(int firstId, int lastId, int checkId) {
  ::CheckRadioButton(window_, firstId, lastId, checkId);
}

bool Win32DialogHost::IsButtonChecked(int id) {
  return ::IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void Win32DialogHost::ComboReset(int id) {
  ::SendDlgItemMessageA(window_, id, CB_RESETCONTENT, 0, 0);
}

void Win32DialogHost::ComboAddString(int id, std::string_view text) {
  const std::string value = CString(text);
  ::SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(value.c_str()));
}

void Win32DialogHost::ComboSetSelection(int id, int index) {
  ::SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32DialogHost::ComboGetSelection(int id) {
  const LRESULT index = ::SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
  return index < 0 ? -1 : static_cast<int>(index);
}

void Win32DialogHost::EndDialog(intptr_t result) { ::EndDialog(window_, result); }

namespace {

// The rectangle of a child control in its dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child) {
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Contains(const RECT& outer, const RECT& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

// Whether `grown` stays inside the dialog and off every other control (a control that
// frames the label, such as a group box, does not count).
bool RoomFor(HWND dialog, HWND label, const RECT& original, const RECT& grown) {
  RECT client{};
  ::GetClientRect(dialog, &client);
  if (!Contains(client, grown)) return false;
  for (HWND other = ::GetWindow(dialog, GW_CHILD); other != nullptr;
       other = ::GetWindow(other, GW_HWNDNEXT)) {
    if (other == label || !::IsWindowVisible(other)) continue;
    const RECT r = ChildRect(dialog, other);
    RECT overlap{};
    if (!Contains(r, original) && ::IntersectRect(&overlap, &r, &grown)) return false;
  }
  return true;
}

// A left-aligned label one line high wraps a text wider than itself onto a line it
// cannot show, and the last words are lost; how wide a text comes out depends on the
// font's glyphs, not only on its average width, which sets the dialog's units. Such a
// label is widened to its text when the room to its right is free.
void WidenCutLabels(HWND dialog) {
  for (HWND label = ::GetWindow(dialog, GW_CHILD); label != nullptr;
       label = ::GetWindow(label, GW_HWNDNEXT)) {
    char className[16] = {};
    ::GetClassNameA(label, className, sizeof className);
    const LONG style = ::GetWindowLongA(label, GWL_STYLE);
    if (::lstrcmpiA(className, "Static") != 0 || (style & SS_TYPEMASK) != SS_LEFT) continue;

    char text[512] = {};
    const int length = ::GetWindowTextA(label, text, sizeof text);
    HDC dc = ::GetDC(label);
    const HGDIOBJ font =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(label, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics{};
    SIZE extent{};
    const bool measured =
        ::GetTextMetricsA(dc, &metrics) && ::GetTextExtentPoint32A(dc, text, length, &extent);
    ::SelectObject(dc, font);
    ::ReleaseDC(label, dc);

    const RECT original = ChildRect(dialog, label);
    const LONG width = original.right - original.left;
    const LONG height = original.bottom - original.top;
    if (!measured || height >= 2 * metrics.tmHeight || extent.cx <= width) continue;
    RECT grown = original;
    grown.right = original.left + extent.cx;
    if (!RoomFor(dialog, label, original, grown)) continue;
    ::SetWindowPos(label, nullptr, 0, 0, extent.cx, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace

// The window procedure shared by every dialog: it finds the core's procedure (handed
// over as the creation parameter, then kept in the window's user data) and passes it
// the two messages the core handles.
INT_PTR CALLBACK Win32DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* proc = reinterpret_cast<DialogProcedure*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
    if (proc == nullptr) return FALSE;
    WidenCutLabels(window);
    Win32DialogHost host(window);
    return proc->OnInit(host) ? TRUE : FALSE;
  }
  // The Enter key asks the dialog for its default command. In every dialog of the
  // program Enter is the command IDOK (1), whichever push button is drawn as the
  // default: dialog 102's default button 1007 keeps its look, but Enter does not press
  // it, and the procedure, which ignores IDOK there, keeps the dialog open. (A push
  // button that has the keyboard focus is still pressed by Enter, as by the space bar.)
  if (message == DM_GETDEFID) {
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, MAKELONG(IDOK, DC_HASDEFID));
    return TRUE;
  }
  auto* proc = reinterpret_cast<DialogProcedure*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (proc == nullptr) return FALSE;
  if (message == WM_COMMAND) {
    Win32DialogHost host(window);
    return proc->OnCommand(host, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
  }
  return FALSE;
}

// ---- The platform ---------------------------------------------------------------------

int Win32Platform::MessageBox(std::string_view text, std::string_view caption, uint32_t style) {
  const std::string body = CString(text);
  const std::string title = CString(caption);
  return ::MessageBoxA(nullptr, body.c_str(), title.c_str(), style);
}

intptr_t Win32Platform::DialogBox(int resourceId, DialogProcedure& proc) {
  ::SetLastError(0);
  const INT_PTR result =
      ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId), nullptr,
                        Win32DialogProc, reinterpret_cast<LPARAM>(&proc));
  if (result == -1) {
    lastError_ = static_cast<uint32_t>(::GetLastError());
    // A failure must name a reason; Windows sometimes leaves none behind.
    if (lastError_ == 0) lastError_ = kErrorResourceNotFound;
  }
  return result;
}

ProcessResult Win32Platform::RunProcess(std::string_view commandLine, bool wantExitCode) {
  // CreateProcessA may write into the command line, so it gets a private copy.
  const std::string line = CString(commandLine);
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ProcessResult failed;
    failed.startError = static_cast<uint32_t>(::GetLastError());
    return failed;
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ProcessResult result;
  if (wantExitCode) {
    DWORD status = 0;
    if (::GetExitCodeProcess(process.hProcess, &status)) result.exitCode = status;
  }
  ::CloseHandle(process.hProcess);
  return result;
}

uint32_t Win32Platform::GetFileAttributes(std::string_view path) {
  return ::GetFileAttributesA(CString(path).c_str());
}

uint32_t Win32Platform::CreateDirectory(std::string_view path) {
  return SuccessOrLastError(::CreateDirectoryA(CString(path).c_str(), nullptr));
}

uint32_t Win32Platform::GetDriveType(std::string_view root) {
  return ::GetDriveTypeA(CString(root).c_str());
}

uint32_t Win32Platform::SetFileAttributes(std::string_view path, uint32_t attributes) {
  return SuccessOrLastError(::SetFileAttributesA(CString(path).c_str(), attributes));
}

uint32_t Win32Platform::DeleteFile(std::string_view path) {
  return SuccessOrLastError(::DeleteFileA(CString(path).c_str()));
}

uint32_t Win32Platform::CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  const std::string source = CString(from);
  // Only a file on a disk is copied: a pipe, a console or another device is refused
  // as a directory is, before anything reads from it and waits.
  HANDLE probe =
      ::CreateFileA(source.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return static_cast<uint32_t>(::GetLastError());
  const bool onDisk = ::GetFileType(probe) == FILE_TYPE_DISK;
  ::CloseHandle(probe);
  if (!onDisk) return ERROR_ACCESS_DENIED;
  return SuccessOrLastError(
      ::CopyFileA(source.c_str(), CString(to).c_str(), failIfExists ? TRUE : FALSE));
}

std::optional<uint64_t> Win32Platform::FileSize(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(CString(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::unique_ptr<File> Win32Platform::OpenExistingFile(std::string_view path, uint32_t& error) {
  HANDLE handle = OpenDiskFile(CString(path), GENERIC_READ | GENERIC_WRITE, error);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

std::unique_ptr<File> Win32Platform::OpenFileForReading(std::string_view path, uint32_t& error) {
  HANDLE handle = OpenDiskFile(CString(path), GENERIC_READ, error);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle, false);
}

std::unique_ptr<File> Win32Platform::CreateUniqueFile(std::string_view prefix,
                                                      std::string& createdPath, uint32_t& error) {
  const std::string base = CString(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = base + RandomSuffix();
    // CREATE_NEW never opens what lies there already, not even a link.
    HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      createdPath = name;
      error = 0;
      return std::make_unique<Win32File>(handle);
    }
    const DWORD e = ::GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) {
      error = static_cast<uint32_t>(e);
      return nullptr;
    }
  }
  error = kErrorFileExists;
  return nullptr;
}

uint32_t Win32Platform::RenameFile(std::string_view from, std::string_view to) {
  return SuccessOrLastError(::MoveFileExA(CString(from).c_str(), CString(to).c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

std::unique_ptr<FileLock> Win32Platform::LockFile(std::string_view path, uint32_t& error) {
  const std::string p = CString(path);
  HANDLE handle = OpenDiskFile(p, GENERIC_READ, error);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  OVERLAPPED at = LockPlace();
  if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD e = ::GetLastError();
    ::CloseHandle(handle);
    error = e == ERROR_IO_PENDING ? kErrorLockViolation : static_cast<uint32_t>(e);
    return nullptr;
  }
  error = 0;
  return std::make_unique<Win32FileLock>(handle, p);
}

std::optional<std::string> Win32Platform::FinalPath(std::string_view path) {
  const std::string p = CString(path);
  HANDLE handle =
      ::CreateFileA(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  // Looked up at run time: systems before Vista have no links and no such call.
  using GetFinalPath = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  static const GetFinalPath get = reinterpret_cast<GetFinalPath>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  std::string out = p;
  if (get != nullptr) {
    std::vector<char> buffer(MAX_PATH * 4, '\0');
    const DWORD n = get(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (n > 0 && n < buffer.size()) {
      out.assign(buffer.data(), n);
      if (out.rfind("\\\\?\\UNC\\", 0) == 0) {
        out = "\\\\" + out.substr(8);
      } else if (out.rfind("\\\\?\\", 0) == 0) {
        out = out.substr(4);
      }
    }
  }
  ::CloseHandle(handle);
  return out;
}

uint32_t Win32Platform::ListDirectory(std::string_view path, std::vector<std::string>& names) {
  std::string pattern = CString(path);
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found{};
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return static_cast<uint32_t>(::GetLastError());
  names.clear();
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(search, &found));
  const DWORD e = ::GetLastError();
  ::FindClose(search);
  return e == ERROR_NO_MORE_FILES ? 0u : static_cast<uint32_t>(e);
}

void Win32Platform::WriteStandardOutput(std::string_view text) {
  // A windowed program may have no standard output at all; then the line is dropped.
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  std::string line = CString(text);
  line += "\r\n";
  DWORD written = 0;
  ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void Win32Platform::ExitProcess(int status) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace varmex::platform
