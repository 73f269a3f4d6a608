// The damaged and hostile archives of hostile_archives.h, made with the project's own
// writer and then changed byte by byte where a writer would not go, every field found
// and every header sealed again through the layouts' owner (rar_layout.h).
#include "tools/unrar/hostile_archives.h"

#include <iterator>

#include "io/coding.h"
#include "tools/rarformat/rar_layout.h"
#include "tools/rarwrite/rar_writer.h"
#include "tools/unrar/unrar_rules.h"

namespace varmex::tools {
namespace {

// Classic: the first file header, after the marker and the archive block.
constexpr size_t kFirstHeader = sizeof rar::kMarker + rar::kArchiveHeaderSize;

RarEntry File(const std::string& name, const std::string& text) { return FileEntry(name, text); }

RarEntry Folder(const std::string& name) { return FolderEntry(name); }

std::vector<uint8_t> Classic(const std::vector<RarEntry>& entries) {
  return BuildRarArchive(entries);
}
std::vector<uint8_t> Five(const std::vector<RarEntry>& entries) {
  return BuildRar5Archive(entries);
}

// Seals the classic header at `at` again after a change.
void Reseal(std::vector<uint8_t>& bytes, size_t at) {
  rar::SealClassicHeader(
      std::span<uint8_t>(bytes).subspan(at, io::LoadU16(bytes.data() + at + rar::kSizeAt)));
}

// The first file header of a classic archive, changed by `change` and sealed again.
template <typename Change>
std::vector<uint8_t> ChangedClassic(const std::vector<RarEntry>& entries, Change change) {
  std::vector<uint8_t> bytes = Classic(entries);
  change(bytes.data() + kFirstHeader);
  Reseal(bytes, kFirstHeader);
  return bytes;
}

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, size_t at) {
  bytes[at] ^= 0x20;
  return bytes;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// A format-5 archive whose first block after the signature says that every header
// after it is encrypted.
std::vector<uint8_t> FiveWithEncryptedHeaders() {
  std::vector<uint8_t> out(std::begin(rar::kSignature5), std::end(rar::kSignature5));
  // Type, block flags, then the encryption's version, flags and key rounds, and a salt.
  std::vector<uint8_t> fields = {rar::kType5Encryption, 0, 0, 0, 15};
  fields.resize(fields.size() + 16, 0);
  rar::AppendBlock5(out, fields);
  return out;
}

}  // namespace

std::vector<HostileArchive> HostileArchives() {
  const std::vector<RarEntry> sample = {File("a.txt", "alpha"), File("b.txt", "beta")};
  const std::vector<uint8_t> classic = Classic(sample);
  const std::vector<uint8_t> five = Five(sample);
  const std::vector<RarEntry> large = {File("a.txt", std::string(9000, 'p'))};
  const auto at = [](const std::vector<uint8_t>& bytes, size_t entry) {
    return static_cast<size_t>(DataOffsetOfEntry(bytes, entry));
  };
  RarEntry encrypted = File("a.txt", "secret");
  encrypted.encrypted = true;
  RarEntry junction = File("a.txt", "C:\\Windows");
  junction.redirect = rar::kRedirect5Junction;
  junction.target = "C:\\Windows";
  RarEntry copy = File("a.txt", "");
  copy.redirect = rar::kRedirect5FileCopy;
  copy.target = "b.txt";
  RarEntry link = File("a.txt", "/etc/passwd");
  link.redirect = rar::kRedirect5UnixLink;
  link.target = "/etc/passwd";
  RarEntry unchecked = File("a.txt", "alpha");
  unchecked.withoutCrc = true;

  const std::string checksum = "damaged entry a.txt: checksum error";
  const std::string truncated = "ARCHIVE is damaged: truncated archive";
  const std::string outside = ": outside the destination";
  const std::string control = ": a control character in its name";
  std::vector<HostileArchive> out = {
      {"classic-data-flipped", Flipped(classic, at(classic, 0)), kUnrarDamaged, checksum},
      {"classic-crc-field-wrong",
       ChangedClassic(sample, [](uint8_t* h) { h[rar::kFileCrcAt] ^= 1; }), kUnrarDamaged,
       checksum},
      {"five-data-flipped", Flipped(five, at(five, 0)), kUnrarDamaged, checksum},
      {"cut-at-7", Cut(classic, 7), kUnrarDamaged, truncated},
      {"cut-at-20", Cut(classic, 20), kUnrarDamaged, truncated},
      {"cut-at-40", Cut(classic, 40), kUnrarDamaged, truncated},
      {"five-cut-at-7", Cut(five, 7), kUnrarDamaged, truncated},
      {"classic-cut-in-data", Cut(Classic(large), at(Classic(large), 0) + 43), kUnrarDamaged,
       truncated},
      {"five-cut-in-data", Cut(Five(large), at(Five(large), 0) + 43), kUnrarDamaged, truncated},
      {"classic-packed-size-past-data",
       ChangedClassic({File("a.txt", "alpha")},
                      [](uint8_t* h) {
                        io::StoreU32(h + rar::kFilePackedSizeAt,
                                     io::LoadU32(h + rar::kFilePackedSizeAt) + 7);
                      }),
       kUnrarDamaged, truncated},
      {"classic-bad-header-checksum", Flipped(classic, kFirstHeader + rar::kFileHeaderSize),
       kUnrarDamaged, "ARCHIVE is damaged: bad header checksum at byte 20"},
      {"empty-file", {}, kUnrarNotAnArchive, "ARCHIVE is not a RAR archive"},
      {"not-rar",
       {'P', 'K', 3, 4, 'n', 'o', 't', ' ', 'r', 'a', 'r'},
       kUnrarNotAnArchive,
       "ARCHIVE is not a RAR archive"},
      {"classic-encrypted-headers",
       [&] {
         std::vector<uint8_t> b = classic;
         b[sizeof rar::kMarker + rar::kFlagsAt] |= rar::kArchiveHeadersEncrypted;
         Reseal(b, sizeof rar::kMarker);
         return b;
       }(),
       kUnrarNotAnArchive, "ARCHIVE cannot be read here: encrypted headers"},
      {"five-encrypted-headers", FiveWithEncryptedHeaders(), kUnrarNotAnArchive,
       "ARCHIVE cannot be read here: encrypted headers"},
      {"parent", Classic({File("../a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry ../a.txt" + outside},
      {"five-parent", Five({File("../a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry ../a.txt" + outside},
      {"parent-inside", Classic({File("sub\\..\\..\\a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry sub/../../a.txt" + outside},
      {"absolute", Classic({File("\\tmp\\a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry /tmp/a.txt" + outside},
      {"drive", Classic({File("C:\\a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry C:/a.txt" + outside},
      {"stream", Classic({File("a.txt:hidden", "x")}), kUnrarUnsafeEntry,
       "refused entry a.txt:hidden" + outside},
      {"device", Classic({File("sub/con.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry sub/con.txt" + outside},
      {"control-characters", Classic({File("\x1b]0;owned\x07/../a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry \\x1B]0;owned\\x07/../a.txt" + outside},
      {"newline-in-name", Classic({File("a\nb.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry a\\x0Ab.txt" + control},
      {"escape-in-folder", Five({File("sub\x1b[2J/a.txt", "x")}), kUnrarUnsafeEntry,
       "refused entry sub\\x1B[2J/a.txt" + control},
      {"c1-byte-in-name",
       Classic({File("a\x9b"
                     "1m.txt",
                     "x")}),
       kUnrarUnsafeEntry, "refused entry a\\x9B1m.txt" + control},
      {"five-c1-in-utf8-name",
       Five({File("a\xc2\x9b"
                  "1m.txt",
                  "x")}),
       kUnrarUnsafeEntry, "refused entry a\\xC2\\x9B1m.txt" + control},
      {"second-entry-bell", Classic({File("a.txt", "alpha"), File("b\x07.txt", "x")}),
       kUnrarUnsafeEntry, "refused entry b\\x07.txt" + control},
      {"repeated-name", Classic({File("a.txt", "one"), File("a.txt", "two")}), kUnrarUnsafeEntry,
       "refused entry a.txt: the name is repeated"},
      {"repeated-name-other-case", Five({File("a.txt", "one"), File("A.TXT", "two")}),
       kUnrarUnsafeEntry, "refused entry A.TXT: the name is repeated"},
      {"file-then-folder", Classic({File("a.txt", "one"), Folder("a.txt")}), kUnrarUnsafeEntry,
       "refused entry a.txt: a file of that name comes earlier"},
      {"file-then-file-inside", Classic({File("a.txt", "one"), File("a.txt/b.txt", "two")}),
       kUnrarUnsafeEntry,
       "refused entry a.txt/b.txt: its folder a.txt is a file earlier in the archive"},
      {"folder-then-file", Classic({Folder("a.txt"), File("a.txt", "one")}), kUnrarUnsafeEntry,
       "refused entry a.txt: a folder of that name comes earlier"},
      {"classic-encrypted", Classic({encrypted}), kUnrarNotAnArchive,
       "refused entry a.txt: encrypted"},
      {"five-encrypted", Five({encrypted}), kUnrarNotAnArchive, "refused entry a.txt: encrypted"},
      {"classic-split",
       ChangedClassic(sample, [](uint8_t* h) { h[rar::kFlagsAt] |= rar::kFileSplitAfter; }),
       kUnrarNotAnArchive, "refused entry a.txt: continued in another volume"},
      {"five-junction", Five({junction}), kUnrarUnsafeEntry, "refused entry a.txt: a junction"},
      {"five-file-copy", Five({File("b.txt", "beta"), copy}), kUnrarUnsafeEntry,
       "refused entry a.txt: a copy of another entry"},
      {"five-link", Five({link}), kUnrarUnsafeEntry, "refused entry a.txt: a link"},
      {"classic-unix-link",
       ChangedClassic(
           sample,
           [](uint8_t* h) { io::StoreU32(h + rar::kFileAttributesAt, rar::kModeLink | 0777); }),
       kUnrarUnsafeEntry, "refused entry a.txt: a link"},
      {"classic-pipe",
       ChangedClassic(
           sample,
           [](uint8_t* h) { io::StoreU32(h + rar::kFileAttributesAt, rar::kModeFifo | 0644); }),
       kUnrarUnsafeEntry, "refused entry a.txt: not a plain file or folder"},
      {"five-without-crc", Five({unchecked}), kUnrarNotAnArchive,
       "refused entry a.txt: no data checksum to check it by"},
  };
  return out;
}

std::string ExpectedReason(const HostileArchive& hostile, const std::string& path) {
  std::string reason = hostile.reason;
  const size_t at = reason.find("ARCHIVE");
  if (at != std::string::npos) {
    reason.replace(at, 7, Printable(path));
  }
  return reason;
}

}  // namespace varmex::tools
