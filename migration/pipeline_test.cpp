// Dialog 107 and the pipeline over a small old collection on the fake platform.
#include "migration/pipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

#include "io/coding.h"
#include "io/unit_file.h"
#include "migration/migration_dialog.h"
#include "migration/transfer.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"
#include "store/redistribute.h"
#include "store/verify.h"
#include "testing/price_base_image.h"
#include "testing/recording_dialog_host.h"

namespace varmex::migration {
namespace {

using platform::FakePlatform;

constexpr int32_t kDevBlocks = 3;

std::vector<uint8_t> Filled(size_t size, uint8_t value) {
  return std::vector<uint8_t>(size, value);
}

// Block 1 of obi.dat with the block counts of the estimate files.
std::vector<uint8_t> ObiFile() {
  std::vector<uint8_t> bytes(512, 0);
  io::StoreI32(bytes.data() + 6, 1);
  io::StoreI32(bytes.data() + 10, kDevBlocks);
  io::StoreI32(bytes.data() + 14, 1);
  io::StoreI32(bytes.data() + 32, 1);
  io::StoreI32(bytes.data() + 36, 1);
  return bytes;
}

// Word-layout block of the marker key "#-[*]2": h = 0x2D23 * 65536 + 0x2A5B + 0x325D.
int32_t MarkerHomeBlock() { return 757292216 % kDevBlocks + 1; }

// dev.dat in the word layout, holding the marker record in one piece in its home block.
std::vector<uint8_t> DevFile() {
  std::vector<uint8_t> bytes(kDevBlocks * 512, 0);
  uint8_t* block = bytes.data() + (MarkerHomeBlock() - 1) * 512;
  std::memcpy(block, "#-[*]2", 6);
  io::StoreI16(block + 6, -12);  // last piece: key, length word and 4 data bytes
  io::StoreI32(block + 8, 1234);
  return bytes;
}

// Price base with a header and one data block holding one material to convert.
std::vector<uint8_t> PriceBase() {
  return pricebase::testing::PriceBaseImage(2, true).Put(2, 0, {2100000, 55, 0}).bytes();
}

class Pipeline : public testing::Test {
 protected:
  void SetUp() override {
    os_.AddDirectory("D:\\kedro");
    os_.AddDirectory("D:\\kedro\\Varmex");
    os_.AddDirectory("D:\\kedro\\ERP");
    os_.AddFile("D:\\kedro\\Varmex\\lcalcdev.dat", store::EmptyBlockFileImage(4));
    os_.runProcess = [](const FakePlatform::Run&) { return platform::ProcessResult{0, 0u}; };
  }
  void TearDown() override { io::CloseAllUnits(); }

  // A complete old collection of version 36 under C:\Palunor.
  void AddCollection36() {
    AddDataFiles("C:\\Palunor\\Varmex\\");
    os_.AddFile("C:\\Palunor\\ERP\\terti.dat", store::EmptyBlockFileImage(7));
    os_.AddFile("C:\\Palunor\\ERP\\terti.voc", Filled(10, 'v'));
  }
  void AddDataFiles(const std::string& dir) {
    for (size_t i = kFirstRequiredEntry; i < kDataFileTable.size(); ++i) {
      os_.AddFile(dir + std::string(kDataFileTable[i]), Filled(512, static_cast<uint8_t>(i)));
    }
    os_.AddFile(dir + "dev.dat", DevFile());
    os_.AddFile(dir + "obi.dat", ObiFile());
    os_.AddFile(dir + "norinc.dat", Filled(512, 0));
    for (const char* name : {"furndev.dat", "furnmat.dat", "prefman.dat"})
      os_.AddFile(dir + name, store::EmptyBlockFileImage(5));
    os_.AddFile(dir + "baz001.dat", PriceBase());
  }
  std::map<std::string, std::vector<uint8_t>> OldCollectionBytes() {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const char* f : {"C:\\Palunor\\Varmex\\dev.dat", "C:\\Palunor\\Varmex\\furnmat.dat",
                          "C:\\Palunor\\Varmex\\baz001.dat", "C:\\Palunor\\ERP\\terti.dat"}) {
      out[f] = *os_.Bytes(f);
    }
    return out;
  }
  std::vector<std::string> CommandLines() const {
    std::vector<std::string> out;
    for (const auto& r : os_.runs) out.push_back(r.commandLine);
    return out;
  }

