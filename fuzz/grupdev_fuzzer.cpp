// GRUPDEV generation over a dev.dat of arbitrary bytes, the other files of a small
// generated collection around it. The walk of dev.dat's blocks, the look-ups of the
// estimates it finds and everything done with them must end without a crash or a
// hang; lcalcdev.dat, Prefman.dat and furnmat.dat, sound before, must be sound after,
// and no file may change its size.
#include <map>

#include "database/data_file.h"
#include "fuzz/fuzz_support.h"
#include "grupdev/grupdev.h"
#include "store/verify.h"
#include "tools/gencollection/collection.h"

using namespace varmex;

namespace {

std::map<std::string, std::vector<uint8_t>>& Files() {
  static std::map<std::string, std::vector<uint8_t>> files;
  return files;
}

bool SoundBlockFile(const std::vector<uint8_t>& image) {
  return store::VerifyBlockImage(image, 0).ok();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gencollection::CollectionOptions options;
  options.version = 36;
  options.estimates = 12;
  options.priceBases = 2;
  options.seed = 38;
  gencollection::Collection c = gencollection::GenerateCollection(options);
  for (auto& [path, bytes] : c.files) {
    if (path.rfind("Varmex/", 0) == 0) Files()[path.substr(7)] = bytes;
  }
  for (auto& [name, bytes] : gencollection::FreshFiles(31, 61)) Files()[name] = bytes;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 512) return 0;
  fuzz::Scene scene;
  for (const auto& [name, bytes] : Files()) scene.AddFile(name, bytes);
  scene.AddFile("DEV.DAT", std::span<const uint8_t>(data, size));

  auto open = [&scene](std::string_view name) {
    const database::OpenResult r = database::OpenDataFile(
        scene.os, name, fuzz::kDataDir, database::kShowMessages, database::kNotFatal);
    return grupdev::DataFile{r.unit, r.blockCount};
  };
  grupdev::GrupdevFiles g;
  g.dataDirectory = fuzz::kDataDir;
  g.obi = open("obi.dat");
  database::ObiHeader obi;
  fuzz::Check(g.obi.unit != io::kNoUnit && database::ReadObiHeader(scene.os, g.obi.unit, obi) == 0,
              "obi.dat unusable");
  g.obi.blockCount = obi.ObiBlocks();
  g.dev = open("dev.dat");
  if (g.dev.unit == io::kNoUnit) return 0;  // shorter than a block: refused with its message
  g.dev.blockCount = fuzz::WholeBlocks(size);
  g.nor = open("nor.dat");
  g.nor.blockCount = obi.NorBlocks();
  g.tehno = open("tehno.dat");
  g.tehno.blockCount = obi.TehnoBlocks();
  g.norinc = open("norinc.dat");
  g.norinc.blockCount = obi.NorincBlocks();
  g.furndev = open("furndev.dat");
  auto handle = [&](std::string_view name) {
    const grupdev::DataFile f = open(name);
    return store::KeyedFile(f.unit, f.blockCount);
  };
  store::KeyedFile furnmat = handle("furnmat.dat");
  store::KeyedFile lcalcdev = handle("lcalcdev.dat");
  store::KeyedFile prefman = handle("Prefman.dat");
  g.furnmat = &furnmat;
  g.lcalcdev = &lcalcdev;
  g.prefman = &prefman;

  std::map<std::string, size_t> sizes;
  for (const auto& [name, bytes] : Files()) sizes[name] = scene.Bytes(name).size();
  const bool furnmatSound = SoundBlockFile(scene.Bytes("furnmat.dat"));

  grupdev::GenerateGrupdevs(scene.os, g, grupdev::GrupdevLimits{5, 10});

  for (const auto& [name, bytes] : Files()) {
    if (name != "DEV.DAT")
      fuzz::Check(scene.Bytes(name).size() == sizes[name], "a file changed its size");
  }
  fuzz::Check(scene.Bytes("dev.dat").size() == size, "dev.dat changed its size");
  for (const char* name : {"lcalcdev.dat", "Prefman.dat"}) {
    const store::VerifyReport report = store::VerifyBlockImage(scene.Bytes(name), 0);
    if (!report.ok()) {
      std::fprintf(stderr, "%s:\n%s", name, store::FormatProblems(report).c_str());
      fuzz::Fail("GRUPDEV generation left a block file unsound");
    }
  }
  if (furnmatSound)
    fuzz::Check(SoundBlockFile(scene.Bytes("furnmat.dat")), "furnmat.dat became unsound");
  return 0;
}
