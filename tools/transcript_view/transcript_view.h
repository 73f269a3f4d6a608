// The command line of varmex-transcript, apart from its main so that tests can run it
// with streams of their own.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/bounded_input.h"

namespace varmex::tools {

// A transcript has a line for each dialog, status text, message and command of a run,
// each of at most a few hundred bytes (a text of 255 bytes written as \u00XX escapes
// takes 1,530). Most runs write a few thousand lines; the most a run can write is two
// messages for each estimate of a damaged collection of 500,000 estimates, about
// 100 MB. Past these bounds the input is no transcript.
inline constexpr platform::InputLimits kTranscriptLimits = {256 * 1024 * 1024, 64 * 1024};

// Runs varmex-transcript with `args` (the program name excluded), reading standard
// input from `in` unless `inputRefusal` says why standard input is not read (a
// device: see platform::StandardInputRefusal). Exit status: 0 done, 1 an input that
// cannot be read or is refused, 2 a wrong command line (the usage then goes to `err`).
int RunTranscriptView(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err, const std::string& inputRefusal = std::string());

}  // namespace varmex::tools
