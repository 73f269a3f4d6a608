// The journal that makes a migration's in-place writes undoable (design in the header).
#include "migration/undo_journal.h"

#include <algorithm>
#include <utility>

#include "io/fixed_text.h"
#include "migration/transfer.h"
#include "platform/platform.h"
#include "store/redistribute.h"

namespace varmex::migration {
namespace {

constexpr std::string_view kEndLine = "sfarsit";
constexpr size_t kLongestJournal = size_t{1} << 20;

// Names that only an earlier run of this program makes: a copy kept for undoing (or one
// being made), a journal being written, the new file of an enlargement.
bool IsLeftover(std::string_view name) {
  const std::string lower = io::Lowercase(name);
  return lower.ends_with(kUndoSuffix) ||
         lower.find(std::string(kUndoSuffix) + "-") != std::string::npos ||
         lower.starts_with(std::string(kJournalName) + "-") || store::IsRespreadingTemporary(name);
}

bool Exists(platform::Platform& os, const std::string& path) {
  return os.GetFileAttributes(path) != platform::kInvalidFileAttributes;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// Clears the read-only mark of a file of the new tree, never that of what a link in it
// points at.
void ClearMark(platform::Platform& os, const std::string& path) {
  ClearReadOnlyInside(os, path, FolderOf(path));
}

// The journal's lines, when it is whole (its last line is kEndLine); nullopt-like
// `whole` false otherwise.
struct JournalText {
  bool whole = false;
  std::vector<std::string> paths;
};

JournalText ReadJournal(platform::Platform& os, const std::string& path, uint32_t& error) {
  JournalText out;
  std::unique_ptr<platform::File> file = os.OpenFileForReading(path, error);
  if (!file) return out;
  std::string text(kLongestJournal, '\0');
  size_t got = 0;
  error = file->ReadAt(0, std::span(reinterpret_cast<uint8_t*>(text.data()), text.size()), got);
  if (error != 0) return out;
  text.resize(got);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line == kEndLine) {
      out.whole = start == text.size();
      return out;
    }
    out.paths.push_back(std::move(line));
  }
  return out;
}

}  // namespace

UndoJournal::UndoJournal(platform::Platform& os, std::string dataDir,
                         std::vector<std::string> folders)
    : os_(os), dataDir_(std::move(dataDir)), folders_(std::move(folders)) {}

std::string UndoJournal::JournalPath() const { return dataDir_ + "\\" + std::string(kJournalName); }

// A journal names only files directly inside the folders it serves: one found with any
// other path was not written by this program and is not followed.
bool UndoJournal::Inside(const std::string& path) const {
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos || path.find('\n') != std::string::npos) return false;
  const std::string folder = io::Lowercase(path.substr(0, slash));
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const std::string& f) { return io::Lowercase(f) == folder; });
}

JournalProblem UndoJournal::Restore(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const std::string copy = path + std::string(kUndoSuffix);
    if (!Exists(os_, copy)) continue;  // restored by an earlier try
    // The file may have been made read-only meanwhile.
    if (Exists(os_, path)) ClearMark(os_, path);
    if (const uint32_t error = os_.RenameFile(copy, path); error != 0) return {path, error};
  }
  return {};
}

void UndoJournal::RemoveStaleFiles() {
  for (const std::string& folder : folders_) {
    std::vector<std::string> names;
    if (os_.ListDirectory(folder, names) != 0) continue;
    for (const std::string& name : names) {
      if (!IsLeftover(name)) continue;
      const std::string path = InFolder(folder, name);
      ClearMark(os_, path);
      os_.DeleteFile(path);
    }
  }
}

