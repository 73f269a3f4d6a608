// Stand-ins for the suite's own migration tools (convfurn, cuvterti, lsort, fo2,
// mkhvoc) in the POSIX build, for the tests and the demo. Each one is this program
// built under the tool's name (VARMEX_STANDIN_NAME).
//
// Every stand-in appends its command line, one line "NAME ARG ARG ...", to the file
// named by the environment variable VARMEX_STANDIN_LOG when it is set, and exits 0.
// convfurn ERPDIR VARMEXDIR also leaves in ERPDIR a fresh partner file terti.dat: a
// block file of 100 blocks whose block 1 is a valid header record and whose other
// blocks are empty (an existing terti.dat of any spelling is replaced). It exits 2
// when that file cannot be written.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "store/block_file_builder.h"

#ifndef VARMEX_STANDIN_NAME
#error "VARMEX_STANDIN_NAME must name the tool"
#endif

namespace {

constexpr int kPartnerBlocks = 100;

void Record(int argc, char** argv) {
  const char* log = std::getenv("VARMEX_STANDIN_LOG");
  if (log == nullptr || *log == '\0') return;
  std::ofstream out(log, std::ios::app);
  out << VARMEX_STANDIN_NAME;
  for (int i = 1; i < argc; ++i) out << ' ' << argv[i];
  out << '\n';
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The file `name` in `dir`, matched without regard to case as the suite names files.
std::filesystem::path FileIn(const std::filesystem::path& dir, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (Lower(entry.path().filename().string()) == name) return entry.path();
  }
  return dir / name;
}

int WritePartnerFile(const std::string& erpDir) {
  const std::vector<uint8_t> bytes = varmex::store::EmptyBlockFileImage(kPartnerBlocks);
  const std::filesystem::path path = FileIn(erpDir, "terti.dat");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "convfurn: cannot write %s\n", path.string().c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Record(argc, argv);
  if (std::string(VARMEX_STANDIN_NAME) == "convfurn") {
    if (argc < 3) {
      std::fprintf(stderr, "usage: convfurn ERPDIR VARMEXDIR\n");
      return 1;
    }
    return WritePartnerFile(argv[1]);
  }
  return 0;
}
