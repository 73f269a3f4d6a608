// A price base file of arbitrary bytes, loaded into the price table and converted.
// The load must give a table of positive codes or an empty one; the conversion may
// change nothing in the file but the price and supplier fields of entries it
// converts, each with its supplier price stored in furnmat.dat, must leave furnmat.dat
// sound, and a second conversion must change nothing more.
#include <array>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "grupdev/price_table.h"
#include "pricebase/conversion.h"
#include "pricebase/supplier_price.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/verify.h"

using namespace varmex;

namespace {

// Room for every material of the largest input (16 blocks of 43 entries), so that a
// conversion never runs out of room (a full file may keep a record without its end).
constexpr int32_t kFurnmatBlocks = 256;

bool SupplierPriceStored(int16_t unit, int32_t material) {
  std::array<uint8_t, pricebase::kSupplierPriceRecordSize> record{};
  pricebase::SetSupplierPriceKey(record, pricebase::kDefaultSupplier, material);
  return store::KeyedRead(record, pricebase::kSupplierPriceKeyLength, kFurnmatBlocks, unit,
                          store::HashSelector::kVariableLength)
             .status == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16 * 512) return 0;
  fuzz::Scene scene;
  scene.AddFile("baz001.dat", std::span<const uint8_t>(data, size));
  scene.AddFile("furnmat.dat", store::EmptyBlockFileImage(kFurnmatBlocks));

  grupdev::PriceTable table;
  const int16_t loaded = grupdev::LoadPriceBase(scene.os, table, fuzz::kDataDir, 1, nullptr);
  fuzz::Check(loaded == 0 || loaded == 1, "unknown load status");
  if (loaded == 1)
    fuzz::Check(table.entries.empty() && table.base == 0, "a failed load left a table");
  for (const auto& e : table.entries) fuzz::Check(e.code > 0, "the table took an empty entry");
  fuzz::Check(!io::UnitInUse(1), "the load left the price base open");

  const int16_t furnmat = scene.Open("furnmat.dat");
  const std::vector<uint8_t> before = scene.Bytes("baz001.dat");
  const int16_t converted =
      pricebase::ConvertPriceBase(scene.os, fuzz::kDataDir, 1, furnmat, kFurnmatBlocks, nullptr);
  fuzz::Check(converted == 0 || converted == 1, "unknown conversion status");
  fuzz::Check(!io::UnitInUse(2), "the conversion left the price base open");
  const std::vector<uint8_t> after = scene.Bytes("baz001.dat");
  fuzz::Check(after.size() == before.size(), "the conversion changed the size of the price base");

  // Every changed byte lies in an entry whose code is a material without a supplier;
  // the entry now points at the default supplier, whose price record exists.
  for (size_t block = 0; block + 512 <= after.size(); block += 512) {
    for (size_t at = block; at < block + 512; at += 12) {
      const size_t width = at + 12 <= block + 512 ? 12 : 8;
      if (std::memcmp(after.data() + at, before.data() + at, width) == 0) continue;
      fuzz::Check(width == 12, "the conversion rewrote the 8 bytes after the last whole entry");
      const int32_t code = io::LoadI32(before.data() + at);
      fuzz::Check(io::LoadI32(after.data() + at) == code, "the conversion changed a material code");
      fuzz::Check(
          code >= 2000001 && code <= 8000000 && io::LoadI32(before.data() + at + 8) / 1000000 == 0,
          "the conversion changed an entry that was not to convert");
      fuzz::Check(io::LoadI32(after.data() + at + 4) == 2147483647 &&
                      io::LoadI32(after.data() + at + 8) == 1499800101,
                  "a converted entry has other values");
      fuzz::Check(SupplierPriceStored(furnmat, code),
                  "a converted entry has no supplier price record");
    }
  }
  const store::VerifyReport report =
      store::VerifyBlockImage(scene.Bytes("furnmat.dat"), kFurnmatBlocks);
  if (!report.ok()) {
    std::fprintf(stderr, "%s", store::FormatProblems(report).c_str());
    fuzz::Fail("the conversion left furnmat.dat unsound");
  }

  pricebase::ConvertPriceBase(scene.os, fuzz::kDataDir, 1, furnmat, kFurnmatBlocks, nullptr);
  fuzz::Check(scene.Bytes("baz001.dat") == after,
              "a second conversion changed the price base again");
  return 0;
}
