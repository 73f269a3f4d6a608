// rarwrite: makes a RAR archive of stored entries.
//
//   rarwrite ARCHIVE ENTRY...
//     NAME=FILE    the contents of FILE under NAME (its execute permission is kept)
//     NAME:=TEXT   TEXT followed by a line feed under NAME
//     NAME/        a folder
//
// NAME may hold folders separated by '/'. Every word that starts with '-' is an option:
// -h and --help print the usage on standard output (exit 0); any other prints it on
// standard error (exit 2), so no such word is ever taken for the archive to write.
// Exit status 0 on success, 1 when a file cannot be read or written or is refused,
// 2 for a bad command line.
//
// A FILE is read only when it is a regular file of at most 256 MiB (the suite's
// largest file is a few MiB), and the archive holds at most 1 GiB of files: the
// archive is made in memory, and /dev/zero or a pipe would never end.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bounded_input.h"
#include "platform/terminal_text.h"
#include "tools/rarwrite/rar_writer.h"

namespace {

constexpr size_t kMostFileBytes = 256 * 1024 * 1024;
constexpr size_t kMostArchiveBytes = 1024 * 1024 * 1024;

constexpr const char* kUsage =
    "usage: rarwrite ARCHIVE [NAME=FILE | NAME:=TEXT | NAME/]...\n"
    "  NAME=FILE   the contents of FILE under NAME (a regular file of at most 256 MiB)\n"
    "  NAME:=TEXT  TEXT and a line feed under NAME\n"
    "  NAME/       a folder\n"
    "The files together hold at most 1 GiB.\n"
    "Exit status: 0 written; 1 a file cannot be read (missing, a folder, a pipe or a\n"
    "device, past its bound) or the archive cannot be written; 2 a bad command line.\n";

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::string contents;
  const varmex::platform::FileRead read =
      varmex::platform::ReadRegularFile(path, kMostFileBytes, contents);
  if (read != varmex::platform::FileRead::kRead) {
    throw std::runtime_error("cannot read " + varmex::platform::TerminalText(path) + ": " +
                             varmex::platform::DescribeFileRead(read, kMostFileBytes));
  }
  return std::vector<uint8_t>(contents.begin(), contents.end());
}

varmex::tools::RarEntry ParseEntry(const std::string& arg) {
  varmex::tools::RarEntry entry;
  if (!arg.empty() && arg.back() == '/') {
    entry.name = arg.substr(0, arg.size() - 1);
    entry.directory = true;
    return entry;
  }
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw std::runtime_error("bad entry: " + varmex::platform::TerminalText(arg));
  }
  if (arg[eq - 1] == ':') {
    entry.name = arg.substr(0, eq - 1);
    const std::string text = arg.substr(eq + 1) + "\n";
    entry.data.assign(text.begin(), text.end());
    return entry;
  }
  entry.name = arg.substr(0, eq);
  const std::string path = arg.substr(eq + 1);
  entry.data = ReadWholeFile(path);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR)) {
    entry.mode = 0755;
  }
  return entry;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "rarwrite: unknown option %s\n%s",
                   varmex::platform::TerminalText(a).c_str(), kUsage);
      return 2;
    }
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    std::vector<varmex::tools::RarEntry> entries;
    size_t total = 0;
    for (size_t i = 1; i < args.size(); ++i) {
      entries.push_back(ParseEntry(args[i]));
      total += entries.back().data.size();
      if (total > kMostArchiveBytes) {
        throw std::runtime_error("the files hold more than " + std::to_string(kMostArchiveBytes) +
                                 " bytes");
      }
    }
    const std::vector<uint8_t> bytes = varmex::tools::BuildRarArchive(entries);
    std::ofstream out(args[0], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      throw std::runtime_error("cannot write " + varmex::platform::TerminalText(args[0]));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rarwrite: %s\n", e.what());
    return 1;
  }
  return 0;
}
