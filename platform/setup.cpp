#include "platform/setup.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

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

// The whole of a file; false when it cannot be opened or read to its end (a folder
// opens on some systems, but reading it fails).
bool ReadWholeFile(const char* path, std::string& text) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool read = std::ferror(f) == 0;
  std::fclose(f);
  if (!read) text.clear();
  return read;
}

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
    const bool read = ReadWholeFile(path, text);
    auto session = std::make_unique<UiSession>(ScriptActions(text), s.transcript.get(), nullptr);
    s.session = std::make_unique<SessionPlatform>(*top, std::move(session));
    top = s.session.get();
    if (!read) {
      // An unreadable script is a script with no lines: every dialog and question
      // is closed as the script running out would close it.
      std::fprintf(stderr, "varmex: cannot read the script %s\n", path);
      if (s.transcript) s.transcript->ScriptError(std::string("cannot read the script ") + path);
    }
  } else {
#ifndef _WIN32
    // Terminal dialogs, with their script errors (the end of the input) recorded.
    auto session =
        std::make_unique<UiSession>(TypedActions(std::cin), s.transcript.get(), &std::cout);
    s.session = std::make_unique<SessionPlatform>(*top, std::move(session));
    top = s.session.get();
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
