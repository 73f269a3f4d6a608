// End-to-end tests of the migration: the built varmex-setup, started with "/prel",
// answers Yes and migrates a generated old collection of version 35 or 36 from drive C
// into an installed tree on drive D that holds the real dens and nredisp and the
// stand-ins of the suite's other tools. Each test checks the transcript and reads the
// resulting files back through the store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/native.h"
#include "pricebase/supplier_price.h"
#include "store/block_file_builder.h"
#include "store/block_header.h"
#include "store/keyed_store.h"
#include "tests/support/e2e.h"
#include "tools/gencollection/collection.h"

namespace varmex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kSuccess = "Instalare cu succes!";

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Every file under `dir` with its bytes and mode: the old collection must come out of
// a migration exactly as it went in.
std::map<std::string, std::pair<Bytes, fs::perms>> Snapshot(const std::string& dir) {
  std::map<std::string, std::pair<Bytes, fs::perms>> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file())
      out[e.path().string()] = {ReadBytes(e.path().string()), e.status().permissions()};
  }
  return out;
}

// A block file opened on a unit of this process, for reading results back.
class OpenBlockFile {
 public:
  explicit OpenBlockFile(const std::string& path) : unit_(io::FindFreeUnit()) {
    status_ = io::OpenUnit(platform::NativePlatform(), unit_, path, 512);
    store::BlockBytes header{};
    if (status_ == 0 && io::ReadRecord(unit_, 1, header) == 0)
      blocks_ = store::HeaderBlockCount(header);
  }
  ~OpenBlockFile() { io::CloseUnit(unit_); }
  bool ok() const { return status_ == 0 && blocks_ > 0; }
  int32_t blocks() const { return blocks_; }
  // The record under the key (keyLength bytes of `key`), or an empty vector.
  Bytes Read(const Bytes& key, int16_t keyLength) const {
    Bytes record(4096, 0);
    std::copy(key.begin(), key.end(), record.begin());
    const store::ReadResult r = store::KeyedRead(record, keyLength, blocks_, unit_,
                                                 store::HashSelector::kVariableLength, 0);
    if (r.status != store::kKeyedDone) return {};
    record.resize(static_cast<size_t>(r.length));
    return record;
  }

 private:
  int16_t unit_;
  int status_ = -1;
  int32_t blocks_ = 0;
};

// The key of a supplier price record of furnmat.dat.
Bytes Key8(int32_t supplier, int32_t material) {
  std::array<uint8_t, pricebase::kSupplierPriceRecordSize> record{};
  pricebase::SetSupplierPriceKey(record, supplier, material);
  return Bytes(record.begin(), record.begin() + pricebase::kSupplierPriceKeyLength);
}

Bytes Key4(int32_t code) {
  Bytes key(4);
  io::StoreI32(key.data(), code);
  return key;
}

