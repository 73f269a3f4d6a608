// Command line, messages and entry rules shared by both unpacking tools.
#include "tools/unrar/unrar_rules.h"

#include <cstdio>

#include "platform/terminal_text.h"

namespace varmex::tools {

const char* const kUnrarUsageText =
    "usage: unrar t ARCHIVE            test every entry of ARCHIVE\n"
    "       unrar e -y ARCHIVE [DEST]  unpack every file into DEST (default: .), no folders\n"
    "       unrar x -y ARCHIVE [DEST]  unpack keeping the archive's folders\n"
    "Existing files are replaced, each only once its new contents are whole and checked.\n"
    "Exit codes:\n"
    "  0 all entries sound / unpacked\n"
    "  2 not a RAR archive, or an unsupported feature (encryption, volumes)\n"
    "  3 damaged archive (checksum, header, truncated archive)\n"
    "  5 cannot write into the destination\n"
    "  6 cannot open the archive (missing, a folder, not a regular file)\n"
    "  7 bad command line\n"
    "  9 unsafe entry refused (outside DEST, a link, a name met twice, a name holding\n"
    "    a control character)\n";

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = Fold(c);
  }
  return out;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, alone or before an extension.
bool IsDeviceName(const std::string& part) {
  const std::string base = Folded(part.substr(0, part.find('.')));
  if (base == "con" || base == "prn" || base == "aux" || base == "nul") {
    return true;
  }
  return base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

UnrarOutcome ParseUnrarCommand(const std::vector<std::string>& args, UnrarCommand& command) {
  if (args.empty()) {
    return {kUnrarUsage, "no command given"};
  }
  const std::string& first = args[0];
  const char letter = first.size() == 1 ? Fold(first[0]) : '\0';  // either case
  if (letter != 't' && letter != 'e' && letter != 'x') {
    return {kUnrarUsage, "unknown command " + Printable(first)};
  }
  command.command = letter;
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!a.empty() && a[0] == '-') {
      if (a == "-y" || a == "-Y") {
        continue;  // the only answer these tools ever give is yes
      }
      return {kUnrarUsage, "unknown switch " + Printable(a)};
    }
    words.push_back(a);
  }
  if (words.empty()) {
    return {kUnrarUsage, "no archive given"};
  }
  const size_t most = letter == 't' ? 1 : 2;
  if (words.size() > most) {
    return {kUnrarUsage, "unexpected argument " + Printable(words[most])};
  }
  command.archive = words[0];
  if (words.size() > 1) {
    command.dest = words[1];
  }
  return {};
}

int ReportUnrar(const UnrarOutcome& outcome) {
  if (outcome.exitCode != kUnrarOk) {
    std::fprintf(stderr, "unrar: %s\n", outcome.reason.c_str());
    if (outcome.exitCode == kUnrarUsage) {
      std::fputs(kUnrarUsageText, stderr);
    }
  }
  return outcome.exitCode;
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const platform::ControlCharacter c = platform::ControlAt(text, i);
    const size_t sequence = c.length != 0 ? 0 : platform::Utf8SequenceAt(text, i);
    if (sequence != 0) {
      out.append(text.substr(i, sequence));
      i += sequence;
      continue;
    }
    if (c.length == 0) {
      out += text[i++];
      continue;
    }
    // Each byte of the control, C1 in UTF-8 included, as \xHH.
    for (size_t k = 0; k < c.length; ++k, ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xf];
    }
  }
  return out;
}

std::string ShownEntryName(std::string_view name) {
  std::string slashed(name);
  for (char& c : slashed) {
    c = c == '\\' ? '/' : c;
  }
  return Printable(slashed);
}

UnrarOutcome OpenFailed(const std::string& path, const std::string& why) {
  return {kUnrarOpenFailed, "cannot open " + Printable(path) + ": " + why};
}

