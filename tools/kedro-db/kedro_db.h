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
// it), and a header whose count is 0 or less is said to be invalid.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varmex::tools {

// Runs one command; returns the exit status (0 done, 1 not found or a problem, 2 usage,
// an unknown option, or a file that cannot be opened or worked on).
int RunKedroDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace varmex::tools
