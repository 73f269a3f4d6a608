#include "installer/runner.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake_platform.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;
using platform::ProcessResult;

// A blank-padded command field as callers build it: text, NUL, blanks.
std::string Field(std::string_view text, size_t width) {
  std::string f(text);
  f.push_back('\0');
  f.resize(width, ' ');
  return f;
}

TEST(RunnerTest, PassesTheTextUpToTheNulAndReportsTheExitCode) {
  FakePlatform fake;
  fake.runProcess = [](const FakePlatform::Run&) { return ProcessResult{0, 3u}; };
  int32_t exitCode = 99;
  EXPECT_EQ(RunProgramForExitCode(fake, Field("unrar t erp.rar", 300), exitCode), 0);
  EXPECT_EQ(exitCode, 3);
  ASSERT_EQ(fake.runs.size(), 1u);
  EXPECT_EQ(fake.runs[0].commandLine, "unrar t erp.rar");
  EXPECT_TRUE(fake.runs[0].wantExitCode);

  EXPECT_EQ(RunProgram(fake, Field("mklnk x", 256)), 0);
  EXPECT_FALSE(fake.runs[1].wantExitCode);
}

TEST(RunnerTest, BlanksBeforeTheNulStayInTheCommand) {
  FakePlatform fake;
  fake.runProcess = [](const FakePlatform::Run&) { return ProcessResult{0, 0u}; };
  EXPECT_EQ(RunProgram(fake, Field("lsort a b ", 100)), 0);
  EXPECT_EQ(fake.runs.at(0).commandLine, "lsort a b ");
  // Without a NUL the command ends at its last non-blank character.
  EXPECT_EQ(RunProgram(fake, "plain   "), 0);
  EXPECT_EQ(fake.runs.at(1).commandLine, "plain");
}

TEST(RunnerTest, FiveHundredElevenCharactersRunAndFiveHundredTwelveDoNot) {
  FakePlatform fake;
  fake.runProcess = [](const FakePlatform::Run&) { return ProcessResult{0, 0u}; };
  // 510 characters and the NUL: 511 meaningful characters.
  const std::string ok = Field(std::string(510, 'a'), 600);
  EXPECT_EQ(RunProgram(fake, ok), 0);
  ASSERT_EQ(fake.runs.size(), 1u);
  EXPECT_EQ(fake.runs[0].commandLine.size(), 510u);

  const std::string tooLong = Field(std::string(511, 'a'), 600);
  int32_t exitCode = 42;
  EXPECT_EQ(RunProgramForExitCode(fake, tooLong, exitCode), kRunCommandTooLong);
  EXPECT_EQ(exitCode, 42);
  EXPECT_EQ(RunProgram(fake, tooLong), kRunCommandTooLong);
  EXPECT_EQ(fake.runs.size(), 1u) << "nothing may start";
}

TEST(RunnerTest, StartFailureGivesTheErrorCodeAndLeavesTheExitCode) {
  FakePlatform fake;  // its default run answers "not found"
  int32_t exitCode = 7;
  EXPECT_EQ(RunProgramForExitCode(fake, Field("nothere", 50), exitCode), 2);
  EXPECT_EQ(exitCode, 7);
  EXPECT_EQ(RunProgram(fake, Field("nothere", 50)), 2);
}

TEST(RunnerTest, UnreadableExitStatusGivesMinusOne) {
  FakePlatform fake;
  fake.runProcess = [](const FakePlatform::Run&) { return ProcessResult{0, std::nullopt}; };
  int32_t exitCode = 5;
  EXPECT_EQ(RunProgramForExitCode(fake, Field("tool", 20), exitCode), 0);
  EXPECT_EQ(exitCode, -1);
}

}  // namespace
}  // namespace varmex::installer
