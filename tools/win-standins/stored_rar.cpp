// The stored-entry unpacking tool of the Windows build (see stored_rar.h), on Win32
// file calls: the header walk and the entry rules first, then each stored file read
// from its place in the archive, checked, and moved into place.
#include "tools/win-standins/stored_rar.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>  // rand_s (with _CRT_RAND_S): temporary names no one can guess

#include "tools/rarformat/rar_layout.h"

namespace varmex::tools {
namespace {

// The texts the POSIX tool takes from strerror, for the codes both can meet.
std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_SUCCESS:  // a failed write that gives no reason (Wine, over a size limit)
      return "Input/output error";
    default:
      return "Windows error " + std::to_string(code);
  }
}

std::string LastErrorText() { return ErrorText(GetLastError()); }

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const bool ok = !valid() || CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

class HandleSource : public RarSource {
 public:
  HandleSource(HANDLE h, uint64_t size) : h_(h), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(h_, at, nullptr, FILE_BEGIN)) {
      return false;
    }
    while (n > 0) {
      const DWORD want = n > (1u << 20) ? (1u << 20) : static_cast<DWORD>(n);
      DWORD got = 0;
      if (!ReadFile(h_, out, want, &got, nullptr) || got == 0) {
        return false;
      }
      out += got;
      n -= got;
    }
    return true;
  }

 private:
  HANDLE h_;
  uint64_t size_;
};

// Opens the archive for reading; only a file on disk is taken. Opening a pipe or a
// device such as CON does not wait, but reading it could wait for ever.
UnrarOutcome OpenArchive(const std::string& path, Handle& archive, uint64_t& size) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return OpenFailed(path, "is a folder");
  }
  archive.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive.valid()) {
    return OpenFailed(path, LastErrorText());
  }
  LARGE_INTEGER length;
  if (GetFileType(archive.get()) != FILE_TYPE_DISK || !GetFileSizeEx(archive.get(), &length)) {
    return OpenFailed(path, "not a regular file");
  }
  size = static_cast<uint64_t>(length.QuadPart);
  return {};
}

class StoredUnpacker {
 public:
  StoredUnpacker(char command, std::string dest) : command_(command), dest_(std::move(dest)) {}

  UnrarOutcome Run(const std::string& archivePath) {
    Handle archive;
    uint64_t size = 0;
    UnrarOutcome opened = OpenArchive(archivePath, archive, size);
    if (opened.exitCode != kUnrarOk) {
      return opened;
    }
    HandleSource source(archive.get(), size);
    const RarHeaders walk = WalkRarHeaders(source);
    if (walk.problem != RarProblem::kNone) {
      return WalkFailed(archivePath, walk);
    }
    EntryRules rules(true);
    std::vector<std::vector<std::string>> places(walk.files.size());
    for (size_t i = 0; i < walk.files.size(); ++i) {
      UnrarOutcome admitted = rules.Admit(walk.files[i], places[i]);
      if (admitted.exitCode != kUnrarOk) {
        return admitted;
      }
    }
    for (size_t i = 0; i < walk.files.size(); ++i) {
      UnrarOutcome one = HandleEntry(source, walk.files[i], places[i]);
      if (one.exitCode != kUnrarOk) {
        return one;
      }
    }
    return {};
  }

 private:
  UnrarOutcome HandleEntry(RarSource& source, const RarFileHeader& entry,
                           std::vector<std::string>& parts) {
    if (entry.kind == RarEntryKind::kFolder) {
      if (command_ != 'x') {
        return {};
      }
      std::string folder;
      return MakeFolders(parts, parts.size(), folder);
    }
    if (command_ == 't') {
      return CopyData(source, entry, INVALID_HANDLE_VALUE, "");
    }
    if (command_ == 'e') {
      parts = {parts.back()};
    }
    std::string folder;
    UnrarOutcome made = MakeFolders(parts, parts.size() - 1, folder);
    if (made.exitCode != kUnrarOk) {
      return made;
    }
    return WriteFile(source, entry, folder + "\\" + parts.back(), folder);
  }

