// Keeps the files a migration changes in place restorable until the migration ends, so
// that a run that is killed, or stopped by a full disk, leaves nothing half written.
//
// Before the writing steps, each file of the set is copied whole to "<file>.anulare";
// once every copy is complete, the list of files is written to "preluare.jurnal" in the
// data folder (under a temporary name first, renamed when complete, so the journal is
// either whole or absent). From then on the steps write the files in place. When they
// are done and every file is closed, the journal is deleted: that one deletion is the
// moment the migration's changes stand. The copies are deleted after it.
//
// A run that finds a journal (the earlier run ended without getting there) puts every
// listed file back from its copy, by renaming, before it does anything else, and only
// then deletes the journal; a run killed while it restores restores again the next
// time. Whatever else an earlier run may have left (copies without a journal, a journal
// being written, the temporary file of an enlargement) is removed at the same time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace varmex::migration {

inline constexpr std::string_view kJournalName = "preluare.jurnal";
inline constexpr std::string_view kUndoSuffix = ".anulare";

// What went wrong with a file of the journal: the file and the system's error code.
struct JournalProblem {
  std::string path;
  uint32_t error = 0;
  bool ok() const { return error == 0; }
};

class UndoJournal {
 public:
  // `dataDir` (without its final backslash) holds the journal; `folders` are every
  // folder whose files the journal may list (the data folder among them): stale
  // temporaries are looked for there, and a listed file outside them is never touched.
  // `os` is the platform of the run, through which every file is copied and put back.
  UndoJournal(platform::Platform& os, std::string dataDir, std::vector<std::string> folders);

  // Restores the files of an unfinished earlier run and removes stale temporaries.
  JournalProblem Recover();

  // Copies every existing file of `paths` and writes the journal. A file that cannot be
  // copied for want of room fails the whole; one that cannot for another reason is left
  // out (it cannot be opened for writing either). On failure nothing of it is left.
  JournalProblem Begin(const std::vector<std::string>& paths);

  // The migration's changes stand: the journal goes, then the copies.
  void Commit();

  // Puts every file back as it was at Begin. Every handle to the files must be closed.
  JournalProblem RollBack();

  bool active() const { return active_; }
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::string JournalPath() const;
  bool Inside(const std::string& path) const;
  JournalProblem Restore(const std::vector<std::string>& paths);
  uint32_t Detach(const std::string& path) const;
  void RemoveStaleFiles();

  platform::Platform& os_;
  std::string dataDir_;
  std::vector<std::string> folders_;
  std::vector<std::string> files_;
  bool active_ = false;
};

}  // namespace varmex::migration
