// nredisp: re-spreads the records of a block file over a new number of blocks.
//
//   nredisp [-o] -d N FILE
//     -o    replace FILE with the result (without it the result is left as FILE.nredisp)
//     -d N  the new block count, 2 or more (N may also be glued to the option: -d12000)
//     --    ends the options (a FILE whose name starts with "-" follows it)
//   nredisp --help | -h   prints the usage on standard output
//
// Exit status: 0 done; 2 FILE unusable (missing, no valid header, a size its header
// disagrees with, damaged records); 3 the new file cannot be written or the records do
// not fit; 4 FILE is busy with another run; 5 no room on the disk for the new file
// (112: the disk is full); 7 a bad command line (an unknown option, a
// bad block count, no FILE, more than one, an empty name), as for dens and kedro-db.
// On any failure FILE is left as it was. The result beside FILE takes the access
// rights of the file it replaces, or a new file's usual ones. `showProgress`: a
// progress line on `err` during long passes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varmex::tools {

int RunNredisp(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err, bool showProgress = false);

}  // namespace varmex::tools
