#include "platform/fake_platform.h"

#include <algorithm>
#include <cctype>

namespace varmex::platform {
namespace {

class FakeFile : public File {
 public:
  explicit FakeFile(std::vector<uint8_t>* bytes) : bytes_(bytes) {}
  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) override {
    got = 0;
    if (offset < bytes_->size()) {
      got = std::min<uint64_t>(out.size(), bytes_->size() - offset);
      std::copy_n(bytes_->begin() + static_cast<ptrdiff_t>(offset), got, out.begin());
    }
    return 0;
  }
  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> in, size_t& put) override {
    if (bytes_->size() < offset + in.size()) bytes_->resize(offset + in.size(), 0);
    std::copy(in.begin(), in.end(), bytes_->begin() + static_cast<ptrdiff_t>(offset));
    put = in.size();
    return 0;
  }

 private:
  std::vector<uint8_t>* bytes_;
};

}  // namespace

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

void FakePlatform::AddFile(std::string_view path, std::vector<uint8_t> bytes) {
  Entry e;
  e.bytes = std::move(bytes);
  entries_[Key(path)] = std::move(e);
}

void FakePlatform::AddDirectory(std::string_view path) {
  Entry e;
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
  entries_[Key(to)] = std::move(copy);
  return 0;
}

std::optional<uint64_t> FakePlatform::FileSize(std::string_view path) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end() || it->second.directory) return std::nullopt;
  return it->second.bytes.size();
}

std::unique_ptr<File> FakePlatform::OpenExistingFile(std::string_view path, uint32_t& error) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) {
    error = kErrorFileNotFound;
    return nullptr;
  }
  if (it->second.directory || (it->second.attributes & kAttributeReadOnly)) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  return std::make_unique<FakeFile>(&it->second.bytes);
}

void FakePlatform::WriteStandardOutput(std::string_view text) { standardOutput.append(text); }

void FakePlatform::ExitProcess(int status) { throw ExitCalled{status}; }

}  // namespace varmex::platform
