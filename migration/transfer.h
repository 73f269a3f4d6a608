// Carrying one data file of an old collection into the new tree, and the table of the
// 59 named data files that the migration copies.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varmex::migration {

// Length of a name in the data file table (blank-padded).
inline constexpr size_t kTableNameLength = 20;
// Length of a path field (blank-padded).
inline constexpr size_t kPathLength = 256;

// The data file table in its stored order: entries 1 to 46 are optional, entries 47
// to 59 are required. The names are written in upper case, and the copies take that
// spelling.
// clang-format off
inline constexpr std::array<std::string_view, 59> kDataFileTable = {
    "ANGA.DAT",     "ARHREAEF.DAT", "ARTACT.DAT",   "ARTACT_I.DAT", "ARTPERS.DAT",
    "ARTPERSI.DAT", "ATASPERS.DAT", "CATLUC.DAT",   "CMT.DAT",      "COEFCAEN.DAT",
    "CURSVAL.DAT",  "DECO.DAT",     "DESEN.DAT",    "DGEN.DAT",     "DICBFUR.DAT",
    "DICLIS.DAT",   "DICROEN2.DAT", "DOCCAEN.DAT",  "EXEC.DAT",     "GRAF.DAT",
    "GRAF_I.DAT",   "GRAFGEN.DAT",  "IFURNMAT.DAT", "INFLA.DAT",    "LUCRDEV.DAT",
    "LUTOB.DAT",    "MAN.DAT",      "MAT_LINK.DAT", "MATREVIZ.DAT", "MATRICE.DAT",
    "MESER.DAT",    "PREFMAN.DAT",  "PRETART.DAT",  "REEF.DAT",     "RZLUNA.DAT",
    "SACAR.DAT",    "SITLUC.DAT",   "SITLUC2.DAT",  "TERTI.DAT",    "TRANSMAT.DAT",
    "UCAEN.DAT",    "UM.DAT",       "UMS.DAT",      "UTEH.DAT",     "FURN.DAT",
    "NORINC.DAT",   "DEV.DAT",      "OBI.DAT",      "EXT.DAT",      "EXTDEN.DAT",
    "FURNDEV.DAT",  "FURNMAT.DAT",  "MAT.DAT",      "NOR.DAT",      "DIC.DAT",
    "IDIC.DAT",     "PREF.DAT",     "TABEL.DAT",    "TEHNO.DAT",
};
// clang-format on
// 0-based index of the first required entry (entry 47).
inline constexpr size_t kFirstRequiredEntry = 46;

// Joins blank-padded pieces the way the suite builds its paths: each piece up to its
// last non-blank character, the result cut at kPathLength characters.
std::string JoinPath(std::string_view directory, std::string_view name);

// `folder` (no final backslash) and a name in it.
std::string InFolder(std::string_view folder, std::string_view name);

// True when the file `path` names, once links are followed, lies in `folder` itself
// (no final backslash): false for a link that leads elsewhere (into the old
// collection, say) and for a file that is not there.
bool LiesInside(platform::Platform& os, std::string_view path, std::string_view folder);

// Clears the read-only mark of `path` only when LiesInside: a link that leads
// elsewhere keeps the mark of what it points at.
void ClearReadOnlyInside(platform::Platform& os, std::string_view path, std::string_view folder);

// The second line of a message about a full disk: what happened to the migration.
inline constexpr std::string_view kDiskFullAdvice =
    "Spatiu insuficient pe disc: preluarea datelor s-a oprit. Eliberati spatiu pe disc si "
    "reluati preluarea (varmex-setup /prel).";

struct TransferResult {
  bool copied = false;  // the destination now holds the source's bytes
  uint32_t error = 0;   // the system's error code of a failed copy
};

// Copies sourceDir + name to destinationDir + name, replacing the destination even
// when it is marked read-only. A missing required source is reported with a warning,
// a missing optional one is skipped; a failed copy is reported with the system's
// error code (and, for a full disk, kDiskFullAdvice). The migration decides from the
// result whether it goes on.
TransferResult TransferDataFile(platform::Platform& os, std::string_view name,
                                std::string_view sourceDir, std::string_view destinationDir,
                                bool required);

}  // namespace varmex::migration
