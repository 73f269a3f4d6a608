// rarwrite: makes a RAR archive of stored entries.
//
//   rarwrite ARCHIVE ENTRY...
//     NAME=FILE    the contents of FILE under NAME (its execute permission is kept)
//     NAME:=TEXT   TEXT followed by a line feed under NAME
//     NAME/        a folder
//
// NAME may hold folders separated by '/'. Exit status 0 on success, 1 on any failure.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/rarwrite/rar_writer.h"

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    throw std::runtime_error("bad entry: " + arg);
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
  if (argc < 2) {
    std::fprintf(stderr, "usage: rarwrite ARCHIVE [NAME=FILE | NAME:=TEXT | NAME/]...\n");
    return 1;
  }
  try {
    std::vector<varmex::tools::RarEntry> entries;
    for (int i = 2; i < argc; ++i) {
      entries.push_back(ParseEntry(argv[i]));
    }
    const std::vector<uint8_t> bytes = varmex::tools::BuildRarArchive(entries);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      throw std::runtime_error(std::string("cannot write ") + argv[1]);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rarwrite: %s\n", e.what());
    return 1;
  }
  return 0;
}
