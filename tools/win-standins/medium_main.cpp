// win-medium: writes the test installation medium from the Windows build, so that the
// tests under Wine need nothing from a native build.
//
//   win-medium DIR [--omit ARCHIVE]... [--add ARCHIVE NAME=FILE]... [--damage ARCHIVE]...
//
// --damage flips one byte inside the first stored file of ARCHIVE, so its data CRC no
// longer matches. DIR must exist. Exit status 0 on success, 1 on any failure.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

#include "tools/demo_medium/demo_medium.h"
#include "tools/rarwrite/rar_writer.h"

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Damage(std::vector<uint8_t>& archive, const std::string& name) {
  for (size_t i = 0;; ++i) {
    const int64_t at = varmex::tools::DataOffsetOfEntry(archive, i);
    if (at >= 0) {
      archive[static_cast<size_t>(at)] ^= 0x5a;
      return;
    }
    if (i > 1000) throw std::runtime_error("nothing to damage in " + name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: win-medium DIR [--omit ARCHIVE]... [--add ARCHIVE NAME=FILE]... [--damage "
                 "ARCHIVE]...\n");
    return 1;
  }
  try {
    varmex::tools::MediumOptions options;
    std::set<std::string> damaged;
    for (int i = 2; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--omit" && i + 1 < argc) {
        options.omit.insert(argv[++i]);
      } else if (a == "--damage" && i + 1 < argc) {
        damaged.insert(argv[++i]);
      } else if (a == "--add" && i + 2 < argc) {
        const std::string archive = argv[++i];
        const std::string entry = argv[++i];
        const size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) throw std::runtime_error("bad entry: " + entry);
        varmex::tools::RarEntry e;
        e.name = entry.substr(0, eq);
        e.data = ReadWholeFile(entry.substr(eq + 1));
        options.extra[archive].push_back(std::move(e));
      } else {
        throw std::runtime_error("bad argument: " + a);
      }
    }
    for (const auto& [name, entries] : varmex::tools::MediumContents(options)) {
      std::vector<uint8_t> bytes = varmex::tools::BuildRarArchive(entries);
      if (damaged.count(name) != 0) Damage(bytes, name);
      const std::string path = std::string(argv[1]) + "\\" + name;
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (!out) throw std::runtime_error("cannot write " + path);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "win-medium: %s\n", e.what());
    return 1;
  }
  return 0;
}
