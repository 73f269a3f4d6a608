// The driver in memory. Over generated collections: every estimate ends in exactly one
// GRUPDEV of its investment (or object) and price base, the sizes decide between one
// GRUPDEV and one per object, and the numbers and block 1 are kept as the suite reads
// them. Over a small collection laid out by hand: the local prices, the upgraded
// supplier record and the warning, with every expected value worked out in a comment.
#include "grupdev/grupdev.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "database/data_file.h"
#include "grupdev/choice_dialog.h"
#include "grupdev/local_prices.h"
#include "grupdev/test_records.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/legacy_layout.h"
#include "store/store_test_support.h"
#include "testing/legacy_writer.h"
#include "testing/price_base_image.h"
#include "testing/recording_dialog_host.h"
#include "tools/gencollection/collection.h"

namespace varmex::grupdev {
namespace {

using gencollection::Collection;
using gencollection::CollectionOptions;
using gencollection::InvestmentPlan;

constexpr const char* kDir = "D:\\kedro\\Varmex";

struct Grupdev {
  int32_t number = 0;
  std::string name;
  std::vector<std::string> members;
};

class Migration {
 public:
  // A collection generated from `options`.
  explicit Migration(const CollectionOptions& options) : Migration() {
    c = gencollection::GenerateCollection(options);
    for (const auto& [path, bytes] : c.files)
      AddFile(path.substr(path.find_last_of('/') + 1), bytes);
    counts = {c.obiBlocks, c.devBlocks, c.norBlocks, c.tehnoBlocks, c.norincBlocks};
  }

  // A collection that the test lays out with AddFile, beside an empty lcalcdev.dat and
  // Prefman.dat.
  Migration() {
    for (const auto& [name, bytes] : gencollection::FreshFiles(300, 600)) AddFile(name, bytes);
    fake.runDialog = [this](int id, platform::DialogProcedure& proc) -> intptr_t {
      ++dialogs;
      EXPECT_EQ(id, 102);
      doubles::RecordingDialogHost host;
      proc.OnInit(host);
      dialogTexts.push_back(host.texts[1010]);
      if (!answers.empty()) {
        host.checked[1009] = answers.front().second;
        proc.OnCommand(host, answers.front().first, 0);
        answers.erase(answers.begin());
      }
      return host.result.value_or(-1);
    };
  }
  ~Migration() { io::CloseAllUnits(); }

  void AddFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    fake.AddFile(std::string(kDir) + "\\" + name, bytes);
  }

  DataFile Open(const char* name, int32_t headerCount = -1) {
    const database::OpenResult r =
        database::OpenDataFile(fake, name, kDir, database::kShowMessages, database::kNotFatal);
    EXPECT_NE(r.unit, -1) << name;
    return {r.unit, headerCount >= 0 ? headerCount : r.blockCount};
  }

  static store::KeyedFile Handle(const DataFile& f) {
    return store::KeyedFile(f.unit, f.blockCount);
  }

  void Run(GrupdevLimits limits = {}) {
    files.dataDirectory = kDir;
    files.obi = Open("obi.dat", counts.obi);
    files.dev = Open("dev.dat", counts.dev);
    files.nor = Open("nor.dat", counts.nor);
    files.norinc = Open("norinc.dat", counts.norinc);
    files.tehno = Open("tehno.dat", counts.tehno);
    files.furndev = Open("furndev.dat");
    furnmat = Handle(Open("furnmat.dat"));
    lcalcdev = Handle(Open("lcalcdev.dat"));
    prefman = Handle(Open("Prefman.dat"));
    files.furnmat = &furnmat;
    files.lcalcdev = &lcalcdev;
    files.prefman = &prefman;
    GenerateGrupdevs(fake, files, limits);
    ReadBack();
  }

  int32_t LastNumber() {
    std::array<uint8_t, 512> block{};
    EXPECT_EQ(io::ReadRecord(lcalcdev.unit(), 1, block), 0);
    return io::LoadI32(block.data() + 22);
  }