  FakePlatform os_;
  doubles::RecordingDialogHost dialog_;
};

TEST(MigrationDialog, RadioButtonsSwapOnlyTheDefaultDirectories) {
  FakePlatform os;
  doubles::RecordingDialogHost host;
  MigrationDialog dialog(os, 'D', {});
  EXPECT_TRUE(dialog.OnInit(host));
  EXPECT_TRUE(host.checked[kVersion36Radio]);
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "C:\\Palunor");
  EXPECT_FALSE(dialog.OnCommand(host, kVersion35Radio, platform::kBnClicked));
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "C:\\Varmex35");
  EXPECT_FALSE(dialog.OnCommand(host, kVersion36Radio, platform::kBnClicked));
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "C:\\Palunor");
  host.texts[kOldDirectoryEdit] = "C:\\Palunor2";  // not the default: stays
  dialog.OnCommand(host, kVersion35Radio, platform::kBnClicked);
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "C:\\Palunor2");
  host.texts[kOldDirectoryEdit] = "D:\\Vechi";
  dialog.OnCommand(host, kVersion36Radio, platform::kBnClicked);
  dialog.OnCommand(host, kVersion35Radio, platform::kBnClicked);
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "D:\\Vechi");
  host.texts[kOldDirectoryEdit] = "";
  dialog.OnCommand(host, kVersion36Radio, platform::kBnClicked);
  EXPECT_EQ(host.texts[kOldDirectoryEdit], "C:\\Palunor");
  EXPECT_TRUE(dialog.OnCommand(host, kCancelButton, platform::kBnClicked));
  EXPECT_EQ(host.result, 2);
  EXPECT_FALSE(dialog.OnCommand(host, 4711, platform::kBnClicked));
}

TEST(LocateOldCollection, AddsTheBackslashAndTheVersionsSubdirectories) {
  EXPECT_EQ(LocateOldCollection("C:\\Palunor", 36).dataDir, "C:\\Palunor\\Varmex\\");
  EXPECT_EQ(LocateOldCollection("C:\\Palunor\\", 36).dataDir, "C:\\Palunor\\Varmex\\");
  EXPECT_EQ(LocateOldCollection("C:\\Palunor", 36).erpDir, "C:\\Palunor\\ERP\\");
  EXPECT_EQ(LocateOldCollection("C:\\Varmex35", 35).dataDir, "C:\\Varmex35\\");
  EXPECT_EQ(LocateOldCollection("", 35).dataDir, "");
  EXPECT_EQ(LocateOldCollection("    ", 36).dataDir, "");
}

TEST_F(Pipeline, EmptyOrBlankFieldLeavesTheDialogAsItIs) {
  for (const char* text : {"", "   "}) {
    dialog_.texts[kOldDirectoryEdit] = text;
    RunMigration(os_, dialog_, 'D', 36, {});
  }
  EXPECT_TRUE(os_.messages.empty());
  EXPECT_TRUE(dialog_.disabled.empty());
  EXPECT_FALSE(dialog_.result.has_value());
}

TEST_F(Pipeline, DirectoryWithoutDataNamesTheVersionsSubdirectory) {
  os_.AddFile("C:\\Palunor\\dev.dat", Filled(512, 0));
  dialog_.texts[kOldDirectoryEdit] = "C:\\Palunor";
  RunMigration(os_, dialog_, 'D', 36, {});
  ASSERT_EQ(os_.messages.size(), 1u);
  EXPECT_EQ(os_.messages[0].text, "Directorul C:\\Palunor\\Varmex\\ nu contine date!");
  EXPECT_EQ(os_.messages[0].caption, "Eroare");
  EXPECT_TRUE(dialog_.disabled.empty());
  EXPECT_FALSE(dialog_.result.has_value());
  EXPECT_TRUE(os_.runs.empty());
}

