// The generator's promise: every record it writes is found, whole and byte for byte,
// by the store's look-ups, and the same seed gives the same bytes.
#include "tools/gencollection/collection.h"

#include <gtest/gtest.h>

#include <cstring>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"

namespace varmex::gencollection {
namespace {

class Files {
 public:
  explicit Files(const Collection& c) {
    for (const auto& [path, bytes] : c.files) fake.AddFile(path, bytes);
  }
  ~Files() { io::CloseAllUnits(); }
  int16_t Open(const std::string& path) {
    const int16_t unit = io::FindFreeUnit();
    EXPECT_EQ(io::OpenUnit(fake, unit, path, 512), 0) << path;
    return unit;
  }
  platform::FakePlatform fake;
};

TEST(GenerateCollection, EveryRecordIsFoundWhole) {
  CollectionOptions options;
  options.estimates = 400;
  options.splitPercent = 40;
  const Collection c = GenerateCollection(options);
  Files f(c);
  const int16_t dev = f.Open("Varmex/DEV.DAT");
  std::vector<uint8_t> record(32767);
  size_t multiPiece = 0;
  for (const Estimate& e : c.estimates) {
    std::memcpy(record.data(), e.key.data(), 6);
    const store::LegacyReadResult r = store::LegacyKeyedRead(record, 6, c.devBlocks, dev);
    ASSERT_EQ(r.status, 0) << e.key;
    ASSERT_EQ(r.length, static_cast<int32_t>(104 + 36 * e.lines.size() +
                                             static_cast<size_t>(e.trailingBytes)));
    EXPECT_EQ(io::LoadI16(record.data() + 62), e.investment);
    EXPECT_EQ(io::LoadI16(record.data() + 64), e.object);
    EXPECT_EQ(io::LoadI32(record.data() + 72), e.priceField);
    for (size_t j = 0; j < e.lines.size(); ++j) {
      EXPECT_EQ(io::LoadI32(record.data() + 104 + 36 * j + 2), e.lines[j].code);
    }
    multiPiece += r.length > 500 ? 1 : 0;
  }
  EXPECT_GT(multiPiece, 10u);
  // The removed estimate is not found.
  std::memcpy(record.data(), "Zrm001", 6);
  EXPECT_EQ(store::LegacyKeyedRead(record, 6, c.devBlocks, dev).status, 1);

  const int16_t obi = f.Open("Varmex/OBI.DAT");
  std::array<uint8_t, 512> header{};
  ASSERT_EQ(io::ReadRecord(obi, 1, header), 0);
  EXPECT_EQ(io::LoadI32(header.data() + 6), c.obiBlocks);
  EXPECT_EQ(io::LoadI32(header.data() + 10), c.devBlocks);
  EXPECT_EQ(io::LoadI32(header.data() + 14), c.norBlocks);
  EXPECT_EQ(io::LoadI32(header.data() + 32), c.tehnoBlocks);
  EXPECT_EQ(io::LoadI32(header.data() + 36), c.norincBlocks);
  for (const Investment& inv : c.investments) {
    io::StoreI16(record.data(), inv.number);
    io::StoreI16(record.data() + 2, 0);
    const store::LegacyReadResult r = store::LegacyKeyedRead(record, 4, c.obiBlocks, obi);
    ASSERT_EQ(r.status, inv.inObi ? 0 : 1) << inv.number;
    if (inv.inObi) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(record.data() + 32), 30), inv.name);
    }
  }

  struct NormFile {
    const char* path;
    const std::vector<Norm>* norms;
    int32_t blocks;
  };
  for (const NormFile& nf : {NormFile{"Varmex/NOR.DAT", &c.nor, c.norBlocks},
                             NormFile{"Varmex/TEHNO.DAT", &c.tehno, c.tehnoBlocks},
                             NormFile{"Varmex/NORINC.DAT", &c.norinc, c.norincBlocks}}) {
    const int16_t unit = f.Open(nf.path);
    for (const Norm& n : *nf.norms) {
      io::StoreI32(record.data(), n.code);
      const store::LegacyReadResult r = store::LegacyKeyedRead(record, 4, nf.blocks, unit);
      ASSERT_EQ(r.status, 0) << nf.path << " " << n.code;
      EXPECT_EQ(r.length, static_cast<int32_t>(106 + 8 * n.recipe.size()))
          << nf.path << " " << n.code;
    }
  }
}

TEST(GenerateCollection, SameSeedSameBytesOtherSeedOtherBytes) {
  CollectionOptions options;
  options.estimates = 60;
  options.seed = 5;
  const Collection a = GenerateCollection(options);
  const Collection b = GenerateCollection(options);
  EXPECT_EQ(a.files, b.files);
  options.seed = 6;
  EXPECT_NE(GenerateCollection(options).files.at("Varmex/DEV.DAT"), a.files.at("Varmex/DEV.DAT"));
  options.version = 35;
  const Collection old = GenerateCollection(options);
  EXPECT_EQ(old.files.count("DEV.DAT"), 1u);
  EXPECT_EQ(old.files.count("FURN.DAT"), 1u);
  EXPECT_EQ(old.files.count("ERP/terti.dat"), 0u);
}

TEST(GenerateCollection, BlockFileNormsAreFoundByTheKeyedStore) {
  CollectionOptions options;
  options.estimates = 10;
  options.blockFileNorms = true;
  const Collection c = GenerateCollection(options);
  Files f(c);
  const int16_t unit = f.Open("Varmex/NORINC.DAT");
  std::vector<uint8_t> record(32767);
  for (const Norm& n : c.norinc) {
    io::StoreI32(record.data(), n.code);
    const store::ReadResult r =
        store::KeyedRead(record, 4, c.norincBlocks, unit, store::HashSelector::kVariableLength);
    ASSERT_EQ(r.status, 0);
    // Stored sign-inverted: the first word after the key is negated whole.
    if (!n.recipe.empty()) {
      EXPECT_NE(io::LoadI32(record.data() + 106), n.recipe[0]);
    }
  }
}

}  // namespace
}  // namespace varmex::gencollection
