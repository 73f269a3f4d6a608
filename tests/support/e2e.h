// Helpers for end-to-end tests that run the built programs: scratch folders with
// drive roots, a run of a program with the automation variables set (answer script,
// transcript, drives), and the transcript read back as events.
//
//   e2e::Scratch s;                       // removed at the end (kept with VARMEX_KEEP_SCRATCH=1)
//   s.Drive('D');                         // <scratch>/drives/D is drive D
//   e2e::Run run = e2e::RunSetup(s, {.script = "dialog 101\nclick 1\nanswer no\n"});
//   run.status, run.Messages(), run.Commands(), run.Events("dialog-end") ...
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varmex::e2e {

// Folder of the built programs (build/<preset>/bin).
std::string BinDir();

// One transcript line: its fields as text (strings unescaped, numbers and booleans as
// written).
struct Event {
  std::string raw;
  std::map<std::string, std::string> fields;

  const std::string& kind() const { return Get("event"); }
  const std::string& Get(const std::string& field) const;
  bool Has(const std::string& field) const { return fields.count(field) != 0; }
  long Number(const std::string& field) const;
};

// Parses one JSON object of flat fields; nullopt when the line is not one.
std::optional<Event> ParseEvent(const std::string& line);

class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& path() const { return path_; }
  // The folder VARMEX_DRIVES points at.
  std::string drives() const { return path_ + "/drives"; }
  // Makes drive `letter` (a folder <scratch>/drives/<letter>) and returns its root.
  std::string Drive(char letter);
  // Makes a folder (and its parents) under the scratch folder; returns its path.
  std::string Folder(const std::string& relative);
  // Writes a file under the scratch folder (parents made); returns its path.
  std::string WriteFile(const std::string& relative, const std::string& content,
                        bool executable = false);

 private:
  std::string path_;
};

bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
std::string ReadFile(const std::string& path);
// Copies a file keeping its permissions.
void CopyFile(const std::string& from, const std::string& to);

struct RunOptions {
  std::string program;                     // default: BinDir()/varmex-setup
  std::vector<std::string> args;           // after the program name
  std::string cwd;                         // default: the scratch folder
  std::optional<std::string> script;       // VARMEX_UI_SCRIPT text (written to a file)
  std::string driveTypes;                  // VARMEX_DRIVE_TYPES, when not empty
  std::optional<std::string> pathVar;      // PATH, when set
  std::map<std::string, std::string> env;  // more variables
  std::string input = "/dev/null";         // standard input
  int timeoutSeconds = 120;
  int killAfterMs = 0;        // > 0: killed with SIGKILL after so many milliseconds
  int64_t fileSizeLimit = 0;  // > 0: no file may grow past it (writes fail with EFBIG)
};

struct Run {
  int status = -1;  // exit status; 128 + signal when killed
  bool timedOut = false;
  std::string out, err;  // standard output and error
  std::vector<Event> events;

  std::vector<Event> Events(const std::string& kind) const;
  // Texts of the message events, in order.
  std::vector<std::string> Messages() const;
  // Command lines of the run events, in order.
  std::vector<std::string> Commands() const;
  // The whole transcript, one event a line (for failure output).
  std::string Transcript() const;
};

// Runs a program over the scratch folder's drives with a transcript.
Run RunProgram(Scratch& scratch, const RunOptions& options);

// Shorthand for the setup program.
inline Run RunSetup(Scratch& scratch, const RunOptions& options) {
  return RunProgram(scratch, options);
}

}  // namespace varmex::e2e