  // Every GRUPDEV record up to the last number, and the link of every estimate.
  void ReadBack() {
    const int32_t last = LastNumber();
    for (int32_t n = 1; n <= last; ++n) {
      std::vector<uint8_t> r(6116);
      io::StoreI32(r.data(), n);
      const store::ReadResult read = store::KeyedRead(r, 4, lcalcdev.blocks(), lcalcdev.unit(),
                                                      store::HashSelector::kVariableLength);
      if (read.status != 0) continue;
      Grupdev g;
      g.number = n;
      g.name.assign(reinterpret_cast<const char*>(r.data() + 12), 30);
      EXPECT_EQ(io::LoadI32(r.data() + 4), 0);
      EXPECT_EQ(io::LoadI32(r.data() + 8), 0);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 42), 74),
                std::string(74, ' '));
      EXPECT_EQ((read.length - 116) % 6, 0);
      for (int32_t k = 116; k + 6 <= read.length; k += 6)
        g.members.emplace_back(reinterpret_cast<const char*>(r.data() + k), 6);
      grupdevs.push_back(g);
    }
  }

  int32_t LinkOf(const std::string& key) {
    std::array<uint8_t, 10> link{};
    std::memcpy(link.data(), key.data(), 6);
    const store::ReadResult r = store::KeyedRead(link, 6, lcalcdev.blocks(), lcalcdev.unit(),
                                                 store::HashSelector::kVariableLength);
    if (r.status != 0 || r.length != 10) return 0;
    return io::LoadI32(link.data() + 6);
  }

  std::optional<int32_t> LocalPrice(int32_t material, int32_t grupdev) {
    std::array<uint8_t, 24> rec{};
    io::StoreI32(rec.data(), material);
    io::StoreI32(rec.data() + 6, grupdev);
    const store::ReadResult r = store::KeyedRead(rec, 10, prefman.blocks(), prefman.unit(),
                                                 store::HashSelector::kVariableLength);
    if (r.status != 0) return std::nullopt;
    EXPECT_EQ(r.length, 24);
    EXPECT_EQ(io::LoadI16(rec.data() + 14), 1);
    for (size_t i = 16; i < 24; ++i) EXPECT_EQ(rec[i], 0);
    return io::LoadI32(rec.data() + 10);
  }

  const gencollection::Estimate& EstimateOf(const std::string& key) const {
    for (const auto& e : c.estimates) {
      if (e.key == key) return e;
    }
    throw std::runtime_error("no such estimate " + key);
  }

  std::vector<std::string> Warnings() const {
    std::vector<std::string> w;
    for (const auto& m : fake.messages) {
      if (m.caption == "Atentie") w.push_back(m.text);
    }
    return w;
  }

  // The block counts the OBI header gives for the word-layout files.
  struct HeaderCounts {
    int32_t obi = 0, dev = 0, nor = 0, tehno = 0, norinc = 0;
  };

  platform::FakePlatform fake;
  Collection c;
  HeaderCounts counts;
  GrupdevFiles files;
  store::KeyedFile furnmat, lcalcdev, prefman;
  std::vector<Grupdev> grupdevs;
  std::vector<std::pair<int, bool>> answers;  // button, check box ticked
  std::vector<std::string> dialogTexts;
  int dialogs = 0;
};

InvestmentPlan Plan(int16_t number, int32_t estimates, int16_t objects,
                    std::vector<int16_t> bases) {
  InvestmentPlan p;
  p.number = number;
  p.estimates = estimates;
  p.objects = objects;
  p.bases = std::move(bases);
  return p;
}

CollectionOptions Planned(std::vector<InvestmentPlan> plans) {
  CollectionOptions o;
  o.estimates = 0;
  o.investments = std::move(plans);
  return o;
}

// Members per investment, object and base: checks that each GRUPDEV is one group.
std::map<int16_t, std::vector<const Grupdev*>> ByInvestment(const Migration& m) {
  std::map<int16_t, std::vector<const Grupdev*>> out;
  for (const Grupdev& g : m.grupdevs) {
    const auto& first = m.EstimateOf(g.members.front());
    for (const std::string& key : g.members) {
      const auto& e = m.EstimateOf(key);
      EXPECT_EQ(e.investment, first.investment);
      EXPECT_EQ(e.priceField / 1000000, first.priceField / 1000000);
    }
    out[first.investment].push_back(&g);
  }
  return out;
}