class MigrationE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = scratch_.Drive('C');
    d_ = scratch_.Drive('D');
    varmex_ = d_ + "/kedro/Varmex";
    erp_ = d_ + "/kedro/ERP";
    fs::create_directories(varmex_);
    fs::create_directories(erp_);
    for (const char* tool : {"dens", "nredisp"})
      e2e::CopyFile(e2e::BinDir() + "/" + tool, varmex_ + "/" + tool);
    for (const char* tool : {"convfurn", "cuvterti", "lsort", "fo2", "mkhvoc"}) {
      e2e::CopyFile(e2e::BinDir() + "/" + tool, erp_ + "/" + tool);
    }
    for (const auto& [name, bytes] : gencollection::FreshFiles(40, 80))
      WriteBytes(varmex_ + "/" + name, bytes);
    log_ = scratch_.path() + "/standins.log";
  }

  // Generates a collection under C:\<folder> and returns the model.
  gencollection::Collection Generate(int version, const std::string& folder) {
    gencollection::CollectionOptions o;
    o.version = version;
    o.estimates = 25;
    o.priceBases = 3;
    o.seed = 7;
    gencollection::Collection c = gencollection::GenerateCollection(o);
    EXPECT_TRUE(gencollection::WriteFiles(c.files, c_ + "/" + folder));
    return c;
  }

  e2e::Run Migrate(int version, const std::string& directory, int timeoutSeconds = 280) {
    e2e::RunOptions o;
    o.args = {"/prel"};
    o.script = std::string("dialog 101\nselect 1002 D\nclick 1\nanswer yes\ndialog 107\n") +
               (version == 35 ? "click 1004\n" : "") + "set 1021 " + directory + "\nclick 1\n";
    o.env["VARMEX_STANDIN_LOG"] = log_;
    o.timeoutSeconds = timeoutSeconds;
    return e2e::RunSetup(scratch_, o);
  }

  // The messages of a run, without GRUPDEV generation's report of norm articles that
  // the generated collection leaves out on purpose.
  static std::vector<std::string> Messages(const e2e::Run& run) {
    std::vector<std::string> out;
    for (const std::string& m : run.Messages()) {
      if (m.rfind("Articole negasite", 0) != 0) out.push_back(m);
    }
    return out;
  }

  std::vector<std::string> StatusTexts(const e2e::Run& run) const {
    std::vector<std::string> out;
    for (const e2e::Event& e : run.Events("set-text")) {
      if (e.Number("dialog") == 107 && e.Number("control") == 1003) out.push_back(e.Get("text"));
    }
    return out;
  }

  // The material entries that the conversion rewrites, from the generator's model.
  static std::vector<gencollection::PriceBaseEntry> ToConvert(const gencollection::Collection& c) {
    std::vector<gencollection::PriceBaseEntry> out;
    for (const auto& base : c.priceBases) {
      for (const auto& e : base.entries) {
        if (e.code > 2000000 && e.code <= 8000000 && e.supplier / 1000000 == 0) out.push_back(e);
      }
    }
    return out;
  }

  e2e::Scratch scratch_;
  std::string c_, d_, varmex_, erp_, log_;
};

