// varmex-demo-medium: writes the demo installation medium.
//
//   varmex-demo-medium DIR [--mklnk FILE] [--omit ARCHIVE]... [--add ARCHIVE NAME=FILE]...
//
// DIR is created if missing. Exit status 0 on success, 1 on any failure.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "tools/demo_medium/demo_medium.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: varmex-demo-medium DIR [--mklnk FILE] [--omit ARCHIVE]... [--add ARCHIVE "
                 "NAME=FILE]...\n");
    return 1;
  }
  try {
    varmex::tools::MediumOptions options;
    for (int i = 2; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--mklnk" && i + 1 < argc) {
        options.mklnkPath = argv[++i];
      } else if (a == "--omit" && i + 1 < argc) {
        options.omit.insert(argv[++i]);
      } else if (a == "--add" && i + 2 < argc) {
        const std::string archive = argv[++i];
        const std::string spec = argv[++i];
        const size_t eq = spec.find('=');
        if (eq == std::string::npos || eq == 0) {
          throw std::runtime_error("bad entry: " + spec);
        }
        varmex::tools::RarEntry e;
        e.name = spec.substr(0, eq);
        const std::string file = spec.substr(eq + 1);
        std::ifstream in(file, std::ios::binary);
        if (!in) {
          throw std::runtime_error("cannot read " + file);
        }
        e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        struct stat st {};
        if (stat(file.c_str(), &st) == 0 && (st.st_mode & S_IXUSR)) {
          e.mode = 0755;
        }
        options.extra[archive].push_back(std::move(e));
      } else {
        throw std::runtime_error("bad argument: " + a);
      }
    }
    mkdir(argv[1], 0777);
    varmex::tools::WriteMedium(argv[1], options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varmex-demo-medium: %s\n", e.what());
    return 1;
  }
  return 0;
}
