// varmex-transcript: prints a run's transcript (VARMEX_UI_TRANSCRIPT) as a person
// reads it: the dialogs, messages and commands in the order they happened.
//
//   varmex-transcript [FILE]      (standard input when FILE is "-" or missing)
#include <iostream>
#include <string>
#include <vector>

#include "platform/bounded_input.h"
#include "tools/transcript_view/transcript_view.h"

int main(int argc, char** argv) {
  return varmex::tools::RunTranscriptView(std::vector<std::string>(argv + 1, argv + argc), std::cin,
                                          std::cout, std::cerr,
                                          varmex::platform::StandardInputRefusal());
}