TEST_F(MigrationE2eTest, Version36CollectionIsMigratedWhole) {
  const gencollection::Collection c = Generate(36, "Palunor");
  const auto before = Snapshot(c_);
  const e2e::Run run = Migrate(36, "C:\\Palunor");
  ASSERT_EQ(run.status, 0) << run.Transcript();

  const std::vector<std::string> expectedMessages = {
      "Daca aveti o colectie veche de Varmex (35 sau 36) se pot prelua datele in Varmex 38 "
      "ERP.\nDoriti sa "
      "transformati in mod complet automat colectia dumneavoastra de Varmex de tip 35 sau 36 "
      "intr-o colectie de "
      "date Varmex de tip 38 pe care sa puteti lucra apoi cu programele din Varmex-ul 38?",
      kSuccess};
  EXPECT_EQ(Messages(run), expectedMessages) << run.Transcript();
  // The report of missing norm articles reaches the transcript whole: three lines of a
  // 34-character label and a 5-character count, then a line feed and a blank.
  const std::vector<std::string> all = run.Messages();
  const auto report = std::find_if(all.begin(), all.end(), [](const std::string& m) {
    return m.rfind("Articole negasite in nor.dat:     ", 0) == 0;
  });
  ASSERT_NE(report, all.end()) << run.Transcript();
  EXPECT_EQ(report->size(), 3u * 40u + 1u) << *report;
  EXPECT_EQ(report->substr(report->size() - 2), "\n ");
  const std::vector<std::string> status = StatusTexts(run);
  ASSERT_EQ(status.size(), 999u + 59u + 2u + 2u) << run.Transcript();
  EXPECT_EQ(status.front(), "Preluare baz001.dat");
  EXPECT_EQ(status[999], "Preluare DEV.DAT             ");  // the name as stored, 20 characters
  EXPECT_EQ(status[1012], "Preluare ANGA.DAT");
  EXPECT_EQ(status[1058], "Preluare terti.dat");
  EXPECT_EQ(status[1060], "Generare preturi locale pe lucrari (GRUPDEV)...");
  EXPECT_EQ(status[1061], "Conversie baze pret...");

  // The generated furnmat.dat is small: dens measures it, nredisp spreads it.
  const std::vector<std::string> commands = {
      "D:\\kedro\\Varmex\\dens D:\\kedro\\Varmex\\furnmat.dat",
      "D:\\kedro\\Varmex\\nredisp -o -d 12000 D:\\kedro\\Varmex\\furnmat.dat",
  };
  EXPECT_EQ(run.Commands(), commands);
  const std::vector<e2e::Event> runs = run.Events("run");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].Get("result"), "0");
  // Both exit codes are looked at, so both reach the transcript.
  EXPECT_EQ(runs[0].Get("exit"), "0");
  EXPECT_EQ(runs[1].Get("exit"), "0");
  const std::vector<e2e::Event> ends = run.Events("dialog-end");
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(ends.back().Number("id"), 107);
  EXPECT_EQ(ends.back().Number("result"), 1);

  // Copies are byte for byte, the old collection is untouched.
  EXPECT_EQ(ReadBytes(varmex_ + "/EXT.DAT"), c.files.at("Varmex/EXT.DAT"));
  EXPECT_EQ(ReadBytes(erp_ + "/terti.voc"), c.files.at("ERP/terti.voc"));
  EXPECT_EQ(Snapshot(c_), before);

  // furnmat.dat now has 12000 blocks and still every supplier price, plus the default
  // supplier's price of every converted material.
  OpenBlockFile furnmat(varmex_ + "/FURNMAT.DAT");
  ASSERT_TRUE(furnmat.ok());
  EXPECT_EQ(furnmat.blocks(), 12000);
  EXPECT_EQ(fs::file_size(varmex_ + "/FURNMAT.DAT"), 12000u * 512);
  for (const auto& p : c.supplierPrices) {
    EXPECT_FALSE(furnmat.Read(Key8(p.supplier, p.material), 8).empty())
        << p.supplier << "/" << p.material;
  }
  const auto converted = ToConvert(c);
  ASSERT_FALSE(converted.empty());
  for (const auto& e : converted) {
    const Bytes r = furnmat.Read(Key8(2499, e.code), 8);
    ASSERT_EQ(r.size(), pricebase::kSupplierPriceRecordSize) << e.code;
  }
  // Converted entries of base 1 point at the default supplier.
  const Bytes base1 = ReadBytes(varmex_ + "/baz001.dat");
  size_t pointing = 0;
  for (size_t at = 512; at + 12 <= base1.size(); at += 12) {
    if ((at % 512) + 12 > 504) continue;
    pointing += io::LoadI32(base1.data() + at + 8) == 1499800101;
  }
  EXPECT_GT(pointing, 0u);

  OpenBlockFile terti(erp_ + "/terti.dat");
  ASSERT_TRUE(terti.ok());
  const Bytes supplier = terti.Read(Key4(2499), 4);
  ASSERT_EQ(supplier.size(), 480u);
  EXPECT_EQ(std::string(supplier.begin() + 16, supplier.begin() + 33), "Furnizor implicit");
  EXPECT_EQ(terti.Read(Key4(3), 4).size(), 480u);
}

TEST_F(MigrationE2eTest, SecondMigrationOfTheSameCollectionConvertsNothingTwice) {
  Generate(36, "Palunor");
  ASSERT_EQ(Migrate(36, "C:\\Palunor").status, 0);
  const Bytes base1 = ReadBytes(varmex_ + "/baz001.dat");
  // Run the price base conversion again over the migrated tree: the data directory
  // itself named as the old collection copies nothing over itself.
  const e2e::Run again = Migrate(36, "D:\\kedro");
  ASSERT_EQ(again.status, 0) << again.Transcript();
  EXPECT_EQ(ReadBytes(varmex_ + "/baz001.dat"), base1);
  EXPECT_EQ(Messages(again).back(), kSuccess);
  EXPECT_TRUE(fs::exists(varmex_ + "/DEV.DAT"));
}

