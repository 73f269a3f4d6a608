// Copying one data file of the old collection into the new tree.
#include "migration/transfer.h"

#include <cctype>
#include <optional>
#include <string>

#include "installer/messages.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "platform/platform.h"

namespace varmex::migration {
namespace {

// Two spellings of one path name the same file on Windows when they differ only in
// case or in the kind of slash.
bool SamePath(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = static_cast<char>(std::tolower(static_cast<unsigned char>(a[i])));
    char y = static_cast<char>(std::tolower(static_cast<unsigned char>(b[i])));
    if (x == '/') x = '\\';
    if (y == '/') y = '\\';
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(io::PlatformText(directory));
  path.append(io::PlatformText(name));
  if (path.size() > kPathLength) path.resize(kPathLength);
  return std::string(io::TrimRight(path));
}

std::string InFolder(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '\\';
  path += name;
  return path;
}

bool LiesInside(platform::Platform& os, std::string_view path, std::string_view folder) {
  const std::optional<std::string> file = os.FinalPath(path);
  if (!file) return false;
  const std::string where = os.FinalPath(folder).value_or(std::string(folder));
  const size_t slash = file->find_last_of("\\/");
  return slash != std::string::npos && SamePath(file->substr(0, slash), where);
}

void ClearReadOnlyInside(platform::Platform& os, std::string_view path, std::string_view folder) {
  if (LiesInside(os, path, folder)) os.SetFileAttributes(path, platform::kAttributeNormal);
}

TransferResult TransferDataFile(platform::Platform& os, std::string_view name,
                                std::string_view sourceDir, std::string_view destinationDir,
                                bool required) {
  const std::string source = JoinPath(sourceDir, name);
  const std::string destination = JoinPath(destinationDir, name);

  if (os.GetFileAttributes(source) == platform::kInvalidFileAttributes) {
    if (required) installer::ShowWarning(os, "Nu exista fisierul " + source);
    return {};
  }
  // An old collection named inside the new tree: the file is already where it belongs,
  // and deleting the destination would destroy the only copy.
  if (SamePath(source, destination)) return {};

  std::string folder(io::TrimRight(io::PlatformText(destinationDir)));
  if (folder.ends_with('\\')) folder.pop_back();
  ClearReadOnlyInside(os, destination, folder);
  os.DeleteFile(destination);
  uint32_t error = 0;
  // A destination still there after the delete is not replaced: were it a link, the
  // copy would write through it into whatever it points at.
  if (os.GetFileAttributes(destination) != platform::kInvalidFileAttributes) {
    error = platform::kErrorAccessDenied;
  } else {
    error = os.CopyFile(source, destination, false);
  }
  if (error != 0) {
    std::string text = "Eroare [" + io::FormatRightWhole(error, 5) + "] la copierea fisierului " +
                       std::string(io::TrimRight(name)) + "!";
    if (io::IsDiskFull(static_cast<int>(error))) text += "\n" + std::string(kDiskFullAdvice);
    installer::ShowError(os, text);
    return {false, error};
  }
  // A file restored from a CD or a backup is often read-only, and the copy keeps the
  // mark; the suite must be able to open its new collection for writing.
  os.SetFileAttributes(destination, platform::kAttributeNormal);
  return {true, 0};
}

}  // namespace varmex::migration
