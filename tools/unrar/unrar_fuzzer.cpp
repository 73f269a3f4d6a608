// libFuzzer target: arbitrary bytes as an archive, tested and unpacked by the unpacking
// tool. It must never crash, hang or write outside its destination, and the test and
// the unpacking answer alike: an archive the test calls sound unpacks, one it refuses
// is refused by the unpacking with the same code and reason (unless writing failed
// first).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/unrar/unrar.h"

namespace {

const std::string& WorkFolder() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "unrar_fuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive = WorkFolder() + "/input.rar";
  const std::string dest = WorkFolder() + "/out";
  std::FILE* f = std::fopen(archive.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  const varmex::tools::UnrarOutcome tested = varmex::tools::RunUnrar({"t", archive});
  std::error_code ec;
  std::filesystem::remove_all(dest, ec);
  const varmex::tools::UnrarOutcome unpacked = varmex::tools::RunUnrar({"x", "-y", archive, dest});
  if (unpacked.exitCode != varmex::tools::kUnrarWriteFailed &&
      (unpacked.exitCode != tested.exitCode || unpacked.reason != tested.reason)) {
    std::fprintf(stderr, "test said %d (%s), unpacking said %d (%s)\n", tested.exitCode,
                 tested.reason.c_str(), unpacked.exitCode, unpacked.reason.c_str());
    std::abort();
  }
  // Nothing may appear beside the input and the destination.
  for (const auto& entry : std::filesystem::directory_iterator(WorkFolder())) {
    const std::string name = entry.path().filename().string();
    if (name != "input.rar" && name != "out") {
      std::fprintf(stderr, "written outside the destination: %s\n", name.c_str());
      std::abort();
    }
  }
  std::filesystem::remove_all(dest, ec);
  return 0;
}