TEST_F(MigrationE2eTest, Version35CollectionGetsItsPartnerFileFromTheTools) {
  Generate(35, "Varmex35");
  const e2e::Run run = Migrate(35, "C:\\Varmex35");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  const std::vector<std::string> commands = {
      "D:\\kedro\\ERP\\convfurn D:\\kedro\\ERP D:\\kedro\\Varmex",
      "D:\\kedro\\ERP\\cuvterti D:\\kedro\\ERP",
      "D:\\kedro\\ERP\\lsort D:\\kedro\\ERP\\cuvterti.tmp D:\\kedro\\ERP\\cuvterti.srt ",
      "D:\\kedro\\ERP\\fo2 -o -s 4000 -n terti.voc -d D:\\kedro\\ERP",
      "D:\\kedro\\ERP\\mkhvoc -s -d -h D:\\kedro\\ERP 1 D:\\kedro\\ERP\\cuvterti.srt terti.voc",
      "D:\\kedro\\Varmex\\dens D:\\kedro\\Varmex\\furnmat.dat",
      "D:\\kedro\\Varmex\\nredisp -o -d 12000 D:\\kedro\\Varmex\\furnmat.dat",
  };
  EXPECT_EQ(run.Commands(), commands) << run.Transcript();
  const std::vector<std::string> status = StatusTexts(run);
  ASSERT_GE(status.size(), 1060u);
  EXPECT_EQ(status[1058], "Conversie ....\\Varmex\\FURN.DAT -> ....\\ERP\\TERTI.DAT");
  EXPECT_EQ(status[1059], "Refacere TERTI.VOC");
  EXPECT_EQ(Messages(run).back(), kSuccess);

  // The tools got the drive paths translated.
  const std::string log = e2e::ReadFile(log_);
  EXPECT_NE(log.find("convfurn " + erp_ + " " + varmex_ + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("lsort " + erp_ + "/cuvterti.tmp " + erp_ + "/cuvterti.srt\n"),
            std::string::npos)
      << log;

  OpenBlockFile terti(erp_ + "/terti.dat");
  ASSERT_TRUE(terti.ok());
  EXPECT_EQ(terti.Read(Key4(2499), 4).size(), 480u);
}

TEST_F(MigrationE2eTest, BadInputIsReportedAndThePipelineGoesOn) {
  Generate(36, "Palunor");
  const std::string old = c_ + "/Palunor";
  fs::remove(old + "/Varmex/EXT.DAT");
  // A price base without header whose file ends before block 127.
  WriteBytes(old + "/Varmex/baz005.dat", Bytes(3 * 512, 0));
  // Read-only files in the new tree, and a read-only file in the old collection.
  WriteBytes(varmex_ + "/EXTDEN.DAT", Bytes(512, 1));
  fs::permissions(varmex_ + "/EXTDEN.DAT", fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(old + "/Varmex/TABEL.DAT", fs::perms::owner_read | fs::perms::group_read);
  // The partner file's header is broken.
  Bytes terti = ReadBytes(old + "/ERP/terti.dat");
  terti[10] = '#';
  WriteBytes(old + "/ERP/terti.dat", terti);
  const auto before = Snapshot(c_);

  const e2e::Run run = Migrate(36, "C:\\Palunor\\");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  const std::vector<std::string> messages = Messages(run);
  ASSERT_EQ(messages.size(), 5u) << run.Transcript();
  EXPECT_EQ(messages[1], "Nu exista fisierul C:\\Palunor\\Varmex\\EXT.DAT");
  EXPECT_EQ(messages[2], "Eroare generare [Furnizor provizoriu]!");
  EXPECT_EQ(messages[3], "Eroare citere baza pret!");
  EXPECT_EQ(messages[4], kSuccess);

  EXPECT_EQ(ReadBytes(varmex_ + "/EXTDEN.DAT"), ReadBytes(old + "/Varmex/EXTDEN.DAT"));
  // A copy of a read-only file can be written by the suite.
  EXPECT_NE(fs::status(varmex_ + "/TABEL.DAT").permissions() & fs::perms::owner_write,
            fs::perms::none);
  EXPECT_EQ(Snapshot(c_), before);
}

TEST_F(MigrationE2eTest, MissingFurnmatSkipsTheCheckAndTheLaterSteps) {
  Generate(36, "Palunor");
  fs::remove(c_ + "/Palunor/Varmex/FURNMAT.DAT");
  const e2e::Run run = Migrate(36, "C:\\Palunor");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  const std::vector<std::string> messages = Messages(run);
  ASSERT_EQ(messages.size(), 4u) << run.Transcript();
  EXPECT_EQ(messages[1], "Nu exista fisierul C:\\Palunor\\Varmex\\FURNMAT.DAT");
  EXPECT_EQ(messages[2], "Eroare (   2) la deschidere D:\\kedro\\Varmex\\furnmat.dat!");
  EXPECT_EQ(messages[3], kSuccess);
  EXPECT_TRUE(run.Commands().empty());
  // No default supplier was written.
  OpenBlockFile terti(erp_ + "/terti.dat");
  EXPECT_TRUE(terti.Read(Key4(2499), 4).empty());
}

// furnmat.dat of 8000 blocks: left alone while dens finds it roomy, doubled when dens
// finds it too dense.
TEST_F(MigrationE2eTest, LargeFurnmatIsRedistributedOnlyWhenTooDense) {
  Generate(36, "Palunor");
  const std::string furnmat = c_ + "/Palunor/Varmex/FURNMAT.DAT";
  WriteBytes(furnmat, store::EmptyBlockFileImage(8000));
  e2e::Run run = Migrate(36, "C:\\Palunor");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  ASSERT_EQ(run.Events("run").size(), 1u) << run.Transcript();
  EXPECT_EQ(run.Events("run")[0].Get("exit"), "0");

  // Fill it past three quarters: three 136-byte records per block.
  {
    OpenBlockFile f(furnmat);
    ASSERT_TRUE(f.ok());
  }
  const int16_t unit = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(platform::NativePlatform(), unit, furnmat, 512), 0);
  for (int32_t i = 0; i < 3 * 7800; ++i) {
    std::array<uint8_t, pricebase::kSupplierPriceRecordSize> record{};
    pricebase::SetSupplierPriceKey(record, 1000 + i % 7, 2000001 + i);
    ASSERT_EQ(store::KeyedWrite(record, pricebase::kSupplierPriceKeyLength, 8000, unit,
                                store::HashSelector::kVariableLength)
                  .status,
              store::kKeyedDone)
        << i;
  }
  io::CloseUnit(unit);
  run = Migrate(36, "C:\\Palunor");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  const std::vector<e2e::Event> runs = run.Events("run");
  ASSERT_EQ(runs.size(), 2u) << run.Transcript();
  EXPECT_EQ(runs[0].Get("exit"), "2");
  EXPECT_EQ(runs[1].Get("command"),
            "D:\\kedro\\Varmex\\nredisp -o -d 16000 D:\\kedro\\Varmex\\furnmat.dat");
  OpenBlockFile result(varmex_ + "/FURNMAT.DAT");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.blocks(), 16000);
  for (int32_t i = 0; i < 3 * 7800; i += 97) {
    EXPECT_EQ(result.Read(Key8(1000 + i % 7, 2000001 + i), 8).size(),
              pricebase::kSupplierPriceRecordSize)
        << i;
  }
}