UnrarOutcome WalkFailed(const std::string& path, const RarHeaders& walk) {
  const std::string shown = Printable(path);
  switch (walk.problem) {
    case RarProblem::kNone:
      return {};
    case RarProblem::kNotRar:
      return {kUnrarNotAnArchive, shown + " is not a RAR archive"};
    case RarProblem::kUnsupported:
      return {kUnrarNotAnArchive, shown + " cannot be read here: " + walk.detail};
    case RarProblem::kUnreadable:
      return {kUnrarOpenFailed, "cannot read " + shown + ": " + walk.detail};
    case RarProblem::kTruncated:
    case RarProblem::kDamaged:
      break;
  }
  return {kUnrarDamaged, shown + " is damaged: " + walk.detail};
}

UnrarOutcome EntryDamaged(const std::string& name, const std::string& why) {
  return {kUnrarDamaged, "damaged entry " + ShownEntryName(name) + ": " + why};
}

UnrarOutcome EntryRefused(int exitCode, const std::string& name, const std::string& why) {
  return {exitCode, "refused entry " + ShownEntryName(name) + ": " + why};
}

UnrarOutcome WriteFailed(const std::string& path, const std::string& why) {
  return {kUnrarWriteFailed, "cannot write " + Printable(path) + ": " + why};
}

UnrarOutcome FolderFailed(const std::string& path, const std::string& why) {
  return {kUnrarWriteFailed, "cannot create folder " + Printable(path) + ": " + why};
}

bool SplitEntryName(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  if (name.empty() || name[0] == '/' || name[0] == '\\') {
    return false;
  }
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/' && name[i] != '\\') {
      part.push_back(name[i]);
      continue;
    }
    if (part == ".." || part.find(':') != std::string::npos || IsDeviceName(part)) {
      return false;
    }
    if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  }
  return !parts.empty();
}

UnrarOutcome EntryRules::Admit(const RarFileHeader& entry, std::vector<std::string>& parts) {
  if (entry.encrypted) {
    return EntryRefused(kUnrarNotAnArchive, entry.name, "encrypted");
  }
  if (entry.split) {
    return EntryRefused(kUnrarNotAnArchive, entry.name, "continued in another volume");
  }
  switch (entry.kind) {
    case RarEntryKind::kFile:
    case RarEntryKind::kFolder:
      break;
    case RarEntryKind::kLink:
      return EntryRefused(kUnrarUnsafeEntry, entry.name, "a link");
    case RarEntryKind::kJunction:
      return EntryRefused(kUnrarUnsafeEntry, entry.name, "a junction");
    case RarEntryKind::kFileCopy:
      return EntryRefused(kUnrarUnsafeEntry, entry.name, "a copy of another entry");
    case RarEntryKind::kSpecial:
      return EntryRefused(kUnrarUnsafeEntry, entry.name, "not a plain file or folder");
  }
  const bool folder = entry.kind == RarEntryKind::kFolder;
  if (!folder && storedOnly_ && !entry.stored) {
    return EntryRefused(kUnrarNotAnArchive, entry.name, "compressed");
  }
  if (!folder && !entry.crc) {
    return EntryRefused(kUnrarNotAnArchive, entry.name, "no data checksum to check it by");
  }
  if (!SplitEntryName(entry.name, parts)) {
    return EntryRefused(kUnrarUnsafeEntry, entry.name, "outside the destination");
  }
  if (platform::HoldsControl(entry.name)) {
    return EntryRefused(kUnrarUnsafeEntry, entry.name, "a control character in its name");
  }
  return Place(entry.name, parts, folder);
}

UnrarOutcome EntryRules::Place(const std::string& name, const std::vector<std::string>& parts,
                               bool folder) {
  std::string key;
  std::string shown;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      key += '/';
      shown += '/';
    }
    key += Folded(parts[i]);
    shown += parts[i];
    const bool last = i + 1 == parts.size();
    const bool here = !last || folder;  // a folder goes at this place
    const auto [it, added] = places_.try_emplace(key, here);
    if (added || (it->second && here)) {
      continue;
    }
    if (it->second) {
      return EntryRefused(kUnrarUnsafeEntry, name, "a folder of that name comes earlier");
    }
    if (!last) {
      return EntryRefused(kUnrarUnsafeEntry, name,
                          "its folder " + Printable(shown) + " is a file earlier in the archive");
    }
    return EntryRefused(kUnrarUnsafeEntry, name,
                        folder ? "a file of that name comes earlier" : "the name is repeated");
  }
  return {};
}

}  // namespace varmex::tools
