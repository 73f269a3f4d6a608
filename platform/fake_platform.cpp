#include "platform/fake_platform.h"

#include <algorithm>
#include <cctype>

namespace varmex::platform {
namespace {

class FakeFile : public File {
 public:
  FakeFile(std::vector<uint8_t>* bytes, bool writable, std::function<void()> onClose)
      : bytes_(bytes), writable_(writable), onClose_(std::move(onClose)) {}
  ~FakeFile() override { onClose_(); }
  FakeFile(const FakeFile&) = delete;
  FakeFile& operator=(const FakeFile&) = delete;
  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
    got = 0;
    if (offset < bytes_->size()) {
      got = std::min<uint64_t>(out.size(), bytes_->size() - offset);
      std::copy_n(bytes_->begin() + static_cast<ptrdiff_t>(offset), got, out.begin());
    }
    return 0;
  }
  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
    put = 0;
    if (!writable_) return kErrorAccessDenied;
    if (bytes_->size() < offset + in.size()) bytes_->resize(offset + in.size(), 0);
    std::copy(in.begin(), in.end(), bytes_->begin() + static_cast<ptrdiff_t>(offset));
    put = in.size();
    return 0;
  }
  uint32_t Flush() override { return 0; }
  // Like a file system that keeps every page of zeros (4096 bytes) as a hole.
  std::pair<uint64_t, uint64_t> DataExtent(uint64_t offset) override {
    constexpr uint64_t kPage = 4096;
    const uint64_t size = bytes_->size();
    const auto zeroPage = [&](uint64_t at) {
      const auto from = bytes_->begin() + static_cast<ptrdiff_t>(at);
      const auto to = bytes_->begin() + static_cast<ptrdiff_t>(std::min(at + kPage, size));
      return std::all_of(from, to, [](uint8_t b) { return b == 0; });
    };
    uint64_t page = offset / kPage * kPage;
    while (page < size && zeroPage(page)) page += kPage;
    if (page >= size) return {std::max(offset, size), std::max(offset, size)};
    uint64_t end = page + kPage;
    while (end < size && !zeroPage(end)) end += kPage;
    return {std::max(offset, page), std::min(end, size)};
  }

 private:
  std::vector<uint8_t>* bytes_;
  bool writable_;
  std::function<void()> onClose_;
};

}  // namespace

// A hold of the fake: the key stays in the shared set of held files while it lives.
class FakePlatform::FakeLock : public FileLock {
 public:
  FakeLock(FakePlatform& platform, std::string path)
      : platform_(platform), handles_(platform.handles_), path_(std::move(path)) {
    handles_->held.insert(Key(path_));
  }
  ~FakeLock() override { handles_->held.erase(Key(path_)); }
  FakeLock(const FakeLock&) = delete;
  FakeLock& operator=(const FakeLock&) = delete;

  // As on Windows: the hold is given up first, then the name is replaced.
  uint32_t ReplaceWith(std::string_view replacement) override {
    handles_->held.erase(Key(path_));
    auto held = platform_.entries_.find(Key(path_));
    const uint32_t attributes =
        held == platform_.entries_.end() ? kAttributeNormal : held->second.attributes;
    const uint32_t error = platform_.RenameFile(replacement, path_);
    if (error != 0) return error;
    platform_.entries_[Key(path_)].attributes = attributes;
    return 0;
  }

 private:
  FakePlatform& platform_;
  std::shared_ptr<Handles> handles_;
  std::string path_;
};

FakePlatform::FakePlatform() : previous_(Install(this)) {}
FakePlatform::~FakePlatform() { Install(previous_); }

std::string FakePlatform::Key(std::string_view path) {
  std::string key(path);
  std::replace(key.begin(), key.end(), '/', '\\');
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::string FakePlatform::Parent(const std::string& key) {
  const size_t slash = key.rfind('\\');
  if (slash == std::string::npos) return "";
  return key.substr(0, slash == 2 ? 3 : slash);
}

std::string FakePlatform::LastPart(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void FakePlatform::AddFile(std::string_view path, std::vector<uint8_t> bytes) {
  Entry e;
  e.name = LastPart(path);
  e.bytes = std::move(bytes);
  entries_[Key(path)] = std::move(e);
}

void FakePlatform::AddDirectory(std::string_view path) {
  Entry e;
  e.name = LastPart(path);
  e.directory = true;
  e.attributes = kAttributeDirectory;
  entries_[Key(path)] = std::move(e);
}

bool FakePlatform::Exists(std::string_view path) const { return entries_.count(Key(path)) != 0; }

std::vector<uint8_t>* FakePlatform::Bytes(std::string_view path) {
  auto it = entries_.find(Key(path));
  return it == entries_.end() || it->second.directory ? nullptr : &it->second.bytes;
}

int FakePlatform::MessageBox(std::string_view text, std::string_view caption, uint32_t style) {
  messages.push_back({std::string(text), std::string(caption), style});
  if (answerMessage) return answerMessage(messages.back());
  return (style & kMbYesNo) ? kIdNo : kIdOk;
}

intptr_t FakePlatform::DialogBox(int resourceId, DialogProcedure& proc) {
  if (runDialog) return runDialog(resourceId, proc);
  lastError = kErrorResourceNotFound;
  return -1;
}

ProcessResult FakePlatform::RunProcess(std::string_view commandLine, bool wantExitCode) {
  runs.push_back({std::string(commandLine), wantExitCode});
  if (runProcess) return runProcess(runs.back());
  return ProcessResult{kErrorFileNotFound, std::nullopt};
}

uint32_t FakePlatform::GetFileAttributes(std::string_view path) {
  auto it = entries_.find(Key(path));
  return it == entries_.end() ? kInvalidFileAttributes : it->second.attributes;
}

uint32_t FakePlatform::CreateDirectory(std::string_view path) {
  const std::string key = Key(path);
  if (entries_.count(key)) return kErrorAlreadyExists;
  const std::string parent = Parent(key);
  if (parent.size() > 3 && (!entries_.count(parent) || !entries_[parent].directory)) {
    return kErrorPathNotFound;
  }
  AddDirectory(path);
  return 0;
}

uint32_t FakePlatform::GetDriveType(std::string_view root) {
  if (root.empty()) return kDriveNoRootDir;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
  auto it = driveTypes.find(letter);
  return it == driveTypes.end() ? kDriveNoRootDir : it->second;
}

uint32_t FakePlatform::SetFileAttributes(std::string_view path, uint32_t attributes) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) return kErrorFileNotFound;
  it->second.attributes = it->second.directory ? (attributes | kAttributeDirectory) : attributes;
  return 0;
}

