#include "installer/archives.h"

#include <gtest/gtest.h>

#include "platform/fake_platform.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;
using platform::ProcessResult;

// Runs CheckArchive with the tool answering `exitCode`; returns the stop status or -1.
int Check(FakePlatform& fake, char mode, std::string_view archive, std::string_view dest,
          uint32_t exitCode) {
  fake.runProcess = [exitCode](const FakePlatform::Run&) { return ProcessResult{0, exitCode}; };
  try {
    CheckArchive(fake, mode, archive, dest);
  } catch (const FakePlatform::ExitCalled& e) {
    return e.status;
  }
  return -1;
}

TEST(CheckArchiveTest, CommandLinesAreTrimmedAndUnquoted) {
  FakePlatform fake;
  EXPECT_EQ(Check(fake, 't', "erp.rar     ", "ignored", 0), -1);
  EXPECT_EQ(Check(fake, 'T', "erp.rar", "", 0), -1);
  EXPECT_EQ(Check(fake, 'e', "erp.rar  ", "D:\\kedro\\ERP     ", 0), -1);
  EXPECT_EQ(Check(fake, 'x', "tutorial.rar", "D:\\kedro\\Varmex", 0), -1);
  ASSERT_EQ(fake.runs.size(), 4u);
  EXPECT_EQ(fake.runs[0].commandLine, "unrar t erp.rar");
  EXPECT_EQ(fake.runs[1].commandLine, "unrar t erp.rar");
  EXPECT_EQ(fake.runs[2].commandLine, "unrar e -y erp.rar D:\\kedro\\ERP");
  EXPECT_EQ(fake.runs[3].commandLine, "unrar x -y tutorial.rar D:\\kedro\\Varmex");
  for (const auto& run : fake.runs) EXPECT_TRUE(run.wantExitCode);
  EXPECT_TRUE(fake.messages.empty());
}

TEST(CheckArchiveTest, AToolThatCannotStartStopsTheProgram) {
  FakePlatform fake;  // the default process answer: not found
  int status = -1;
  try {
    CheckArchive(fake, 't', "erp.rar", "");
  } catch (const FakePlatform::ExitCalled& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Nu se poate executa unrar.exe!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");
  EXPECT_EQ(fake.messages[0].style, 0x41030u);
}

TEST(CheckArchiveTest, ACommandLineTooLongForTheRunnerIsReportedAsNotStartable) {
  FakePlatform fake;
  EXPECT_EQ(Check(fake, 'e', "erp.rar", std::string(600, 'd'), 0), 1);
  EXPECT_TRUE(fake.runs.empty());
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Nu se poate executa unrar.exe!");
}

TEST(CheckArchiveTest, UnpackFailuresShowTheExitCodeInTwoCharacters) {
  FakePlatform fake;
  EXPECT_EQ(Check(fake, 'e', "erp.rar ", "D:\\kedro\\ERP", 3), 1);
  EXPECT_EQ(Check(fake, 'e', "erp.rar", "D:\\kedro\\ERP", 255), 1);
  EXPECT_EQ(Check(fake, 'x', "tutorial.rar", "D:\\kedro\\Varmex", 1), 1);  // a warning counts too
  ASSERT_EQ(fake.messages.size(), 3u);
  EXPECT_EQ(fake.messages[0].text, "Eroare la dezarhivarea erp.rar (unrar retcode= 3)!");
  EXPECT_EQ(fake.messages[1].text, "Eroare la dezarhivarea erp.rar (unrar retcode=**)!");
  EXPECT_EQ(fake.messages[2].text, "Eroare la dezarhivarea tutorial.rar (unrar retcode= 1)!");
}

TEST(CheckArchiveTest, ADamagedArchiveGetsTheThreeLineMessage) {
  FakePlatform fake;
  EXPECT_EQ(Check(fake, 't', "bentak.rar   ", "", 7), 1);
  EXPECT_EQ(Check(fake, 'T', "bentak.rar", "", static_cast<uint32_t>(-10)), 1);
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[0].text,
            "Arhiva bentak.rar este alterata ('unrar t' retcode= 7)!\n"
            "Pentru a continua instalarea e necesara inlocuirea acestei arhive.\n"
            "Puteti descarca aceasta arhiva de pe site-ul www.varmex.ro");
  EXPECT_NE(fake.messages[1].text.find("retcode=**)!\n"), std::string::npos);
}

}  // namespace
}  // namespace varmex::installer
