#include "tools/transcript_view/transcript_view.h"

#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "platform/terminal_text.h"
#include "tools/transcript_view/transcript_event.h"

namespace varmex::tools {
namespace {

constexpr const char* kUsage =
    "usage: varmex-transcript [FILE]\n"
    "\n"
    "Prints a transcript written by varmex-setup (VARMEX_UI_TRANSCRIPT) as a person reads\n"
    "it: the dialogs, messages and commands in the order they happened. Without FILE, or\n"
    "with -, it reads standard input (a file, a pipe or a terminal, not a device). FILE\n"
    "must be a regular file. A line may hold 65536 bytes, the whole 268435456 bytes.\n"
    "Control characters are shown, never sent to the terminal: ^X for C0 (^? for DEL),\n"
    "\\x9B for a C1 byte and \\u009B for a C1 character in UTF-8.\n"
    "\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit status: 0 printed; 1 the input cannot be read or is refused (a missing file,\n"
    "a folder, a pipe or device as FILE, a device as standard input, a line or the whole\n"
    "past its bound: what came before is printed); 2 a bad command line.\n";

// Prints the lines of `in` within the transcript's bounds; false (and a line on `err`)
// when the input runs past them.
bool Print(std::istream& in, const std::string& name, std::ostream& out, std::ostream& err) {
  std::string line;
  size_t budget = kTranscriptLimits.maxBytes;
  size_t number = 0;
  while (true) {
    const platform::LineRead read =
        platform::ReadBoundedLine(in, kTranscriptLimits.maxLine, budget, line);
    if (read == platform::LineRead::kEnd) return true;
    ++number;
    if (read == platform::LineRead::kLongLine) {
      err << "varmex-transcript: " << name << ": line " << number << " is longer than "
          << kTranscriptLimits.maxLine << " bytes; nothing more is read\n";
      return false;
    }
    if (read == platform::LineRead::kTooMuch) {
      err << "varmex-transcript: " << name << " holds more than " << kTranscriptLimits.maxBytes
          << " bytes; nothing more is read\n";
      return false;
    }
    if (line.empty()) continue;
    const std::optional<TranscriptEvent> event = ParseTranscriptLine(line);
    out << (event ? DescribeEvent(*event) : "?? " + ShownText(line, false)) << "\n";
  }
}

}  // namespace

int RunTranscriptView(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err, const std::string& inputRefusal) {
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
    if (!inputRefusal.empty()) {
      err << "varmex-transcript: standard input is refused: " << inputRefusal
          << ", not a file, a pipe or a terminal\n";
      return 1;
    }
    return Print(in, "standard input", out, err) ? 0 : 1;
  }
  std::string text;
  const platform::FileRead read =
      platform::ReadRegularFile(*file, kTranscriptLimits.maxBytes, text);
  if (read != platform::FileRead::kRead) {
    const std::string shown = platform::TerminalText(*file);
    if (read == platform::FileRead::kFolder) {
      err << "varmex-transcript: " << shown << " is a folder, not a transcript\n";
    } else if (read == platform::FileRead::kMissing || read == platform::FileRead::kUnreadable) {
      err << "varmex-transcript: cannot read " << shown << "\n";
    } else {
      err << "varmex-transcript: " << shown
          << " is refused: " << platform::DescribeFileRead(read, kTranscriptLimits.maxBytes)
          << (read == platform::FileRead::kNotRegular ? "; give a pipe as standard input" : "")
          << "\n";
    }
    return 1;
  }
  std::istringstream stream(std::move(text));
  return Print(stream, platform::TerminalText(*file), out, err) ? 0 : 1;
}

}  // namespace varmex::tools