  // Copies the entry into a new temporary file in `folder` and moves it over `path`
  // once its size and checksum are right; on any failure the temporary file goes.
  UnrarOutcome WriteFile(RarSource& source, const RarFileHeader& entry, const std::string& path,
                         const std::string& folder) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return WriteFailed(path, "a folder of that name exists");
      }
      if (attributes & FILE_ATTRIBUTE_READONLY) {
        return WriteFailed(path, ErrorText(ERROR_ACCESS_DENIED));  // left as it is
      }
    }
    Handle out;
    std::string temp;
    for (int tries = 0; tries < 100 && !out.valid(); ++tries) {
      unsigned int random = 0;
      rand_s(&random);
      char name[32];
      std::snprintf(name, sizeof name, "\\.unrar-%08x", random);
      temp = folder + name;
      out.Reset(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!out.valid() && GetLastError() != ERROR_FILE_EXISTS) {
        return WriteFailed(path, LastErrorText());
      }
    }
    if (!out.valid()) {
      return WriteFailed(path, LastErrorText());
    }
    UnrarOutcome copied = CopyData(source, entry, out.get(), path);
    if (copied.exitCode == kUnrarOk && !out.Close()) {
      copied = WriteFailed(path, LastErrorText());
    }
    if (copied.exitCode == kUnrarOk &&
        !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      copied = WriteFailed(path, LastErrorText());
    }
    if (copied.exitCode != kUnrarOk) {
      out.Close();
      DeleteFileA(temp.c_str());
    }
    return copied;
  }

  // Walks (and makes) the first `count` folders of `parts` under the destination,
  // which is itself made on first use.
  UnrarOutcome MakeFolders(const std::vector<std::string>& parts, size_t count, std::string& path) {
    if (!destMade_) {
      UnrarOutcome made = MakeDestination(dest_);
      if (made.exitCode != kUnrarOk) {
        return made;
      }
      destMade_ = true;
    }
    path = dest_;
    for (size_t i = 0; i < count; ++i) {
      path += "\\" + parts[i];
      UnrarOutcome made = MakeFolder(path);
      if (made.exitCode != kUnrarOk) {
        return made;
      }
    }
    return {};
  }

  static UnrarOutcome MakeFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? UnrarOutcome{}
                 : FolderFailed(path, "a file of that name exists");
    }
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return FolderFailed(path, LastErrorText());
    }
    return {};
  }

  // Makes `dir` and each missing level above it.
  static UnrarOutcome MakeDestination(const std::string& dir) {
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (dir.empty() ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
      return {};
    }
    const size_t cut = dir.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0 && dir[cut - 1] != ':') {
      UnrarOutcome parent = MakeDestination(dir.substr(0, cut));
      if (parent.exitCode != kUnrarOk) {
        return parent;
      }
    }
    return MakeFolder(dir);
  }

  // Reads the entry's stored data from the archive, writing it to `out` when it is a
  // handle, and checks its size and CRC-32.
  static UnrarOutcome CopyData(RarSource& source, const RarFileHeader& entry, HANDLE out,
                               const std::string& path) {
    if (entry.sizeKnown && entry.packedSize != entry.size) {
      return EntryDamaged(entry.name, "holds " + std::to_string(entry.packedSize) +
                                          " bytes, its header says " + std::to_string(entry.size));
    }
    std::vector<uint8_t> block(1 << 16);
    uint32_t crc = 0;
    for (uint64_t done = 0; done < entry.packedSize;) {
      const size_t n = static_cast<size_t>(
          entry.packedSize - done < block.size() ? entry.packedSize - done : block.size());
      if (!source.ReadAt(entry.dataOffset + done, block.data(), n)) {
        return EntryDamaged(entry.name, "read error");
      }
      crc = Crc32(std::span<const uint8_t>(block.data(), n), crc);
      // A short write is followed by another, which then says why it cannot go on.
      for (size_t put = 0; out != INVALID_HANDLE_VALUE && put < n;) {
        DWORD written = 0;
        if (!::WriteFile(out, block.data() + put, static_cast<DWORD>(n - put), &written, nullptr) ||
            written == 0) {
          return WriteFailed(path, LastErrorText());
        }
        put += written;
      }
      done += n;
    }
    if (entry.crc && crc != *entry.crc) {
      return EntryDamaged(entry.name, "checksum error");
    }
    return {};
  }

  char command_;
  std::string dest_;
  bool destMade_ = false;
};

}  // namespace

UnrarOutcome RunStoredUnrar(const std::vector<std::string>& args) {
  UnrarCommand command;
  UnrarOutcome parsed = ParseUnrarCommand(args, command);
  if (parsed.exitCode != kUnrarOk) {
    return parsed;
  }
  return StoredUnpacker(command.command, command.dest).Run(command.archive);
}

}  // namespace varmex::tools
