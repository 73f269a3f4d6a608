// The transcript (VARMEX_UI_TRANSCRIPT): what happened between the program and its
// user, one JSON object a line, in the order it happened, flushed line by line.
//
//   {"event":"dialog","id":101}
//   {"event":"dialog-end","id":101,"result":1}
//   {"event":"set-text","dialog":107,"control":1003,"text":"Preluare baz001.dat"}
//   {"event":"enable","dialog":107,"control":1004,"enabled":false}
//   {"event":"message","title":"Eroare","text":"...","style":266288,"answer":"ok"}
//   {"event":"run","command":"unrar t erp.rar","result":0,"exit":0}
//   {"event":"script-error","detail":"..."}
//   {"event":"exit","status":1}
//
// "exit" of a run is there when the caller asked for the exit code and the program
// ran (result 0); it is -1 when the exit status could not be read. A dialog's
// "dialog" event is written when it initialises, before anything its initialisation
// does; a dialog that could not be created writes neither "dialog" nor "dialog-end".
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/forwarding_platform.h"
#include "platform/platform.h"
#include "platform/ui_session.h"

namespace varmex::platform {

// `text` as a JSON string, quotes included. Texts are the system's single-byte text:
// valid UTF-8 sequences pass unchanged, any other byte above 0x7F is written as the
// \u00XX escape of its value, control characters as \n, \t ... or \u00XX.
std::string JsonString(std::string_view text);

class Transcript : public UiEvents {
 public:
  // Writes to `out` (not owned, not closed).
  explicit Transcript(std::FILE* out);
  // Creates (or empties) the file at `path`; ok() tells whether that worked.
  explicit Transcript(const std::string& path);
  ~Transcript() override;
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  bool ok() const { return out_ != nullptr; }
  // False once a line could not be written whole (a full disk): the first failure is
  // said on standard error, and nothing more is written after it, so that the
  // transcript never has a hole in its middle.
  bool complete() const { return !failed_; }

  void Dialog(int id);
  void DialogEnd(int id, intptr_t result);
  void SetText(int dialog, int control, std::string_view text);
  void Enable(int dialog, int control, bool enabled);
  void Message(std::string_view title, std::string_view text, uint32_t style, int answer);
  void Run(std::string_view command, int32_t result, std::optional<int64_t> exitCode);
  void ScriptError(std::string_view detail) override;
  void InputRefused() override { inputRefused_ = true; }
  bool inputRefused() const { return inputRefused_; }
  void Exit(int status);

 private:
  void Line(const std::string& json);
  std::FILE* out_;
  bool owned_;
  std::string path_;
  bool failed_ = false;
  bool inputRefused_ = false;
};

// A decorator that records in a transcript what passes through it: message boxes,
// dialogs, runs and the end of the program. Every other call goes straight through.
// A run whose transcript could not be written whole ends with status 1 where it would
// have ended with 0, as a run whose transcript cannot be created does; so does a run
// whose typed answers were refused, and its "exit" event says 1.
class TranscriptPlatform : public ForwardingPlatform {
 public:
  TranscriptPlatform(Platform& inner, Transcript& transcript);

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style) override;
  intptr_t DialogBox(int resourceId, DialogProcedure& proc) override;
  ProcessResult RunProcess(std::string_view commandLine, bool wantExitCode) override;
  [[noreturn]] void ExitProcess(int status) override;
  void NoteRefusedRun(std::string_view commandLine, bool wantExitCode, int32_t result) override;
  int NoteProgramEnd(int status) override;

 private:
  int EndStatus(int status) const;
  Transcript& transcript_;
};

}  // namespace varmex::platform