TEST_F(Pipeline, Version36CollectionIsCarriedOverWhole) {
  AddCollection36();
  const auto before = OldCollectionBytes();
  dialog_.texts[kOldDirectoryEdit] = "C:\\Palunor\\";
  RunMigration(os_, dialog_, 'D', 36, {});

  for (int id : {kVersion35Radio, kVersion36Radio, kOldDirectoryEdit, kOkButton, kCancelButton}) {
    EXPECT_TRUE(dialog_.disabled[id]) << id;
  }
  const std::vector<std::string> status = dialog_.TextsOf(kStatusText);
  ASSERT_EQ(status.size(), 999u + 59u + 2u + 2u);
  EXPECT_EQ(status[0], "Preluare baz001.dat");
  EXPECT_EQ(status[998], "Preluare baz999.dat");
  EXPECT_EQ(status[999], "Preluare DEV.DAT             ");  // the name as stored, 20 characters
  EXPECT_EQ(status[1011], "Preluare TEHNO.DAT           ");
  EXPECT_EQ(status[1012], "Preluare ANGA.DAT");
  EXPECT_EQ(status[1057], "Preluare NORINC.DAT");
  EXPECT_EQ(status[1058], "Preluare terti.dat");
  EXPECT_EQ(status[1059], "Preluare terti.voc");
  EXPECT_EQ(status[1060], "Generare preturi locale pe lucrari (GRUPDEV)...");
  EXPECT_EQ(status[1061], "Conversie baze pret...");

  const std::vector<std::string> runs = {
      "D:\\kedro\\Varmex\\dens D:\\kedro\\Varmex\\furnmat.dat",
      "D:\\kedro\\Varmex\\nredisp -o -d 12000 D:\\kedro\\Varmex\\furnmat.dat",
  };
  EXPECT_EQ(CommandLines(), runs);

  ASSERT_EQ(os_.messages.size(), 1u) << os_.messages[0].text;
  EXPECT_EQ(os_.messages[0].text, "Instalare cu succes!");
  EXPECT_EQ(os_.messages[0].caption, "Instalare Varmex 38 ERP");
  EXPECT_EQ(os_.messages[0].style, 0x30u);
  EXPECT_EQ(dialog_.result, 1);

  // Every file is closed, the default supplier exists, the marker is gone, and the
  // old collection is untouched.
  for (int16_t u = 1; u <= 20; ++u) EXPECT_FALSE(io::UnitInUse(u)) << u;
  EXPECT_EQ(*os_.Bytes("D:\\kedro\\ERP\\terti.voc"), Filled(10, 'v'));
  const int16_t terti = io::FindFreeUnit();
  ASSERT_EQ(io::OpenUnit(os_, terti, "D:\\kedro\\ERP\\terti.dat", 512), 0);
  std::array<uint8_t, 480> partner{};
  io::StoreI32(partner.data(), 2499);
  EXPECT_EQ(store::KeyedRead(partner, 4, 7, terti, store::HashSelector::kVariableLength, 0).status,
            store::kKeyedDone);
  io::CloseUnit(terti);
  const std::vector<uint8_t>& dev = *os_.Bytes("D:\\kedro\\Varmex\\DEV.DAT");
  EXPECT_EQ(io::LoadU16(dev.data() + (MarkerHomeBlock() - 1) * 512), 0x7F7F);
  const std::vector<uint8_t>& base = *os_.Bytes("D:\\kedro\\Varmex\\baz001.dat");
  EXPECT_EQ(io::LoadI32(base.data() + 520), 1499800101);
  EXPECT_EQ(OldCollectionBytes(), before);
}

TEST_F(Pipeline, MissingRequiredFilesAreWarnedAboutOneByOne) {
  AddCollection36();
  for (const char* name : {"EXT.DAT", "TABEL.DAT"})
    os_.DeleteFile(std::string("C:\\Palunor\\Varmex\\") + name);
  os_.DeleteFile("C:\\Palunor\\ERP\\terti.dat");
  os_.DeleteFile("C:\\Palunor\\ERP\\terti.voc");  // optional: no word
  os_.AddFile("D:\\kedro\\ERP\\terti.dat", store::EmptyBlockFileImage(3));
  dialog_.texts[kOldDirectoryEdit] = "C:\\Palunor";
  RunMigration(os_, dialog_, 'D', 36, {});
  std::vector<std::string> texts;
  for (const auto& m : os_.messages) texts.push_back(m.text);
  const std::vector<std::string> expected = {
      "Nu exista fisierul C:\\Palunor\\Varmex\\EXT.DAT",
      "Nu exista fisierul C:\\Palunor\\Varmex\\TABEL.DAT",
      "Nu exista fisierul C:\\Palunor\\ERP\\terti.dat",
      "Instalare cu succes!",
  };
  EXPECT_EQ(texts, expected);
}

