// varmex-demo-medium (and win-medium, the same program built for Windows): writes the
// demo installation medium.
//
//   varmex-demo-medium DIR [--mklnk FILE] [--omit ARCHIVE]... [--add ARCHIVE NAME=FILE]...
//                          [--damage ARCHIVE]...
//
// DIR is created if missing. --damage flips one data byte of ARCHIVE's first stored
// file, so its CRC no longer matches. -h and --help print the usage on standard output
// (exit 0); an unknown option, a missing value or a second DIR print it on standard
// error (exit 2). No word that starts with '-' is ever taken for DIR or an option's
// value. Exit status 1 when a file cannot be read or written.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/demo_medium/demo_medium.h"

#ifndef VARMEX_MEDIUM_TOOL
#define VARMEX_MEDIUM_TOOL "varmex-demo-medium"
#endif

namespace {

constexpr const char* kUsage =
    "usage: " VARMEX_MEDIUM_TOOL
    " DIR [--mklnk FILE] [--omit ARCHIVE]... [--add ARCHIVE NAME=FILE]... [--damage ARCHIVE]...\n"
    "  --mklnk FILE            pack FILE as the shortcut maker \"mklnk\" into erp.rar\n"
    "  --omit ARCHIVE          leave ARCHIVE out\n"
    "  --add ARCHIVE NAME=FILE add FILE to ARCHIVE under NAME\n"
    "  --damage ARCHIVE        flip a data byte of ARCHIVE's first file\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

varmex::tools::RarEntry FileEntry(const std::string& spec) {
  const size_t eq = spec.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw UsageError("bad entry: " + spec);
  }
  varmex::tools::RarEntry e;
  e.name = spec.substr(0, eq);
  const std::string file = spec.substr(eq + 1);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + file);
  }
  e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::error_code ec;
  const auto perms = std::filesystem::status(file, ec).permissions();
  if (!ec && (perms & std::filesystem::perms::owner_exec) != std::filesystem::perms::none) {
    e.mode = 0755;
  }
  return e;
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
  try {
    varmex::tools::MediumOptions options;
    std::string dir;
    size_t i = 0;
    // The next word as an option's value: present, and not itself an option.
    auto value = [&](const std::string& option) -> const std::string& {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
        throw UsageError("missing value for " + option);
      }
      return args[++i];
    };
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a == "--mklnk") {
        options.mklnkPath = value(a);
      } else if (a == "--omit") {
        options.omit.insert(value(a));
      } else if (a == "--damage") {
        options.damaged.insert(value(a));
      } else if (a == "--add") {
        const std::string& archive = value(a);
        options.extra[archive].push_back(FileEntry(value(a)));
      } else if (!a.empty() && a[0] == '-') {
        throw UsageError("unknown option " + a);
      } else if (dir.empty()) {
        dir = a;
      } else {
        throw UsageError("unexpected argument " + a);
      }
    }
    if (dir.empty()) {
      throw UsageError("no folder given");
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
      throw std::runtime_error("cannot create folder " + dir);
    }
    varmex::tools::WriteMedium(dir, options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, VARMEX_MEDIUM_TOOL ": %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, VARMEX_MEDIUM_TOOL ": %s\n", e.what());
    return 1;
  }
  return 0;
}
