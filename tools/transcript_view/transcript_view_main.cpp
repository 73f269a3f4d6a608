// varmex-transcript: prints a run's transcript (VARMEX_UI_TRANSCRIPT) as a person
// reads it: the dialogs, messages and commands in the order they happened.
//
//   varmex-transcript FILE      (or standard input when FILE is "-" or missing)
#include <fstream>
#include <iostream>
#include <string>

#include "tools/transcript_view/transcript_event.h"

int main(int argc, char** argv) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (argc > 1 && std::string(argv[1]) != "-") {
    file.open(argv[1]);
    if (!file) {
      std::cerr << "varmex-transcript: cannot read " << argv[1] << "\n";
      return 1;
    }
    in = &file;
  }
  std::string line;
  while (std::getline(*in, line)) {
    if (line.empty()) {
      continue;
    }
    const auto event = varmex::tools::ParseTranscriptLine(line);
    std::cout << (event ? varmex::tools::DescribeEvent(*event) : "?? " + line) << "\n";
  }
  return 0;
}
