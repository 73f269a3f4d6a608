// Opening data files, and reading the OBI header (both drawn in data_file.h).
#include "database/data_file.h"

#include <string>

#include "installer/messages.h"
#include "io/coding.h"
#include "io/fixed_text.h"
#include "io/unit_file.h"
#include "store/block_header.h"

namespace varmex::database {
namespace {

constexpr size_t kPathWidth = 256;

// Directory (up to a NUL or its last non-blank character), a backslash unless it is
// empty or already ends with one, then the name; cut at the path field's width and
// trimmed.
std::string BuildPath(std::string_view name, std::string_view directory) {
  std::string path(io::TrimRight(io::UpToNul(directory)));
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += name;
  if (path.size() > kPathWidth) path.resize(kPathWidth);
  return std::string(io::TrimRight(path));
}

// A failed open or read: the message when asked for, the stop when the caller wants it.
void Fail(platform::Platform& os, const std::string& text, bool showMessages, int fatalCode) {
  if (showMessages) installer::ShowError(os, text);
  if (fatalCode != 0) installer::EndProgram(os, fatalCode);
}

}  // namespace

OpenResult OpenDataFile(platform::Platform& os, std::string_view name, std::string_view directory,
                        bool showMessages, int fatalCode) {
  OpenResult result;
  const std::string path = BuildPath(name, directory);
  const int16_t unit = io::FindFreeUnit();
  const int openStatus =
      unit == io::kNoUnit ? io::kIoNoFreeUnit : io::OpenUnit(os, unit, path, store::kBlockBytes);
  if (openStatus != io::kIoOk) {
    Fail(os, "Eroare (" + io::FormatRight(openStatus, 4) + ") la deschidere " + path + "!",
         showMessages, fatalCode);
    return result;
  }
  store::BlockBytes header{};
  const int readStatus = io::ReadRecord(unit, 1, header);
  if (readStatus != io::kIoOk) {
    io::CloseUnit(unit);
    Fail(os, "Eroare (" + io::FormatRight(readStatus, 4) + ") la citire bloc 1 din " + path + "!",
         showMessages, fatalCode);
    return result;
  }
  result.unit = unit;
  result.blockCount = store::HeaderBlockCount(header);
  return result;
}

int32_t ObiHeader::ObiBlocks() const { return io::LoadI32(bytes.data() + kObiBlocksOffset); }
int32_t ObiHeader::DevBlocks() const { return io::LoadI32(bytes.data() + kDevBlocksOffset); }
int32_t ObiHeader::NorBlocks() const { return io::LoadI32(bytes.data() + kNorBlocksOffset); }
int32_t ObiHeader::TehnoBlocks() const { return io::LoadI32(bytes.data() + kTehnoBlocksOffset); }
int32_t ObiHeader::NorincBlocks() const { return io::LoadI32(bytes.data() + kNorincBlocksOffset); }

int16_t ReadObiHeader(platform::Platform& os, int16_t unit, ObiHeader& header) {
  if (io::ReadRecord(unit, 1, header.bytes) != io::kIoOk) {
    installer::ShowError(os, "** Eroare citire Header fisier OBI.DAT **");
    return 1;
  }
  return 0;
}

}  // namespace varmex::database
