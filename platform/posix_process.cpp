#include "platform/posix_process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

extern char** environ;

namespace varmex::platform::posix {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'e' &&
         std::tolower(static_cast<unsigned char>(tail[2])) == 'x' &&
         std::tolower(static_cast<unsigned char>(tail[3])) == 'e';
}

std::string OtherSpelling(std::string_view name) {
  return EndsWithExe(name) ? std::string(name.substr(0, name.size() - 4))
                           : std::string(name) + ".exe";
}

bool IsPathWord(std::string_view word) {
  return DriveLetterOf(word) != 0 || word.find_first_of("\\/") != std::string_view::npos;
}

std::optional<std::string> FindAsPath(const DriveTable& drives, std::string_view word) {
  const ResolvedPath r = ResolvePath(drives, word);
  if (!r.path.empty() && IsExecutableFile(r.path)) return r.path;
  return std::nullopt;
}

std::optional<std::string> FindInDirectories(const ProgramSearch& search, std::string_view name) {
  std::vector<std::string> dirs;
  if (!search.ownDirectory.empty()) dirs.push_back(search.ownDirectory);
  dirs.push_back(search.currentDirectory.empty() ? "." : search.currentDirectory);
  for (const std::string& d : search.pathEntries) dirs.push_back(d.empty() ? "." : d);
  for (const std::string& dir : dirs) {
    if (std::optional<std::string> entry = FindEntryIgnoringCase(dir, name)) {
      const std::string full = dir.back() == '/' ? dir + *entry : dir + "/" + *entry;
      if (IsExecutableFile(full)) return full;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    const size_t start = i;
    while (i < commandLine.size() && commandLine[i] != ' ' && commandLine[i] != '\t') ++i;
    if (i > start) words.emplace_back(commandLine.substr(start, i - start));
  }
  return words;
}

std::string TranslateArgument(const DriveTable& drives, std::string_view argument) {
  // Where the drive path starts: at 0, or after an option's name ("-f", "/o").
  size_t at = std::string_view::npos;
  auto isDrivePathAt = [&](size_t k) {
    return k + 2 <= argument.size() && DriveLetterOf(argument.substr(k)) != 0 &&
           (k + 2 == argument.size() || argument[k + 2] == '\\' || argument[k + 2] == '/');
  };
  if (isDrivePathAt(0)) {
    at = 0;
  } else if (!argument.empty() && (argument[0] == '-' || argument[0] == '/')) {
    for (size_t k = 1; k + 1 < argument.size(); ++k) {
      if (isDrivePathAt(k)) {
        at = k;
        break;
      }
      if (!std::isalnum(static_cast<unsigned char>(argument[k])) && argument[k] != '-' &&
          argument[k] != '+') {
        break;
      }
    }
  }
  if (at == std::string_view::npos) return std::string(argument);
  const ResolvedPath r = ResolvePath(drives, argument.substr(at));
  if (r.path.empty()) return std::string(argument);  // no such drive: left as written
  std::string out(argument.substr(0, at));
  out += r.path;
  if (r.trailingSeparator && r.path.back() != '/') out += '/';
  return out;
}

ProgramSearch SearchOfThisProcess() {
  ProgramSearch s;
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    const std::string exe(self, static_cast<size_t>(n));
    const size_t slash = exe.find_last_of('/');
    if (slash != std::string::npos) s.ownDirectory = slash == 0 ? "/" : exe.substr(0, slash);
  }
  s.currentDirectory = ".";
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest = path;
    while (true) {
      const size_t colon = rest.find(':');
      s.pathEntries.emplace_back(rest.substr(0, colon));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return s;
}

std::optional<std::string> FindProgram(const DriveTable& drives, const ProgramSearch& search,
                                       std::string_view word) {
  for (const std::string& name : {std::string(word), OtherSpelling(word)}) {
    std::optional<std::string> found =
        IsPathWord(name) ? FindAsPath(drives, name) : FindInDirectories(search, name);
    if (found) return found;
  }
  return std::nullopt;
}

ProcessResult RunCommandLine(const DriveTable& drives, std::string_view commandLine) {
  const std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty()) return ProcessResult{kErrorFileNotFound, std::nullopt};
  const std::optional<std::string> program = FindProgram(drives, SearchOfThisProcess(), words[0]);
  if (!program) return ProcessResult{kErrorFileNotFound, std::nullopt};

  std::vector<std::string> args;
  args.push_back(*program);
  for (size_t i = 1; i < words.size(); ++i) args.push_back(TranslateArgument(drives, words[i]));
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program->c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return ProcessResult{ErrorFromErrno(rc), std::nullopt};

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return ProcessResult{0, std::nullopt};
  }
  if (WIFEXITED(status)) return ProcessResult{0, static_cast<uint32_t>(WEXITSTATUS(status))};
  return ProcessResult{0, std::nullopt};  // ended by a signal: no exit status to read
}

}  // namespace varmex::platform::posix
