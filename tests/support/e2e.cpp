#include "tests/support/e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/transcript_view/transcript_event.h"

extern char** environ;

namespace varmex::e2e {

namespace fs = std::filesystem;

std::string BinDir() {
  if (const char* dir = std::getenv("VARMEX_BIN_DIR")) {
    return dir;
  }
  return VARMEX_BIN_DIR;
}

const std::string& Event::Get(const std::string& field) const {
  static const std::string none;
  auto it = fields.find(field);
  return it == fields.end() ? none : it->second;
}

long Event::Number(const std::string& field) const {
  const std::string& v = Get(field);
  return v.empty() ? -999999 : std::strtol(v.c_str(), nullptr, 10);
}

std::optional<Event> ParseEvent(const std::string& line) {
  const std::optional<tools::TranscriptEvent> parsed = tools::ParseTranscriptLine(line);
  if (!parsed) {
    return std::nullopt;
  }
  return Event{parsed->raw, parsed->fields};
}

Scratch::Scratch() {
  const fs::path base = fs::temp_directory_path() / "varmex-e2e.XXXXXX";
  std::string pattern = base.string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
  fs::create_directories(drives());
}

Scratch::~Scratch() {
  const char* keep = std::getenv("VARMEX_KEEP_SCRATCH");
  if (keep != nullptr && std::string(keep) == "1") {
    return;
  }
  std::error_code ec;
  // Make every folder writable again so that a test that locked one is cleaned up.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
}

std::string Scratch::Drive(char letter) { return Folder("drives/" + std::string(1, letter)); }

std::string Scratch::Folder(const std::string& relative) {
  const std::string p = path_ + "/" + relative;
  fs::create_directories(p);
  return p;
}

std::string Scratch::WriteFile(const std::string& relative, const std::string& content,
                               bool executable) {
  const fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
  if (executable) {
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
  return p.string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::vector<Event> Run::Events(const std::string& kind) const {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (e.kind() == kind) {
      out.push_back(e);
    }
  }
  return out;
}

std::vector<std::string> Run::Messages() const {
  std::vector<std::string> out;
  for (const Event& e : Events("message")) {
    out.push_back(e.Get("text"));
  }
  return out;
}

std::vector<std::string> Run::Commands() const {
  std::vector<std::string> out;
  for (const Event& e : Events("run")) {
    out.push_back(e.Get("command"));
  }
  return out;
}

std::string Run::Transcript() const {
  std::string out;
  for (const Event& e : events) {
    out += e.raw + "\n";
  }
  return out + "stderr: " + err + "\n";
}

Run RunProgram(Scratch& scratch, const RunOptions& options) {
  static int counter = 0;
  const std::string tag = scratch.path() + "/run" + std::to_string(++counter);
  const std::string transcript = tag + ".transcript";
  const std::string outFile = tag + ".out";
  const std::string errFile = tag + ".err";

  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) {
      env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
  }
  env.erase("VARMEX_UI_SCRIPT");
  env.erase("VARMEX_DRIVE_TYPES");
  env["VARMEX_DRIVES"] = scratch.drives();
  env["VARMEX_UI_TRANSCRIPT"] = transcript;
  if (options.script) {
    const std::string script = tag + ".script";
    std::ofstream(script) << *options.script;
    env["VARMEX_UI_SCRIPT"] = script;
  }
  if (!options.driveTypes.empty()) {
    env["VARMEX_DRIVE_TYPES"] = options.driveTypes;
  }
  if (options.pathVar) {
    env["PATH"] = *options.pathVar;
  }
  for (const auto& [k, v] : options.env) {
    env[k] = v;
  }

  const std::string program =
      options.program.empty() ? BinDir() + "/varmex-setup" : options.program;
  const std::string cwd = options.cwd.empty() ? scratch.path() : options.cwd;
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envStore;
  for (const auto& [k, v] : env) {
    envStore.push_back(k + "=" + v);
  }
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  for (std::string& e : envStore) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);

  Run run;
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    const int in = open(options.input.c_str(), O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    if (options.fileSizeLimit > 0) {
      // A write past the limit then fails with EFBIG, as one on a full disk does.
      signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = static_cast<rlim_t>(options.fileSizeLimit);
      const struct rlimit r { limit, limit };
      if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(126);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = started + std::chrono::seconds(options.timeoutSeconds);
  const auto killAt = started + std::chrono::milliseconds(options.killAfterMs);
  int wstatus = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) {
      break;
    }
    if (done < 0 && errno != EINTR) {
      break;
    }
    if (options.killAfterMs > 0 && std::chrono::steady_clock::now() > killAt) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      run.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  run.out = ReadFile(outFile);
  run.err = ReadFile(errFile);
  std::istringstream lines(ReadFile(transcript));
  std::string line;
  while (std::getline(lines, line)) {
    if (auto ev = ParseEvent(line)) {
      run.events.push_back(*ev);
    }
  }
  return run;
}

}  // namespace varmex::e2e
