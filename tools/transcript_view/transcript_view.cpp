#include "tools/transcript_view/transcript_view.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>

#include "tools/transcript_view/transcript_event.h"

namespace varmex::tools {
namespace {

constexpr const char* kUsage =
    "usage: varmex-transcript [FILE]\n"
    "\n"
    "Prints a transcript written by varmex-setup (VARMEX_UI_TRANSCRIPT) as a person reads\n"
    "it: the dialogs, messages and commands in the order they happened. Without FILE, or\n"
    "with -, it reads standard input. Control characters inside texts are shown as ^X\n"
    "(^? for DEL), never sent to the terminal.\n"
    "\n"
    "  -h, --help   this text\n";

void Print(std::istream& in, std::ostream& out) {
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const std::optional<TranscriptEvent> event = ParseTranscriptLine(line);
    out << (event ? DescribeEvent(*event) : "?? " + ShownText(line, false)) << "\n";
  }
}

}  // namespace

int RunTranscriptView(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err) {
  std::optional<std::string> file;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      out << kUsage;
      return 0;
    }
    const bool option = arg.size() > 1 && arg[0] == '-';
    if (option || file) {
      err << "varmex-transcript: " << (option ? "unknown option " : "one file only: ") << arg
          << "\n"
          << kUsage;
      return 2;
    }
    file = arg;
  }
  if (!file || *file == "-") {
    Print(in, out);
    return 0;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(*file, ec)) {
    err << "varmex-transcript: " << *file << " is a folder, not a transcript\n";
    return 1;
  }
  std::ifstream stream(*file, std::ios::binary);
  if (!stream) {
    err << "varmex-transcript: cannot read " << *file << "\n";
    return 1;
  }
  Print(stream, out);
  if (stream.bad()) {
    err << "varmex-transcript: cannot read " << *file << " to its end\n";
    return 1;
  }
  return 0;
}

}  // namespace varmex::tools
