// The tool steps: the command lines they run, and how they go on when tools fail.
#include "migration/partner_tools.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"
#include "testing/recording_dialog_host.h"

namespace varmex::migration {
namespace {

using platform::FakePlatform;

// Every run starts and gives `densExit` as its exit code.
void AnswerRuns(FakePlatform& os, uint32_t densExit) {
  os.runProcess = [densExit](const FakePlatform::Run&) {
    return platform::ProcessResult{0, densExit};
  };
}

std::vector<std::string> CommandLines(const FakePlatform& os) {
  std::vector<std::string> out;
  for (const auto& r : os.runs) out.push_back(r.commandLine);
  return out;
}

TEST(ConvertPartnerFile, RunsTheConverterThenTheFourVocabularyTools) {
  FakePlatform os;
  AnswerRuns(os, 0);
  doubles::RecordingDialogHost dialog;
  ConvertPartnerFile(os, dialog, 'D');
  const std::vector<std::string> expected = {
      "D:\\kedro\\ERP\\convfurn D:\\kedro\\ERP D:\\kedro\\Varmex",
      "D:\\kedro\\ERP\\cuvterti D:\\kedro\\ERP",
      "D:\\kedro\\ERP\\lsort D:\\kedro\\ERP\\cuvterti.tmp D:\\kedro\\ERP\\cuvterti.srt ",
      "D:\\kedro\\ERP\\fo2 -o -s 4000 -n terti.voc -d D:\\kedro\\ERP",
      "D:\\kedro\\ERP\\mkhvoc -s -d -h D:\\kedro\\ERP 1 D:\\kedro\\ERP\\cuvterti.srt terti.voc",
  };
  EXPECT_EQ(CommandLines(os), expected);
  EXPECT_EQ(dialog.TextsOf(1003), std::vector<std::string>{"Refacere TERTI.VOC"});
  for (const auto& r : os.runs) EXPECT_FALSE(r.wantExitCode);
}

TEST(ConvertPartnerFile, GoesOnWhenToolsAreMissing) {
  FakePlatform os;  // every start fails with "not found"
  doubles::RecordingDialogHost dialog;
  ConvertPartnerFile(os, dialog, 'E');
  EXPECT_EQ(os.runs.size(), 5u);
  EXPECT_TRUE(os.messages.empty());
}

struct FurnmatCase {
  uint64_t bytes;
  uint32_t densExit;
  const char* nredisp;  // expected nredisp command, or nullptr
};

class CheckFurnmat : public testing::TestWithParam<FurnmatCase> {};

TEST_P(CheckFurnmat, RedistributesWhenSmallOrDense) {
  const FurnmatCase c = GetParam();
  FakePlatform os;
  os.AddFile("D:\\kedro\\Varmex\\FURNMAT.DAT", std::vector<uint8_t>(c.bytes, 0));
  AnswerRuns(os, c.densExit);
  CheckFurnmatFile(os, 'D');
  ASSERT_GE(os.runs.size(), 1u);
  EXPECT_EQ(os.runs[0].commandLine, "D:\\kedro\\Varmex\\dens D:\\kedro\\Varmex\\furnmat.dat");
  EXPECT_TRUE(os.runs[0].wantExitCode);
  if (c.nredisp == nullptr) {
    EXPECT_EQ(os.runs.size(), 1u);
  } else {
    ASSERT_EQ(os.runs.size(), 2u);
    EXPECT_EQ(os.runs[1].commandLine, c.nredisp);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CheckFurnmat,
    testing::Values(
        FurnmatCase{8000 * 512, 1, nullptr},
        FurnmatCase{8000 * 512, 2,
                    "D:\\kedro\\Varmex\\nredisp -o -d 16000 D:\\kedro\\Varmex\\furnmat.dat"},
        FurnmatCase{8000 * 512, 7,
                    "D:\\kedro\\Varmex\\nredisp -o -d 16000 D:\\kedro\\Varmex\\furnmat.dat"},
        FurnmatCase{1000 * 512, 0,
                    "D:\\kedro\\Varmex\\nredisp -o -d 12000 D:\\kedro\\Varmex\\furnmat.dat"},
        // 8000 whole blocks and a few bytes more count as 7999 + 1 = 8000; one byte
        // short of 8000 blocks counts as 7999.
        FurnmatCase{8000 * 512 + 100, 1, nullptr},
        FurnmatCase{8000 * 512 - 1, 1,
                    "D:\\kedro\\Varmex\\nredisp -o -d 15998 D:\\kedro\\Varmex\\furnmat.dat"},
        // 60000 blocks doubled do not fit five characters: written in full.
        FurnmatCase{60000ull * 512, 2,
                    "D:\\kedro\\Varmex\\nredisp -o -d 120000 D:\\kedro\\Varmex\\furnmat.dat"}));

TEST(CheckFurnmatFile, MissingFileRunsNothing) {
  FakePlatform os;
  AnswerRuns(os, 2);
  CheckFurnmatFile(os, 'D');
  EXPECT_TRUE(os.runs.empty());
  EXPECT_TRUE(os.messages.empty());
}

TEST(CheckFurnmatFile, DensThatCannotStartLeavesTheDecisionToTheSize) {
  FakePlatform os;
  os.AddFile("D:\\kedro\\Varmex\\furnmat.dat", std::vector<uint8_t>(9000 * 512, 0));
  AnswerRuns(os, 0);
  CheckFurnmatFile(os, 'D');  // dens answers 0: nothing to do
  os.runs.clear();
  os.runProcess = nullptr;  // nothing starts any more
  CheckFurnmatFile(os, 'D');
  ASSERT_EQ(os.runs.size(), 1u);  // the last exit code (0) still holds
  os.AddFile("D:\\kedro\\Varmex\\furnmat.dat", std::vector<uint8_t>(10 * 512, 0));
  os.runs.clear();
  CheckFurnmatFile(os, 'D');
  ASSERT_EQ(os.runs.size(), 2u);
  EXPECT_EQ(os.runs[1].commandLine,
            "D:\\kedro\\Varmex\\nredisp -o -d 12000 D:\\kedro\\Varmex\\furnmat.dat");
}

}  // namespace
}  // namespace varmex::migration
