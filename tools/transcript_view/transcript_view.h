// The command line of varmex-transcript, apart from its main so that tests can run it
// with streams of their own.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace varmex::tools {

// Runs varmex-transcript with `args` (the program name excluded), reading standard
// input from `in`. Exit status: 0 done, 1 a file that cannot be read, 2 a wrong
// command line (the usage then goes to `err`).
int RunTranscriptView(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err);

}  // namespace varmex::tools