TEST_F(Pipeline, FailedOpenSkipsToTheCompletionMessage) {
  AddCollection36();
  os_.DeleteFile("D:\\kedro\\Varmex\\lcalcdev.dat");
  dialog_.texts[kOldDirectoryEdit] = "C:\\Palunor";
  RunMigration(os_, dialog_, 'D', 36, {});
  ASSERT_EQ(os_.messages.size(), 2u);
  EXPECT_EQ(os_.messages[0].text, "Eroare (   2) la deschidere D:\\kedro\\Varmex\\lcalcdev.dat!");
  EXPECT_EQ(os_.messages[1].text, "Instalare cu succes!");
  EXPECT_EQ(dialog_.result, 1);
  // The seven files opened before stay open; no supplier was written.
  for (int16_t u = 1; u <= 7; ++u) EXPECT_TRUE(io::UnitInUse(u)) << u;
  EXPECT_FALSE(io::UnitInUse(8));
  EXPECT_EQ(*os_.Bytes("D:\\kedro\\ERP\\terti.dat"), store::EmptyBlockFileImage(7));
  EXPECT_EQ(dialog_.TextsOf(kStatusText).back(), "Preluare terti.voc");
}

}  // namespace
}  // namespace varmex::migration

namespace varmex::migration {
namespace {

TEST(EnlargedBlockCount, TheLeastOrEnoughForTheRestOfTheStepAtItsPace) {
  struct Case {
    int32_t blocks;
    double shareDone;
    int64_t expected;
  };
  for (const Case c : {
           Case{4000, 1.0, 8500},      // the step is done: twice and an eighth
           Case{4000, 0.9, 8500},      // 4000 / (0.9 x 0.75) = 5926 is less than the least
           Case{4000, 0.5, 10667},     // 4000 / (0.5 x 0.75)
           Case{40000, 0.39, 136753},  // 40000 / (0.39 x 0.75)
           Case{10, 0.0, 176},         // at most 8 times the least (22)
           Case{1, 0.3, 5},            // 1 / 0.225, rounded up
       }) {
    EXPECT_EQ(EnlargedBlockCount(c.blocks, c.shareDone), c.expected)
        << c.blocks << " " << c.shareDone;
  }
}

// A file filled with records of one shape until a write answers 3, then re-spread over
// EnlargedBlockCount blocks, is at most half used: the records of the three files that
// grow (local prices, GRUPDEV links, GRUPDEV records of 1 and 1000 members, supplier
// prices) in files from the smallest up.
TEST(EnlargedBlockCount, AFullFileReSpreadIsAtMostHalfUsed) {
  struct Shape {
    int16_t keyLength;
    size_t recordLength;
  };
  for (const Shape shape :
       {Shape{10, 24}, Shape{6, 10}, Shape{4, 122}, Shape{4, 6116}, Shape{8, 136}}) {
    for (int32_t n : {1, 2, 7, 40}) {
      FakePlatform fake;
      fake.AddFile("D:\\f.dat", store::EmptyBlockFileImage(n));
      const int16_t unit = io::FindFreeUnit();
      ASSERT_EQ(io::OpenUnit(fake, unit, "D:\\f.dat", 512), 0);
      std::vector<uint8_t> record(shape.recordLength, 0x5A);
      for (uint32_t k = 0;; ++k) {
        io::StoreI32(record.data(), static_cast<int32_t>(k * 2654435761u));
        const int16_t status = store::KeyedWrite(record, shape.keyLength, n, unit,
                                                 store::HashSelector::kVariableLength)
                                   .status;
        if (status == store::kKeyedDone) continue;
        ASSERT_EQ(status, store::kKeyedFull);
        store::KeyedDelete(record, shape.keyLength, n, unit, store::HashSelector::kVariableLength);
        break;
      }
      io::CloseUnit(unit);
      const int64_t enlarged = EnlargedBlockCount(n);
      const store::RedistributeResult r =
          store::Redistribute(fake, "D:\\f.dat", static_cast<int32_t>(enlarged));
      ASSERT_EQ(r.status, store::RedistributeStatus::kDone) << r.problem;
      const store::VerifyReport v = store::VerifyBlockImage(*fake.Bytes("D:\\f.dat"), 0);
      EXPECT_EQ(store::FormatProblems(v), "");
      EXPECT_EQ(v.blocks, enlarged);
      EXPECT_LE(static_cast<double>(v.usedCells), 0.5 * 256 * static_cast<double>(enlarged))
          << shape.keyLength << "/" << shape.recordLength << " in " << n << " blocks";
    }
  }
}

}  // namespace
}  // namespace varmex::migration