uint32_t FakePlatform::DeleteFile(std::string_view path) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) return kErrorFileNotFound;
  if (it->second.directory || (it->second.attributes & kAttributeReadOnly))
    return kErrorAccessDenied;
  entries_.erase(it);
  return 0;
}

uint32_t FakePlatform::CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  auto src = entries_.find(Key(from));
  if (src == entries_.end() || src->second.directory) return kErrorFileNotFound;
  auto dst = entries_.find(Key(to));
  if (dst != entries_.end()) {
    if (failIfExists) return kErrorFileExists;
    if (dst->second.directory || (dst->second.attributes & kAttributeReadOnly))
      return kErrorAccessDenied;
  }
  Entry copy = src->second;
  copy.name = LastPart(to);
  entries_[Key(to)] = std::move(copy);
  return 0;
}

std::optional<uint64_t> FakePlatform::FileSize(std::string_view path) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end() || it->second.directory) return std::nullopt;
  return it->second.bytes.size();
}

std::unique_ptr<File> FakePlatform::Open(std::string_view path, bool writable, uint32_t& error) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) {
    error = kErrorFileNotFound;
    return nullptr;
  }
  if (it->second.directory || (writable && (it->second.attributes & kAttributeReadOnly))) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  error = 0;
  const std::string key = Key(path);
  ++handles_->open[key];
  return std::make_unique<FakeFile>(&it->second.bytes, writable,
                                    [handles = handles_, key] { --handles->open[key]; });
}

std::unique_ptr<File> FakePlatform::OpenExistingFile(std::string_view path, uint32_t& error) {
  return Open(path, true, error);
}

std::unique_ptr<File> FakePlatform::OpenFileForReading(std::string_view path, uint32_t& error) {
  return Open(path, false, error);
}

std::unique_ptr<File> FakePlatform::CreateUniqueFile(std::string_view prefix,
                                                     std::string& createdPath, uint32_t& error) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (int i = 0; i < 12; ++i) name += kAlphabet[names_() % (sizeof kAlphabet - 1)];
    if (entries_.count(Key(name)) != 0) continue;
    AddFile(name, {});
    createdPath = name;
    return Open(name, true, error);
  }
  error = kErrorFileExists;
  return nullptr;
}

uint32_t FakePlatform::RenameFile(std::string_view from, std::string_view to) {
  auto src = entries_.find(Key(from));
  if (src == entries_.end()) return kErrorFileNotFound;
  if (src->second.directory) return kErrorAccessDenied;
  auto dst = entries_.find(Key(to));
  if (dst != entries_.end() && dst->second.directory) return kErrorAccessDenied;
  if (handles_->open[Key(from)] > 0 || handles_->open[Key(to)] > 0 ||
      handles_->held.count(Key(to)) != 0) {
    return kErrorSharingViolation;
  }
  Entry moved = std::move(src->second);
  moved.name = LastPart(to);
  entries_.erase(src);
  entries_[Key(to)] = std::move(moved);
  return 0;
}

std::unique_ptr<FileLock> FakePlatform::LockFile(std::string_view path, uint32_t& error) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) {
    error = kErrorFileNotFound;
    return nullptr;
  }
  if (it->second.directory) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  if (handles_->held.count(Key(path)) != 0) {
    error = kErrorLockViolation;
    return nullptr;
  }
  error = 0;
  return std::make_unique<FakeLock>(*this, std::string(path));
}

std::optional<std::string> FakePlatform::FinalPath(std::string_view path) {
  if (entries_.count(Key(path)) == 0) return std::nullopt;
  return std::string(path);
}

uint32_t FakePlatform::ListDirectory(std::string_view path, std::vector<std::string>& names) {
  // Files may be added without their folders; "." is the folder of names without one.
  const std::string key = path == "." ? std::string() : Key(path);
  auto dir = entries_.find(key);
  if (dir != entries_.end() && !dir->second.directory) return kErrorInvalidParameter;
  names.clear();
  for (const auto& [k, e] : entries_) {
    if (k != key && Parent(k) == key) names.push_back(e.name);
  }
  return dir == entries_.end() && names.empty() ? uint32_t{kErrorPathNotFound} : 0u;
}

void FakePlatform::WriteStandardOutput(std::string_view text) { standardOutput.append(text); }

void FakePlatform::ExitProcess(int status) { throw ExitCalled{status}; }

}  // namespace varmex::platform
