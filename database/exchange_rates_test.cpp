// The exchange-rate table: the file path, the latest rates and the history scan.
#include "database/exchange_rates.h"

#include <gtest/gtest.h>

#include <vector>

#include "io/coding.h"
#include "io/unit_file.h"
#include "platform/fake_platform.h"

namespace varmex::database {
namespace {

struct Rate {
  int16_t code;
  int32_t date;
  int32_t rate;
};

// Record 1: the history count; records 2..20: the latest rates; then the history.
std::vector<uint8_t> RateFile(int32_t historyCount, const std::vector<Rate>& latest,
                              const std::vector<Rate>& history) {
  std::vector<uint8_t> bytes(10 * (20 + history.size()), 0);
  io::StoreI32(bytes.data(), historyCount);
  for (int i = 0; i < 19; ++i) {
    uint8_t* r = bytes.data() + 10 * (i + 1);
    io::StoreI16(r, static_cast<int16_t>(i + 1));
    io::StoreI32(r + 2, kNoRateDate);
  }
  for (const Rate& l : latest) {
    uint8_t* r = bytes.data() + 10 * l.code;
    io::StoreI16(r, l.code);
    io::StoreI32(r + 2, l.date);
    io::StoreI32(r + 6, l.rate);
  }
  for (size_t i = 0; i < history.size(); ++i) {
    uint8_t* r = bytes.data() + 10 * (20 + i);
    io::StoreI16(r, history[i].code);
    io::StoreI32(r + 2, history[i].date);
    io::StoreI32(r + 6, history[i].rate);
  }
  return bytes;
}

class ExchangeRateTest : public ::testing::Test {
 protected:
  void SetUp() override { SetExchangeRateDirectory(rates, "D:\\kedro\\Varmex"); }
  void TearDown() override {
    io::CloseAllUnits();
    io::SetIoFaultHook(nullptr);
  }
  platform::FakePlatform fake;
  ExchangeRates rates;
};

TEST_F(ExchangeRateTest, PathFromTheDataDirectory) {
  EXPECT_EQ(ExchangeRatePath(rates), "D:\\kedro\\Varmex\\CURSVAL.DAT");
  SetExchangeRateDirectory(rates, "   ");
  EXPECT_EQ(ExchangeRatePath(rates), "CURSVAL.DAT");
  SetExchangeRateDirectory(rates, std::string_view("\0D:\\x", 5));
  EXPECT_EQ(ExchangeRatePath(rates), "CURSVAL.DAT");
  // Only the first 40 characters of the directory are kept.
  SetExchangeRateDirectory(rates, std::string(45, 'a'));
  EXPECT_EQ(ExchangeRatePath(rates), std::string(40, 'a') + "\\CURSVAL.DAT");
}

TEST_F(ExchangeRateTest, MissingFileLeavesNoRates) {
  EXPECT_EQ(LoadExchangeRates(fake, rates), 1);
  EXPECT_EQ(ExchangeRateTable(rates)[1].date, kNoRateDate);
  EXPECT_EQ(ExchangeRateTable(rates)[1].code, 2);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20240101), 0);
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST_F(ExchangeRateTest, HistoryScanTakesTheLastRateNotLaterThanTheDate) {
  // Euro (2) and dollar (1) interleaved by date.
  fake.AddFile("D:\\kedro\\Varmex\\CURSVAL.DAT",
               RateFile(5, {{1, 20200101, 40000}, {2, 20200301, 48000}},
                        {{2, 20190101, 46000},
                         {1, 20190201, 39000},
                         {2, 20190601, 47000},
                         {1, 20190701, 39500},
                         {2, 20191231, 47500}}));
  ASSERT_EQ(LoadExchangeRates(fake, rates), 0);
  EXPECT_EQ(ExchangeRateHistoryCount(rates), 5);
  EXPECT_FALSE(io::UnitInUse(1));
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20200301),
            48000);  // the latest date itself: from memory
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20210101), 48000);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20190601), 47000);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20190901), 47000);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20200201), 47500);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 2, 20181231), 0);  // before every rate
  EXPECT_EQ(ExchangeRateOn(fake, rates, 1, 20190630), 39000);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 1, 20191001), 39500);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 3, 20191001), 0);  // no rate for this currency
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST_F(ExchangeRateTest, CodesOutOfRangeAnswerZeroWithoutOpeningTheFile) {
  fake.AddFile("D:\\kedro\\Varmex\\CURSVAL.DAT",
               RateFile(1, {{1, 20200101, 40000}}, {{1, 20100101, 1}}));
  ASSERT_EQ(LoadExchangeRates(fake, rates), 0);
  const uint64_t reads = io::Counters().reads;
  EXPECT_EQ(ExchangeRateOn(fake, rates, 0, 20000101), 0);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 20, 20000101), 0);
  EXPECT_EQ(ExchangeRateOn(fake, rates, -1, 20000101), 0);
  EXPECT_EQ(io::Counters().reads, reads);
}

TEST_F(ExchangeRateTest, NoHistoryGivesZeroEvenForTheLatestRates) {
  fake.AddFile("D:\\kedro\\Varmex\\CURSVAL.DAT", RateFile(0, {{1, 20200101, 40000}}, {}));
  ASSERT_EQ(LoadExchangeRates(fake, rates), 0);
  EXPECT_EQ(ExchangeRateTable(rates)[0].rate, 40000);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 1, 20250101), 0);
}

TEST_F(ExchangeRateTest, UnreadableHistoryRecordGivesMinusOne) {
  // The count claims more history than the file holds.
  fake.AddFile("D:\\kedro\\Varmex\\CURSVAL.DAT",
               RateFile(4, {{1, 20200101, 40000}}, {{1, 20100101, 5}}));
  ASSERT_EQ(LoadExchangeRates(fake, rates), 0);
  EXPECT_EQ(ExchangeRateOn(fake, rates, 1, 20150101), -1);
  EXPECT_FALSE(io::UnitInUse(1));
}

TEST_F(ExchangeRateTest, UnreadableCountStillLoadsTheLatestRates) {
  fake.AddFile("D:\\kedro\\Varmex\\CURSVAL.DAT", RateFile(3, {{1, 20200101, 40000}}, {}));
  io::SetIoFaultHook([](io::IoOp, int16_t, int64_t record) {
    return record == 1 ? io::IoFault{30, -1} : io::IoFault{};
  });
  EXPECT_EQ(LoadExchangeRates(fake, rates), 1);
  EXPECT_EQ(ExchangeRateHistoryCount(rates), 0);
  EXPECT_EQ(ExchangeRateTable(rates)[0].rate, 40000);
}

}  // namespace
}  // namespace varmex::database