TEST(GenerateGrupdevs, EveryEstimateLinkedOnceToAGrupdevOfItsGroup) {
  CollectionOptions options;
  options.estimates = 300;
  options.seed = 11;
  Migration m(options);
  m.answers.assign(20, {1008, false});
  m.Run();

  // One link per estimate, to a GRUPDEV that lists it; nothing for the other records.
  std::map<std::string, int32_t> memberOf;
  for (const Grupdev& g : m.grupdevs) {
    EXPECT_LE(g.members.size(), 1000u);
    for (const std::string& key : g.members)
      EXPECT_TRUE(memberOf.emplace(key, g.number).second) << key;
  }
  for (const auto& e : m.c.estimates) {
    ASSERT_EQ(memberOf.count(e.key), 1u) << e.key;
    EXPECT_EQ(m.LinkOf(e.key), memberOf[e.key]);
  }
  for (const std::string& key : m.c.otherDevKeys) EXPECT_EQ(m.LinkOf(key), 0) << key;
  EXPECT_EQ(memberOf.size(), m.c.estimates.size());
  ByInvestment(m);
  EXPECT_EQ(m.LastNumber(), m.grupdevs.back().number);

  // The name comes from obi.dat, blanks when the investment has no record there.
  for (const Grupdev& g : m.grupdevs) {
    const auto& e = m.EstimateOf(g.members.front());
    for (const auto& inv : m.c.investments) {
      if (inv.number == e.investment) {
        EXPECT_EQ(g.name, inv.inObi ? inv.name : std::string(30, ' '));
      }
    }
  }
}

// Three estimates laid out by hand, all of price base 1 but EST003 (base 2, which has no
// file). Investment 7 ("SCOALA") holds EST001 (object 1) and EST002 (object 2): two
// estimates, below the asking range, so one GRUPDEV for the whole investment, number 1.
//
//   baz001.dat, block 2:  2000001 price 150 | 2000002 price -250000000 | 2000010 price 42
//                         2000020 price 2147400000, supplier field 3000000 (supplier 1003)
//   nor.dat:              norm 1234567, recipe 22000010, 27850000, 30000000, 22000020
//   furnmat.dat:          supplier 1003, material 2000020 in the 16-byte form (1234, 5678)
//   tehno.dat, norinc.dat: empty
//
//   EST001: 2000001, 2000002, 2000020, 1234567, 2000030, 8600001, 1999999
//   EST002: 2000001, 2000010, 12345678, 1000000007, 1999999
//   EST003: 2000001
void LayOutHandCollection(Migration& m) {
  using pricebase::testing::PriceBaseImage;
  using testing::EstimateRecord;
  m.AddFile("baz001.dat", PriceBaseImage(2, true)
                              .Put(2, 0, {2000001, 150, 0})
                              .Put(2, 1, {2000002, -250000000, 0})
                              .Put(2, 2, {2000010, 42, 0})
                              .Put(2, 3, {2000020, 2147400000, 3000000})
                              .bytes());

  store::testing::LegacyWriter dev(8, 6);
  std::vector<uint8_t> est1 = EstimateRecord("EST001", {{1, 2000001},
                                                        {2, 2000002},
                                                        {3, 2000020},
                                                        {4, 1234567},
                                                        {5, 2000030},
                                                        {6, 8600001},
                                                        {7, 1999999}});
  testing::SetEstimateGroup(est1, 7, 1, 1000123);
  std::vector<uint8_t> est2 = EstimateRecord(
      "EST002", {{1, 2000001}, {2, 2000010}, {3, 12345678}, {4, 1000000007}, {5, 1999999}});
  testing::SetEstimateGroup(est2, 7, 2, 1000000);
  std::vector<uint8_t> est3 = EstimateRecord("EST003", {{1, 2000001}});
  testing::SetEstimateGroup(est3, 8, 1, 2000000);
  for (const auto* record : {&est1, &est2, &est3}) dev.Place(*record);
  m.AddFile("dev.dat", dev.bytes());

  store::testing::LegacyWriter obi(4, 4);
  obi.Place(testing::InvestmentRecord(7, 345, "SCOALA"));
  m.AddFile("obi.dat", obi.bytes());
  store::testing::LegacyWriter nor(4, 4);
  nor.Place(testing::NormRecord(1234567, {22000010, 27850000, 30000000, 22000020}));
  m.AddFile("nor.dat", nor.bytes());
  m.AddFile("tehno.dat", std::vector<uint8_t>(4 * 512, 0));
  m.AddFile("norinc.dat", std::vector<uint8_t>(4 * 512, 0));
  m.counts = {4, 8, 4, 4, 4};

  m.AddFile("furndev.dat", store::EmptyBlockFileImage(4));
  m.AddFile("furnmat.dat", store::EmptyBlockFileImage(20));
  const database::OpenResult furnmat = database::OpenDataFile(
      m.fake, "furnmat.dat", kDir, database::kShowMessages, database::kNotFatal);
  std::array<uint8_t, 16> old{};
  io::StoreI32(old.data(), 1003);
  io::StoreI32(old.data() + 4, 2000020);
  io::StoreI32(old.data() + 8, 1234);
  io::StoreI32(old.data() + 12, 5678);
  ASSERT_EQ(store::KeyedWrite(old, 8, furnmat.blockCount, furnmat.unit,
                              store::HashSelector::kVariableLength)
                .status,
            0);
  io::CloseUnit(furnmat.unit);
}

