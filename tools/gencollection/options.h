// The command line of gencollection: what to generate, read and checked word by word.
// Every count has a ceiling, so that a mistyped number gets a clear refusal instead
// of a run that asks for more memory than any machine has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/gencollection/collection.h"

namespace varmex::gencollection {

// Ceilings of the counts: twice the largest collection the benchmarks make (250,000
// estimates), and fresh files of 512 MB.
inline constexpr int32_t kMaxEstimates = 500000;  // in all, planned investments included
inline constexpr int32_t kMaxFreshBlocks = 1000000;

struct CommandLine {
  CollectionOptions collection;
  std::string outDir;    // empty: no collection
  std::string freshDir;  // empty: no fresh files
  int32_t lcalcdevBlocks = 2000;
  int32_t prefmanBlocks = 4000;
  bool help = false;  // --help or -h: print the usage, do nothing else
  std::string error;  // why the command line is refused (empty: it is not)
};

// Reads the arguments (without the program's name). A refused command line comes back
// with `error` set to one line naming the word at fault.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text.
const char* Usage();

}  // namespace varmex::gencollection
