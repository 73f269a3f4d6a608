// What the two unpacking tools (libarchive on POSIX, stored entries on Windows) share,
// so that they answer alike: the exit codes, the command line, the texts of their
// messages, and the rules every entry of an archive must pass before anything is
// written. The rules are the same for "t", "e" and "x": a test refuses whatever an
// unpacking would refuse, so a medium that cannot be unpacked is caught before the
// installer writes anything.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/rarformat/rar_headers.h"

namespace varmex::tools {

// Exit codes (also listed in the usage text).
enum UnrarExit : int {
  kUnrarOk = 0,
  kUnrarNotAnArchive = 2,  // not a RAR archive, or a feature the reader lacks
  kUnrarDamaged = 3,       // bad checksum, bad header, truncated archive
  kUnrarWriteFailed = 5,   // the destination or a file in it cannot be written
  kUnrarOpenFailed = 6,    // the archive is missing, not a regular file, or unreadable
  kUnrarUsage = 7,         // bad command line
  kUnrarUnsafeEntry = 9,   // an entry would land outside DEST, is a link, or clashes
};

struct UnrarOutcome {
  int exitCode = kUnrarOk;
  std::string reason;  // one line, empty on success
};

struct UnrarCommand {
  char command = 't';  // 't', 'e' or 'x'
  std::string archive;
  std::string dest = ".";
};

// Reads the words after the program name. Every word that starts with '-' is a switch:
// "-y" is taken (the tools always answer yes), anything else is a bad command line.
UnrarOutcome ParseUnrarCommand(const std::vector<std::string>& args, UnrarCommand& command);

// The text printed after the reason of a bad command line.
extern const char* const kUnrarUsageText;

// Prints a failure's reason (and the usage after a bad command line) on standard
// error; returns the exit code.
int ReportUnrar(const UnrarOutcome& outcome);

// `text` with each byte of a control character (C0, DEL, C1 as a byte or in UTF-8:
// platform/terminal_text.h) shown as \xHH, so that no name reaches the terminal raw.
std::string Printable(std::string_view text);
// An entry name as messages show it: '/' between folders, control characters escaped.
std::string ShownEntryName(std::string_view name);

// The messages, one per kind of failure.
UnrarOutcome OpenFailed(const std::string& path, const std::string& why);
UnrarOutcome WalkFailed(const std::string& path, const RarHeaders& walk);
UnrarOutcome EntryDamaged(const std::string& name, const std::string& why);
UnrarOutcome EntryRefused(int exitCode, const std::string& name, const std::string& why);
UnrarOutcome WriteFailed(const std::string& path, const std::string& why);
UnrarOutcome FolderFailed(const std::string& path, const std::string& why);

// Splits an entry name into the folders and the name it has under the destination
// ('/' and '\' both separate, "." parts dropped). False when nothing is left, or when
// it is absolute, names a drive or a stream (any ':'), climbs with "..", or uses a
// Windows device name (CON, NUL, COM1 ...).
bool SplitEntryName(const std::string& name, std::vector<std::string>& parts);

// Judges the entries of one archive in order.
class EntryRules {
 public:
  // `storedOnly`: compressed entries are refused (the Windows tool cannot unpack them).
  explicit EntryRules(bool storedOnly) : storedOnly_(storedOnly) {}

  // Judges the next entry; on success `parts` holds its place under the destination.
  // A name holding a control character is refused: it would be written into the
  // destination as it is, and shown on a terminal by whoever lists the folder.
  UnrarOutcome Admit(const RarFileHeader& entry, std::vector<std::string>& parts);

  // The place `parts` of entry `name`, a folder or a file: refused when it repeats an
  // earlier entry's place or puts a file and a folder at one place. Places are
  // compared without regard to case, as the destination's names are.
  UnrarOutcome Place(const std::string& name, const std::vector<std::string>& parts, bool folder);

 private:
  bool storedOnly_;
  std::unordered_map<std::string, bool> places_;  // folded place -> it is a folder
};

}  // namespace varmex::tools