TEST(GenerateGrupdevs, HandWorkedLocalPrices) {
  Migration m;
  LayOutHandCollection(m);
  m.Run();

  ASSERT_EQ(m.grupdevs.size(), 1u);
  EXPECT_EQ(m.grupdevs[0].number, 1);
  EXPECT_EQ(m.grupdevs[0].name, "SCOALA                        ");
  EXPECT_EQ(std::set<std::string>(m.grupdevs[0].members.begin(), m.grupdevs[0].members.end()),
            (std::set<std::string>{"EST001", "EST002"}));
  EXPECT_EQ(m.LinkOf("EST001"), 1);
  EXPECT_EQ(m.LinkOf("EST002"), 1);
  EXPECT_EQ(m.LinkOf("EST003"), 0);  // base 2 could not be loaded: no GRUPDEV
  EXPECT_EQ(m.LastNumber(), 1);

  // 2000001: 150 as it stands (written twice, by EST001 and EST002, the same value).
  EXPECT_EQ(m.LocalPrice(2000001, 1), 150);
  // 2000002: -250000000 means 2500000000, above 2147000064: stored as -(2500000000 / 10).
  EXPECT_EQ(m.LocalPrice(2000002, 1), -250000000);
  // 2000010: from the recipe of norm 1234567 (22000010 - 20000000); EST002 finds it priced.
  EXPECT_EQ(m.LocalPrice(2000010, 1), 42);
  // 2000030: not in the base, price -1, stored rounded as 0.
  EXPECT_EQ(m.LocalPrice(2000030, 1), 0);
  // 2000020 has supplier 1003: no local price. 7850000 (27850000 in the recipe) is a
  // skipped material, 30000000 no material, 8600001 a skipped article.
  for (int32_t none : {2000020, 7850000, 10000000, 8600001}) EXPECT_FALSE(m.LocalPrice(none, 1));
}

