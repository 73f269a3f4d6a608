// kedro-db: looks inside the suite's data files for support work and for tests.
//
//   kedro-db [options] info FILE          layout, header, block count, how full
//   kedro-db [options] get FILE KEY       one record's data
//   kedro-db [options] put FILE KEY DATA  insert or replace a record (block files)
//   kedro-db [options] del FILE KEY       delete a record (block files)
//   kedro-db [options] dump FILE          every live record, block by block
//   kedro-db [options] verify FILE        structural check; exit status 1 on a problem
//
// Options: --text (KEY and DATA are text, and get prints text), --blocks N (the block
// count; word-layout files default to the file size / 512), --key-length K (word
// layout, default 6), --selector S (hash selector of block files, default 5), --
// (the end of the options). --help or -h prints the usage on standard output.
// Keys and data are hex by default ("4b303031" or "4b 30 30 31").
//
// Only put and del open the file for writing; the others read a read-only file too.
// Every command reads only the blocks the file holds: info, verify and dump report a
// file shorter or longer than its header's count (put and del refuse to write into
// it), and a header whose count is 0 or less is said to be invalid. info, verify and
// dump skip the holes of sparse files, keep memory by the records a file holds (not
// its blocks), and verify prints each problem as it is found.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varmex::tools {

// Runs one command; returns the exit status: 0 done; 1 not found, no room (put), or a
// problem found (verify); 2 a file that cannot be opened or worked on (missing, a
// folder, an invalid header, a word-layout file to write, a size its header disagrees
// with for put and del); 7 a bad command line (an unknown option, a bad value or
// operand, an empty file name), as for dens and nredisp. `showProgress`: a progress
// line on `err` during long passes (when it is a terminal). Files are reached through
// `os`.
int RunKedroDb(platform::Platform& os, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err, bool showProgress = false);

}  // namespace varmex::tools
