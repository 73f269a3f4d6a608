// Stand-ins for the suite's own programs, for the tests and the demo, in both builds:
//
//   mklnk -lNAME -fTARGET [-wWORKDIR] [-iICON]   the shortcut maker: writes NAME into
//       WORKDIR as a small text file naming the target, the folder and the icon (each
//       value glued to its option). 0 written; 1 a bad command line; 2 an unknown
//       option, or the file cannot be written.
//   convfurn ERPDIR VARMEXDIR, cuvterti ERPDIR, lsort IN OUT,
//   fo2 [-o] [-s N] [-n NAME] [-d DIR], mkhvoc [-s] [-d] [-h] DIR N SORTED VOCABULARY
//       the migration's tools: each appends its command line, one line "NAME ARG ...",
//       to the file named by VARMEX_STANDIN_LOG when it is set, and exits 0. convfurn
//       also leaves in ERPDIR a fresh partner file terti.dat: a block file of 100 blocks,
//       header only (an existing terti.dat of any spelling is replaced); 2 when it cannot
//       be written. 1 for a wrong number of operands, 2 for an unknown option.
//
// Every one prints its usage on standard output for --help (and for -h, except mkhvoc,
// whose -h is an option of its own, unless it is the only word), never takes a word
// that starts with "-" for a file or folder, and writes its files byte for byte the
// same in both builds.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace varmex::tools {

int RunMklnk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `name`: convfurn, cuvterti, lsort, fo2 or mkhvoc.
int RunSuiteTool(std::string_view name, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);

}  // namespace varmex::tools
