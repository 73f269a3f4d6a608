// The driver over generated collections, in memory: every estimate ends in exactly one
// GRUPDEV of its investment (or object) and price base, the records and the last
// number are where the suite reads them, and Prefman.dat holds the price of every
// material each GRUPDEV uses.
#include "grupdev/grupdev.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "database/data_file.h"
#include "grupdev/choice_dialog.h"
#include "grupdev/local_prices.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/keyed_store.h"
#include "store/word_layout.h"
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
  explicit Migration(const CollectionOptions& options)
      : c(gencollection::GenerateCollection(options)) {
    for (const auto& [path, bytes] : c.files) {
      fake.AddFile(std::string(kDir) + "\\" + path.substr(path.find_last_of('/') + 1), bytes);
    }
    for (const auto& [name, bytes] : gencollection::FreshFiles(300, 600)) {
      fake.AddFile(std::string(kDir) + "\\" + name, bytes);
    }
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
    store::ResetLegacyBlockLimit();
  }
  ~Migration() { io::CloseAllUnits(); }

  DataFile Open(const char* name, int32_t headerCount = -1) {
    const database::OpenResult r = database::OpenDataFile(name, kDir, true, 0);
    EXPECT_NE(r.unit, -1) << name;
    return {r.unit, headerCount >= 0 ? headerCount : r.blockCount};
  }

  void Run(GrupdevLimits limits = {}) {
    files.dataDirectory = kDir;
    files.obi = Open("obi.dat", c.obiBlocks);
    files.dev = Open("dev.dat", c.devBlocks);
    files.nor = Open("nor.dat", c.norBlocks);
    files.norinc = Open("norinc.dat", c.norincBlocks);
    files.tehno = Open("tehno.dat", c.tehnoBlocks);
    files.furndev = Open("furndev.dat");
    files.furnmat = Open("furnmat.dat");
    files.lcalcdev = Open("lcalcdev.dat");
    files.prefman = Open("Prefman.dat");
    GenerateGrupdevs(files, limits);
    ReadBack();
  }

  int32_t LastNumber() {
    std::array<uint8_t, 512> block{};
    EXPECT_EQ(io::ReadRecord(files.lcalcdev.unit, 1, block), 0);
    return io::LoadI32(block.data() + 22);
  }

  // Every GRUPDEV record up to the last number, and the link of every estimate.
  void ReadBack() {
    const int32_t last = LastNumber();
    for (int32_t n = 1; n <= last; ++n) {
      std::vector<uint8_t> r(6116);
      io::StoreI32(r.data(), n);
      const store::ReadResult read =
          store::KeyedRead(r, 4, files.lcalcdev.blockCount, files.lcalcdev.unit, 5);
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
    const store::ReadResult r =
        store::KeyedRead(link, 6, files.lcalcdev.blockCount, files.lcalcdev.unit, 5);
    if (r.status != 0 || r.length != 10) return 0;
    return io::LoadI32(link.data() + 6);
  }

  std::optional<int32_t> LocalPrice(int32_t material, int32_t grupdev) {
    std::array<uint8_t, 24> rec{};
    io::StoreI32(rec.data(), material);
    io::StoreI32(rec.data() + 6, grupdev);
    const store::ReadResult r =
        store::KeyedRead(rec, 10, files.prefman.blockCount, files.prefman.unit, 5);
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

  platform::FakePlatform fake;
  Collection c;
  GrupdevFiles files;
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

TEST(GenerateGrupdevs, EveryEstimateLinkedOnceAndPricesStored) {
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
  size_t priced = 0;
  for (const auto& e : m.c.estimates) {
    const bool base0 = e.priceField / 1000000 == 0;
    ASSERT_EQ(memberOf.count(e.key), 1u) << e.key;
    EXPECT_EQ(m.LinkOf(e.key), memberOf[e.key]);
    priced += base0 ? 0 : 1;
  }
  EXPECT_GT(priced, 0u);
  for (const std::string& key : m.c.otherDevKeys) EXPECT_EQ(m.LinkOf(key), 0) << key;
  EXPECT_EQ(memberOf.size(), m.c.estimates.size());
  ByInvestment(m);

  // The name comes from obi.dat, blanks when the investment has no record there.
  for (const Grupdev& g : m.grupdevs) {
    const auto& e = m.EstimateOf(g.members.front());
    for (const auto& inv : m.c.investments) {
      if (inv.number == e.investment) {
        EXPECT_EQ(g.name, inv.inObi ? inv.name : std::string(30, ' '));
      }
    }
  }

  // The expected local prices, worked out from the model: every material an estimate
  // uses directly or through a norm found in its file, unless priced by a supplier.
  std::map<int32_t, const gencollection::PriceBase*> bases;
  for (const auto& b : m.c.priceBases) bases[b.number] = &b;
  std::map<int32_t, const gencollection::Norm*> norms;
  for (const auto* set : {&m.c.nor, &m.c.tehno, &m.c.norinc}) {
    for (const auto& n : *set) norms[n.code] = &n;
  }
  std::set<int32_t> missing[3];
  size_t checked = 0;
  for (const Grupdev& g : m.grupdevs) {
    const int16_t base = static_cast<int16_t>(m.EstimateOf(g.members.front()).priceField / 1000000);
    std::map<int32_t, int32_t> expected;  // material -> stored price
    std::set<int32_t> priced;             // the GRUPDEV's priced-material list
    auto price = [&](int32_t material) {
      double p = -1.0;
      int32_t ref = 0;
      if (bases.count(base)) {
        for (const auto& entry : bases[base]->entries) {
          if (entry.code != material) continue;
          p = entry.value >= 0 ? entry.value : -static_cast<double>(entry.value) * 10;
          const int64_t q = std::llabs(static_cast<int64_t>(entry.supplier)) / 1000000;
          ref = q > 0 ? static_cast<int32_t>(q + 1000) : 0;
        }
      }
      if (ref == 0) expected[material] = StoredLocalPrice(p);
      return ref;
    };
    for (const std::string& key : g.members) {
      const auto& lines = m.EstimateOf(key).lines;
      for (size_t j = 0; j < lines.size(); ++j) {
        const auto& line = lines[j];
        const int32_t c = line.code;
        if (line.number == 0 || (c >= 2000000001 && c <= 2000009999)) continue;
        // A following line with value 0, the same number and code continues this one.
        if (j + 1 < lines.size() && lines[j + 1].value == 0 && lines[j + 1].number == line.number &&
            lines[j + 1].code == c) {
          ++j;
        }
        if (line.value <= -1100000000) continue;
        const ArticleClass kind = ClassifyArticle(c);
        if (kind == ArticleClass::kSkipped) continue;
        if (kind == ArticleClass::kMaterial) {
          if (priced.count(c)) continue;
          if (price(c) == 0) continue;
          priced.insert(c);
        }
        if (!norms.count(c)) {
          missing[c > 1000000000 ? 2 : (c / 10000000 != 0 ? 1 : 0)].insert(c);
          continue;
        }
        for (int32_t recipeLine : norms[c]->recipe) {
          if (recipeLine / 10000000 != 2) continue;
          const int32_t material = recipeLine - 20000000;
          if ((material >= 7800000 && material <= 7899999) || priced.count(material)) continue;
          price(material);
          priced.insert(material);
        }
      }
    }
    for (const auto& [material, value] : expected) {
      EXPECT_EQ(m.LocalPrice(material, g.number), value) << material << " in GRUPDEV " << g.number;
      ++checked;
    }
    for (int32_t leftOut = 7700001; leftOut < 7700100; ++leftOut)
      EXPECT_FALSE(m.LocalPrice(leftOut, g.number));
  }
  EXPECT_GT(checked, 100u);

  // Supplier records met while pricing are in the 136-byte form now.
  size_t upgraded = 0;
  for (const auto& sp : m.c.supplierPrices) {
    std::array<uint8_t, 136> r{};
    io::StoreI32(r.data(), sp.supplier);
    io::StoreI32(r.data() + 4, sp.material);
    const store::ReadResult read =
        store::KeyedRead(r, 8, m.files.furnmat.blockCount, m.files.furnmat.unit, 5);
    ASSERT_EQ(read.status, 0);
    if (read.length == 136 && sp.oldForm) {
      ++upgraded;
      EXPECT_EQ(io::LoadI32(r.data() + 8), sp.value8);
      EXPECT_EQ(io::LoadI32(r.data() + 12), sp.value12);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(r.data() + 18), 68), std::string(68, ' '));
    }
  }
  EXPECT_GT(upgraded, 0u);

  // The warning of missing norms, with the distinct codes of each file.
  const std::vector<std::string> warnings = m.Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  char expectedText[200];
  std::snprintf(expectedText, sizeof expectedText,
                "Articole negasite in nor.dat:     %5zu\nArticole negasite in tehnno.dat:  %5zu\n"
                "Articole negasite in norinc.dat:  %5zu\n ",
                missing[0].size(), missing[1].size(), missing[2].size());
  EXPECT_EQ(warnings[0], std::string(expectedText).substr(0, warnings[0].size()));
  EXPECT_EQ(m.LastNumber(), m.grupdevs.back().number);
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
    const database::OpenResult r = database::OpenDataFile("lcalcdev.dat", kDir, true, 0);
    for (int32_t n : {1, 3}) {
      std::vector<uint8_t> rec(122, ' ');
      io::StoreI32(rec.data(), n);
      io::StoreI32(rec.data() + 4, 0);
      io::StoreI32(rec.data() + 8, 0);
      ASSERT_EQ(store::KeyedWrite(rec, 4, r.blockCount, r.unit, 5).status, 0);
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
  *m.fake.Bytes(std::string(kDir) + "\\Prefman.dat") = gencollection::EmptyBlockFile(1);
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
