#include "platform/setup.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/bounded_input.h"
#include "platform/native.h"
#include "platform/transcript.h"
#include "platform/ui_session.h"

#ifndef _WIN32
#include "platform/posix_platform.h"
#endif

namespace varmex::platform {
namespace {

struct Installed {
  std::unique_ptr<Transcript> transcript;
  std::unique_ptr<SessionPlatform> session;
  std::unique_ptr<TranscriptPlatform> recording;
  // When the process ends, nothing may reach the decorators after they are gone.
  ~Installed() {
    if (session || recording) Install(nullptr);
  }
};

Installed& TheInstalled() {
  static Installed installed;
  return installed;
}

#ifndef _WIN32
// Standard input with nothing in it, for a terminal session whose input is refused.
std::istream& NoInput() {
  static std::istringstream empty;
  return empty;
}
#endif

}  // namespace

bool SetUpFromEnvironment() {
  TearDownEnvironment();
  Installed& s = TheInstalled();
  bool ok = true;
  Platform* top = &NativePlatform();
#ifndef _WIN32
  if (!NativeDriveProblem().empty()) ok = false;
#endif

  if (const char* path = std::getenv("VARMEX_UI_TRANSCRIPT"); path != nullptr && *path != '\0') {
    s.transcript = std::make_unique<Transcript>(std::string(path));
    if (!s.transcript->ok()) {
      std::fprintf(stderr, "varmex: cannot write the transcript %s\n", path);
      s.transcript.reset();
      ok = false;
    }
  }

  if (const char* path = std::getenv("VARMEX_UI_SCRIPT"); path != nullptr && *path != '\0') {
    std::string text;
    const FileRead read = ReadRegularFile(path, kActionLimits.maxBytes, text);
    std::string refusal;
    if (read == FileRead::kNotRegular || read == FileRead::kTooLarge) {
      refusal = DescribeFileRead(read, kActionLimits.maxBytes);
    } else if (const size_t line = FirstLongLine(text, kActionLimits.maxLine); line != 0) {
      refusal = "its line " + std::to_string(line) + " is longer than " +
                std::to_string(kActionLimits.maxLine) + " bytes";
      text.clear();
    }
    auto session = std::make_unique<UiSession>(ScriptActions(text), s.transcript.get(), nullptr);
    s.session = std::make_unique<SessionPlatform>(*top, std::move(session));
    top = s.session.get();
    if (!refusal.empty()) {
      // A script that is no file, or past the bounds of any script, is refused whole:
      // the run ends before its first dialog.
      const std::string detail = std::string("the script ") + path + " is refused: " + refusal;
      std::fprintf(stderr, "varmex: %s\n", detail.c_str());
      if (s.transcript) s.transcript->ScriptError(detail);
      ok = false;
    } else if (read != FileRead::kRead) {
      // An unreadable script is a script with no lines: every dialog and question
      // is closed as the script running out would close it.
      std::fprintf(stderr, "varmex: cannot read the script %s\n", path);
      if (s.transcript) s.transcript->ScriptError(std::string("cannot read the script ") + path);
    }
  } else {
#ifndef _WIN32
    // Terminal dialogs, with their script errors (the end of the input) recorded.
    // Standard input that is a device (not a terminal) is refused: /dev/zero would
    // never end, and the run ends before its first dialog.
    const std::string refusal = StandardInputRefusal();
    auto session = std::make_unique<UiSession>(TypedActions(refusal.empty() ? std::cin : NoInput()),
                                               s.transcript.get(), &std::cout);
    s.session = std::make_unique<SessionPlatform>(*top, std::move(session));
    top = s.session.get();
    if (!refusal.empty()) {
      const std::string detail =
          "standard input is refused: " + refusal + ", not a terminal, a file or a pipe";
      std::fprintf(stderr, "varmex: %s\n", detail.c_str());
      if (s.transcript) s.transcript->ScriptError(detail);
      ok = false;
    }
#endif
  }

  if (s.transcript) {
    s.recording = std::make_unique<TranscriptPlatform>(*top, *s.transcript);
    top = s.recording.get();
  }
  Install(top == &NativePlatform() ? nullptr : top);
  return ok;
}

void TearDownEnvironment() {
  Installed& s = TheInstalled();
  if (s.session || s.recording) Install(nullptr);
  s.recording.reset();
  s.session.reset();
  s.transcript.reset();
}

}  // namespace varmex::platform
