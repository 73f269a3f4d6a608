// The default supplier in terti.dat: written when missing, left alone when there.
#include "migration/partner_record.h"

#include <gtest/gtest.h>

#include <array>

#include "database/data_file.h"
#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"
#include "store/block_file_builder.h"
#include "store/keyed_store.h"

namespace varmex::migration {
namespace {

using platform::FakePlatform;

constexpr const char* kTerti = "D:\\kedro\\ERP\\terti.dat";

class PartnerFile : public testing::Test {
 protected:
  void SetUp() override {
    os_.AddFile(kTerti, store::EmptyBlockFileImage(20));
    file_ = database::OpenDataFile(os_, "terti.dat", "D:\\kedro\\ERP\\", database::kNoMessages,
                                   database::kNotFatal);
    ASSERT_NE(file_.unit, io::kNoUnit);
    ASSERT_EQ(file_.blockCount, 20);
  }
  void TearDown() override {
    io::SetIoFaultHook(nullptr);
    io::CloseAllUnits();
  }

  store::ReadResult Read(int32_t code, std::span<uint8_t> into) {
    io::StoreI32(into.data(), code);
    return store::KeyedRead(into, 4, file_.blockCount, file_.unit,
                            store::HashSelector::kVariableLength, 0);
  }

  FakePlatform os_;
  database::OpenResult file_;
};

TEST_F(PartnerFile, EmptyFileReceivesTheDefaultSupplier) {
  EXPECT_TRUE(EnsureDefaultSupplier(os_, file_.unit, file_.blockCount));
  std::array<uint8_t, 600> got{};
  const store::ReadResult r = Read(2499, got);
  ASSERT_EQ(r.status, store::kKeyedDone);
  EXPECT_EQ(r.length, 480);
  const std::string name(reinterpret_cast<const char*>(got.data() + 16), 60);
  EXPECT_EQ(name, "Furnizor implicit" + std::string(43, ' '));
  EXPECT_EQ(io::LoadI16(got.data() + 400), 1);
  for (int e = 0; e < 6; ++e) {
    EXPECT_EQ(io::LoadI32(got.data() + 220 + 30 * e), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data() + 224 + 30 * e), 26),
              std::string(26, ' '));
  }
  for (size_t at : {4u, 76u, 92u, 172u, 188u, 204u, 402u}) EXPECT_EQ(got[at], ' ') << at;
  EXPECT_EQ(got[479], ' ');
  EXPECT_TRUE(os_.messages.empty());
}

TEST_F(PartnerFile, ExistingDefaultSupplierIsLeftAlone) {
  std::array<uint8_t, kPartnerRecordSize> record{};
  io::StoreI32(record.data(), 2499);
  io::StoreText(record, 16, 60, "Alt nume");
  ASSERT_EQ(store::KeyedWrite(record, 4, file_.blockCount, file_.unit,
                              store::HashSelector::kVariableLength)
                .status,
            store::kKeyedDone);
  const uint64_t writes = io::Counters().writes;
  EXPECT_TRUE(EnsureDefaultSupplier(os_, file_.unit, file_.blockCount));
  EXPECT_EQ(io::Counters().writes, writes);
  std::array<uint8_t, kPartnerRecordSize> got{};
  ASSERT_EQ(Read(2499, got).status, store::kKeyedDone);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data() + 16), 8), "Alt nume");
}

TEST_F(PartnerFile, LongerStoredRecordIsDeliveredOnlyUpToTheBuffer) {
  std::vector<uint8_t> longer(700, 'x');
  io::StoreI32(longer.data(), 77);
  ASSERT_EQ(store::KeyedWrite(longer, 4, file_.blockCount, file_.unit,
                              store::HashSelector::kVariableLength)
                .status,
            store::kKeyedDone);
  std::array<uint8_t, kPartnerRecordSize + 8> guarded{};
  guarded.fill(0xAB);
  io::StoreI32(guarded.data(), 77);
  DiagnosticField message;
  const int16_t status = ReadPartnerRecord(
      file_.unit, file_.blockCount, PartnerRecord(guarded.data(), kPartnerRecordSize), message);
  EXPECT_EQ(status, kPartnerRead);
  EXPECT_EQ(guarded[479], 'x');
  for (size_t i = kPartnerRecordSize; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0xAB);
  EXPECT_EQ(message.trimmed(), "");
}

TEST_F(PartnerFile, ReadErrorIsReportedInTheMessageFieldAndOverwritten) {
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t) {
    return op == io::IoOp::kRead ? io::IoFault{30, -1} : io::IoFault{};
  });
  std::array<uint8_t, kPartnerRecordSize> record{};
  io::StoreI32(record.data(), 2499);
  DiagnosticField message;
  EXPECT_EQ(ReadPartnerRecord(file_.unit, file_.blockCount, record, message), kPartnerReadFailed);
  EXPECT_EQ(message.view().substr(0, 33), std::string("** Citire eronata TERTI.DAT:   5") + '\0');
}

TEST_F(PartnerFile, FailedWriteShowsOneMessage) {
  io::SetIoFaultHook([](io::IoOp op, int16_t, int64_t) {
    return op == io::IoOp::kWrite ? io::IoFault{29, -1} : io::IoFault{};
  });
  EXPECT_FALSE(EnsureDefaultSupplier(os_, file_.unit, file_.blockCount));
  ASSERT_EQ(os_.messages.size(), 1u);
  EXPECT_EQ(os_.messages[0].text, "Eroare generare [Furnizor provizoriu]!");
  EXPECT_EQ(os_.messages[0].caption, "Eroare");

  std::array<uint8_t, kPartnerRecordSize> record{};
  BuildDefaultSupplier(record);
  DiagnosticField message;
  EXPECT_EQ(WritePartnerRecord(file_.unit, file_.blockCount, record, message), kPartnerWriteFailed);
  EXPECT_EQ(message.view().substr(0, 37),
            std::string("** Scriere eronata in TERTI.DAT:   2") + '\0');
}

}  // namespace
}  // namespace varmex::migration