JournalProblem UndoJournal::Recover() {
  const std::string journal = JournalPath();
  if (Exists(os_, journal)) {
    uint32_t error = 0;
    const JournalText text = ReadJournal(os_, journal, error);
    if (error != 0) return {journal, error};
    // A journal that is not whole was not written by this program (it renames a
    // journal into place only once complete): it is left for a person to look at.
    if (!text.whole || !std::all_of(text.paths.begin(), text.paths.end(),
                                    [this](const std::string& p) { return Inside(p); })) {
      return {journal, platform::kErrorInvalidParameter};
    }
    if (JournalProblem p = Restore(text.paths); !p.ok()) return p;
    ClearMark(os_, journal);
    if (const uint32_t e = os_.DeleteFile(journal); e != 0) return {journal, e};
  }
  RemoveStaleFiles();
  return {};
}

// A file of the new tree that is a link to a file elsewhere (the old collection, say)
// becomes a file of its own with the same bytes, so that the steps never write through
// the link.
uint32_t UndoJournal::Detach(const std::string& path) const {
  const std::optional<std::string> target = os_.FinalPath(path);
  if (!target || LiesInside(os_, path, FolderOf(path))) return 0;
  std::string temporary;
  uint32_t error = 0;
  if (!os_.CreateUniqueFile(path + std::string(kUndoSuffix) + "-", temporary, error)) return error;
  error = os_.CopyFile(*target, temporary, false);
  if (error == 0) os_.SetFileAttributes(temporary, platform::kAttributeNormal);
  if (error == 0) error = os_.RenameFile(temporary, path);
  if (error != 0) os_.DeleteFile(temporary);
  return error;
}

JournalProblem UndoJournal::Begin(const std::vector<std::string>& paths) {
  files_.clear();
  auto undo = [&](JournalProblem p) {
    for (const std::string& f : files_) os_.DeleteFile(f + std::string(kUndoSuffix));
    files_.clear();
    return p;
  };
  std::string text;
  for (const std::string& path : paths) {
    if (!Exists(os_, path)) continue;
    const std::string copy = path + std::string(kUndoSuffix);
    ClearMark(os_, copy);
    if (const uint32_t error = Detach(path); error != 0) return undo({path, error});
    files_.push_back(path);
    if (const uint32_t error = os_.CopyFile(path, copy, false); error != 0) {
      // No room for the copy stops the migration; a file that cannot be copied for
      // another reason (not a plain file, say) cannot be opened for the steps either,
      // and its opening names the problem.
      if (error == platform::kErrorDiskFull || error == platform::kErrorHandleDiskFull)
        return undo({path, error});
      files_.pop_back();
      os_.DeleteFile(copy);
      continue;
    }
    text += path + "\n";
  }
  text += std::string(kEndLine) + "\n";

  std::string temporary;
  uint32_t error = 0;
  std::unique_ptr<platform::File> file =
      os_.CreateUniqueFile(JournalPath() + "-", temporary, error);
  if (!file) return undo({JournalPath(), error});
  size_t put = 0;
  error =
      file->WriteAt(0, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), put);
  if (error == 0 && put < text.size()) error = platform::kErrorDiskFull;
  if (error == 0) error = file->Flush();
  file.reset();
  if (error == 0) error = os_.RenameFile(temporary, JournalPath());
  if (error != 0) {
    os_.DeleteFile(temporary);
    return undo({JournalPath(), error});
  }
  active_ = true;
  return {};
}

void UndoJournal::Commit() {
  if (!active_) return;
  // Should the journal stay (a file made read-only, say), the next run would undo a
  // finished migration; its read-only mark is ours to clear.
  ClearMark(os_, JournalPath());
  os_.DeleteFile(JournalPath());
  for (const std::string& f : files_) {
    ClearMark(os_, f + std::string(kUndoSuffix));
    os_.DeleteFile(f + std::string(kUndoSuffix));
  }
  active_ = false;
}

JournalProblem UndoJournal::RollBack() {
  if (!active_) return {};
  if (JournalProblem p = Restore(files_); !p.ok()) return p;
  os_.DeleteFile(JournalPath());
  active_ = false;
  RemoveStaleFiles();
  return {};
}

}  // namespace varmex::migration
