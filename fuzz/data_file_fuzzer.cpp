// OpenDataFile and ReadObiHeader over arbitrary bytes as a data file: the header
// check of block 1 must give the block count exactly when block 1 is a valid header
// record, a file shorter than a block must be refused with its message and closed,
// and nothing may be written.
#include <cstring>

#include "database/data_file.h"
#include "fuzz/fuzz_support.h"
#include "store/block_header.h"

using namespace varmex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Scene scene;
  const std::span<const uint8_t> input(data, size);
  scene.AddFile("obi.dat", input);

  // Both spellings of the directory must reach the same file.
  const database::OpenResult r = database::OpenDataFile(
      scene.os, "obi.dat", "D:\\kedro\\Varmex\\", database::kShowMessages, database::kNotFatal);
  if (size < 512) {
    fuzz::Check(r.unit == io::kNoUnit, "a file shorter than a block was accepted");
    fuzz::Check(!io::UnitInUse(1), "a refused file was left open");
    fuzz::Check(scene.os.messages.size() == 1 &&
                    scene.os.messages[0].text ==
                        "Eroare (  38) la citire bloc 1 din D:\\kedro\\Varmex\\obi.dat!",
                "the short-file message is wrong");
  } else {
    fuzz::Check(r.unit == 1 && scene.os.messages.empty(), "a whole block 1 was refused");
    int32_t expected = 0;
    if (data[0] == 0xFF && data[1] == 0x70 && std::memcmp(data + 2, "****************", 16) == 0) {
      expected = io::LoadI32(data + 18) > 0 ? io::LoadI32(data + 18) : 0;
    }
    fuzz::Check(r.blockCount == expected, "the block count does not follow the header check");
    fuzz::Check(
        store::IsBlockFileHeader(std::span<const uint8_t, 512>(data, 512)) == (expected > 0),
        "IsBlockFileHeader disagrees");
    database::ObiHeader obi;
    fuzz::Check(database::ReadObiHeader(scene.os, r.unit, obi) == 0,
                "a readable OBI header was refused");
    fuzz::Check(
        obi.DevBlocks() == io::LoadI32(data + 10) && obi.NorincBlocks() == io::LoadI32(data + 36),
        "the OBI header fields are misread");
    const database::OpenResult again = database::OpenDataFile(
        scene.os, "obi.dat", "D:\\kedro\\Varmex", database::kNoMessages, database::kNotFatal);
    fuzz::Check(again.unit == 2 && again.blockCount == r.blockCount, "a second open differs");
  }
  fuzz::Check(scene.Bytes("obi.dat").size() == size &&
                  (size == 0 || std::memcmp(scene.Bytes("obi.dat").data(), data, size) == 0),
              "opening changed the file");
  return 0;
}