// A FIFO where the program looks for a data file is refused at once, with the message
// of a file that cannot be copied or opened; nothing waits for a writer that never
// comes, and the run ends as a migration ends, well inside its time limit.
struct SpecialFileCase {
  const char* name;
  std::vector<std::string> fifos;  // under the scratch folder's drives
  std::vector<std::string> messages;
};

void PrintTo(const SpecialFileCase& c, std::ostream* out) { *out << c.name; }

class SpecialFileE2eTest : public MigrationE2eTest,
                           public ::testing::WithParamInterface<SpecialFileCase> {};

TEST_P(SpecialFileE2eTest, IsRefusedWithoutHanging) {
  Generate(36, "Palunor");
  for (const std::string& fifo : GetParam().fifos) {
    const std::string path = scratch_.drives() + "/" + fifo;
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << path;
  }
  const e2e::Run run = Migrate(36, "C:\\Palunor", 60);
  ASSERT_FALSE(run.timedOut) << "the migration waited on a FIFO";
  EXPECT_EQ(run.status, 0) << run.Transcript();
  std::vector<std::string> expected = {Messages(run).front()};  // the migration question
  expected.insert(expected.end(), GetParam().messages.begin(), GetParam().messages.end());
  expected.emplace_back(kSuccess);
  EXPECT_EQ(Messages(run), expected) << run.Transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Fifos, SpecialFileE2eTest,
    ::testing::Values(SpecialFileCase{"InTheOldCollection",
                                      {"C/Palunor/Varmex/DEV.DAT", "C/Palunor/Varmex/ANGA.DAT"},
                                      {"Eroare [    5] la copierea fisierului DEV.DAT!",
                                       "Eroare [    5] la copierea fisierului ANGA.DAT!",
                                       "Eroare (   2) la deschidere D:\\kedro\\Varmex\\dev.dat!"}},
                      SpecialFileCase{
                          "InTheNewTree",
                          {"D/kedro/Varmex/lcalcdev.dat"},
                          {"Eroare (   5) la deschidere D:\\kedro\\Varmex\\lcalcdev.dat!"}}),
    [](const ::testing::TestParamInfo<SpecialFileCase>& info) { return info.param.name; });