TEST(GenerateGrupdevs, HandWorkedSupplierUpgradeAndMessages) {
  Migration m;
  LayOutHandCollection(m);
  m.Run();

  // 2000020's price 2147400000 is above 2147000000 with supplier 1003: the record (1003,
  // 2000020) is met and brought to 136 bytes: the values at 8 and 12 kept, a 16-bit 0,
  // 68 blanks (18 + 50), zeros to the end.
  std::array<uint8_t, 136> r{};
  io::StoreI32(r.data(), 1003);
  io::StoreI32(r.data() + 4, 2000020);
  const store::ReadResult read = store::KeyedRead(r, 8, m.furnmat.blocks(), m.furnmat.unit(),
                                                  store::HashSelector::kVariableLength);
  ASSERT_EQ(read.status, 0);
  EXPECT_EQ(read.length, 136);
  EXPECT_EQ(io::LoadI32(r.data() + 8), 1234);
  EXPECT_EQ(io::LoadI32(r.data() + 12), 5678);
  EXPECT_EQ(io::LoadI16(r.data() + 16), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.data() + 18), 68), std::string(68, ' '));
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 86, r.end()), std::vector<uint8_t>(50, 0));

  // Missing norms, each code once: nor.dat 2000020 (a supplier's material is then looked
  // up as a norm, 2000020 / 10000000 = 0) and 1999999 (in both estimates); tehno.dat
  // 12345678 (quotient 1); norinc.dat 1000000007 (above 1000000000).
  ASSERT_EQ(m.fake.messages.size(), 2u);
  EXPECT_EQ(m.fake.messages[0].caption, "Eroare");
  EXPECT_EQ(m.fake.messages[0].text, "Eroare (   2) la deschidere D:\\kedro\\Varmex\\baz002.dat!");
  EXPECT_EQ(m.fake.messages[1].caption, "Atentie");
  EXPECT_EQ(m.fake.messages[1].text,
            "Articole negasite in nor.dat:         2\n"
            "Articole negasite in tehnno.dat:      1\n"
            "Articole negasite in norinc.dat:      1\n ");
}

TEST(GenerateGrupdevs, SizesDecideBetweenOneGrupdevAndOnePerObject) {
  Migration m(Planned({Plan(10, 99, 3, {1}), Plan(20, 100, 3, {1}), Plan(30, 999, 3, {1}),
                       Plan(40, 1000, 3, {1}), Plan(9999, 300, 4, {1})}));
  m.answers = {{1007, false}, {1008, false}};  // 100: per object; 999: whole investment
  m.Run();
  EXPECT_EQ(m.dialogs, 2);
  const auto by = ByInvestment(m);
  EXPECT_EQ(by.at(10).size(), 1u);
  EXPECT_EQ(by.at(20).size(), 3u);
  EXPECT_EQ(by.at(30).size(), 1u);
  EXPECT_EQ(by.at(40).size(), 3u);
  EXPECT_EQ(by.at(9999).size(), 4u);
  // Per object: every member of a GRUPDEV has the same object.
  for (int16_t inv : {20, 40, 9999}) {
    for (const Grupdev* g : by.at(inv)) {
      for (const auto& key : g->members)
        EXPECT_EQ(m.EstimateOf(key).object, m.EstimateOf(g->members[0]).object);
    }
  }
  EXPECT_EQ(m.dialogTexts[0].substr(0, 32), "Atentie: Investitia 20 (100140  ");
}

TEST(GenerateGrupdevs, DebugLimitsAndARememberedAnswer) {
  Migration m(Planned({Plan(1, 4, 2, {1}), Plan(2, 5, 2, {1}), Plan(3, 9, 2, {1}),
                       Plan(4, 10, 2, {1}), Plan(5, 7, 2, {1})}));
  m.answers = {{1007, true}};  // per object, for every later investment too
  m.Run({5, 10});
  EXPECT_EQ(m.dialogs, 1);
  const auto by = ByInvestment(m);
  EXPECT_EQ(by.at(1).size(), 1u);
  EXPECT_EQ(by.at(2).size(), 2u);
  EXPECT_EQ(by.at(3).size(), 2u);
  EXPECT_EQ(by.at(4).size(), 2u);
  EXPECT_EQ(by.at(5).size(), 2u);
}

TEST(GenerateGrupdevs, ADialogClosedOtherwiseMeansTheWholeInvestment) {
  Migration m(Planned({Plan(1, 6, 3, {1}), Plan(2, 6, 3, {1})}));
  m.Run({5, 10});  // no answers: the dialog ends with -1
  EXPECT_EQ(m.dialogs, 2);
  const auto by = ByInvestment(m);
  EXPECT_EQ(by.at(1).size(), 1u);
  EXPECT_EQ(by.at(2).size(), 1u);
}