// A disk that fills while nredisp writes the new furnmat.dat (files may not grow past
// 1 MB): nredisp says so with its own exit code, the migration names the full disk
// once and writes nothing more.
TEST_F(MigrationE2eTest, AFullDiskInNredispStopsTheMigration) {
  Generate(36, "Palunor");
  const std::string lcalcdev = e2e::ReadFile(varmex_ + "/lcalcdev.dat");
  e2e::RunOptions o;
  o.args = {"/prel"};
  o.script =
      "dialog 101\nselect 1002 D\nclick 1\nanswer yes\ndialog 107\nset 1021 C:\\Palunor\n"
      "click 1\n";
  o.env["VARMEX_STANDIN_LOG"] = log_;
  o.fileSizeLimit = 1 << 20;
  const e2e::Run run = e2e::RunSetup(scratch_, o);
  ASSERT_EQ(run.status, 0) << run.Transcript();
  const std::vector<e2e::Event> runs = run.Events("run");
  ASSERT_EQ(runs.size(), 2u) << run.Transcript();
  EXPECT_EQ(runs[1].Get("exit"), "5");
  const std::vector<std::string> messages = Messages(run);
  ASSERT_EQ(messages.size(), 3u) << run.Transcript();
  EXPECT_EQ(messages[1],
            "Eroare la redistribuirea fisierului D:\\kedro\\Varmex\\furnmat.dat (nredisp "
            "retcode=5)!\nSpatiu insuficient pe disc: preluarea datelor s-a oprit. Eliberati "
            "spatiu pe disc si reluati preluarea (varmex-setup /prel).");
  EXPECT_EQ(messages[2], kSuccess);
  EXPECT_EQ(e2e::ReadFile(varmex_ + "/lcalcdev.dat"), lcalcdev);
  EXPECT_FALSE(fs::exists(varmex_ + "/preluare.jurnal"));
}

// Links in the new tree that lead into the old collection: the copies replace them,
// the files the migration writes in place become files of their own first, and the
// old collection keeps its bytes and its read-only marks.
TEST_F(MigrationE2eTest, LinksInTheNewTreeNeverReachTheOldCollection) {
  Generate(36, "Palunor");
  const std::string old = c_ + "/Palunor/Varmex";
  fs::copy_file(varmex_ + "/lcalcdev.dat", old + "/lcalcdev.dat");
  for (const char* name : {"DEV.DAT", "lcalcdev.dat"}) {
    fs::permissions(old + "/" + name,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::remove(varmex_ + "/" + name);
    fs::create_symlink(old + "/" + name, varmex_ + "/" + name);
  }
  const auto before = Snapshot(c_);
  const e2e::Run run = Migrate(36, "C:\\Palunor");
  ASSERT_EQ(run.status, 0) << run.Transcript();
  EXPECT_EQ(Messages(run).back(), kSuccess) << run.Transcript();
  EXPECT_TRUE(Snapshot(c_) == before);
  for (const char* name : {"DEV.DAT", "lcalcdev.dat"})
    EXPECT_FALSE(fs::is_symlink(varmex_ + "/" + name)) << name;
  OpenBlockFile lcalcdev(varmex_ + "/lcalcdev.dat");
  ASSERT_TRUE(lcalcdev.ok());
  EXPECT_FALSE(lcalcdev.Read(Key4(1), 4).empty());  // the first GRUPDEV
}

}  // namespace
}  // namespace varmex