TEST(GenerateGrupdevs, LargeGroupsSplitIntoThousandsWithConsecutiveNumbers) {
  Migration m(Planned({Plan(7, 2500, 1, {1}), Plan(8, 8, 1, {1, 2})}));
  m.Run();
  ASSERT_EQ(m.grupdevs.size(), 5u);
  EXPECT_EQ(m.grupdevs[0].members.size(), 1000u);
  EXPECT_EQ(m.grupdevs[1].members.size(), 1000u);
  EXPECT_EQ(m.grupdevs[2].members.size(), 500u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(m.grupdevs[i].number, i + 1);
  EXPECT_EQ(m.grupdevs[0].name, m.grupdevs[2].name);
  // Two price bases in one investment: two GRUPDEVs, even for the whole investment.
  const auto by = ByInvestment(m);
  std::set<int32_t> basesOf8;
  for (const Grupdev* g : by.at(8))
    basesOf8.insert(m.EstimateOf(g->members[0]).priceField / 1000000);
  EXPECT_EQ(by.at(8).size(), basesOf8.size());
  EXPECT_EQ(m.LastNumber(), 5);
}

TEST(GenerateGrupdevs, TakenNumbersAreSkippedAndBlockOneKeepsItsOtherBytes) {
  Migration m(Planned({Plan(7, 3, 1, {1}), Plan(8, 3, 1, {1})}));
  // lcalcdev.dat already holds GRUPDEV 1 and 3, and bytes of its own in block 1.
  std::vector<uint8_t>& lcalcdev = *m.fake.Bytes(std::string(kDir) + "\\lcalcdev.dat");
  lcalcdev[100] = 0xAB;
  lcalcdev[511] = 0xCD;
  {
    const database::OpenResult r = database::OpenDataFile(
        m.fake, "lcalcdev.dat", kDir, database::kShowMessages, database::kNotFatal);
    for (int32_t n : {1, 3}) {
      std::vector<uint8_t> rec(122, ' ');
      io::StoreI32(rec.data(), n);
      io::StoreI32(rec.data() + 4, 0);
      io::StoreI32(rec.data() + 8, 0);
      ASSERT_EQ(
          store::KeyedWrite(rec, 4, r.blockCount, r.unit, store::HashSelector::kVariableLength)
              .status,
          0);
    }
    io::CloseUnit(r.unit);
  }
  m.Run();
  std::vector<int32_t> numbers;
  for (const auto* set : {&m.c.estimates}) {
    for (const auto& e : *set) numbers.push_back(m.LinkOf(e.key));
  }
  std::set<int32_t> distinct(numbers.begin(), numbers.end());
  EXPECT_EQ(distinct, (std::set<int32_t>{2, 4}));
  EXPECT_EQ(m.LastNumber(), 4);
  EXPECT_EQ(lcalcdev[100], 0xAB);
  EXPECT_EQ(lcalcdev[511], 0xCD);
}

TEST(GenerateGrupdevs, FailedWritesAreReportedNotPassedAsSuccess) {
  Migration m(Planned({Plan(7, 5, 1, {1})}));
  // A Prefman.dat of one block (only its header) cannot take a single record.
  *m.fake.Bytes(std::string(kDir) + "\\Prefman.dat") = store::EmptyBlockFileImage(1);
  m.Run();
  const std::vector<std::string> warnings = m.Warnings();
  ASSERT_FALSE(warnings.empty());
  const std::string& last = warnings.back();
  EXPECT_EQ(last.substr(0, 44), "Inregistrari nescrise in lcalcdev.dat:    0\n");
  EXPECT_EQ(last.substr(44, 37), "Inregistrari nescrise in Prefman.dat:");
  EXPECT_GT(std::stoi(last.substr(81)), 0);
}

TEST(GenerateGrupdevs, EmptyDevDatMakesNothing) {
  Migration m(Planned({}));
  m.Run();
  EXPECT_TRUE(m.grupdevs.empty());
  EXPECT_EQ(m.dialogs, 0);
  EXPECT_TRUE(m.fake.messages.empty());
}

}  // namespace
}  // namespace varmex::grupdev
