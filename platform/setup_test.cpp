#include "platform/setup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "installer/messages.h"
#include "installer/runner.h"
#include "platform/platform.h"

namespace varmex::platform {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct ClosesOnCancel : DialogProcedure {
  bool OnInit(DialogHost& host) override {
    host.SetItemText(1003, "gata");
    return true;
  }
  bool OnCommand(DialogHost& host, int id, int) override {
    if (id == 2) host.EndDialog(2);
    return id == 2;
  }
};

// The environment variables put a scripted host and a transcript around the native
// platform; what the program does then reaches the transcript file.
TEST(SetUpTest, ScriptAndTranscriptFromTheEnvironment) {
  const std::string dir = ::testing::TempDir();
  const std::string script = dir + "varmex-setup-test.script";
  const std::string transcript = dir + "varmex-setup-test.jsonl";
  std::ofstream(script) << "# test\ndialog 107\n  click 2\nanswer yes\n";
  ::setenv("VARMEX_UI_SCRIPT", script.c_str(), 1);
  ::setenv("VARMEX_UI_TRANSCRIPT", transcript.c_str(), 1);
  ::unsetenv("VARMEX_DRIVES");

  ASSERT_TRUE(SetUpFromEnvironment());
  ClosesOnCancel proc;
  EXPECT_EQ(Current().DialogBox(107, proc), 2);
  EXPECT_EQ(Current().MessageBox("Preluati?", "Instalare Varmex 38 ERP", kMbYesNo), kIdYes);
  installer::ShowError("Eroare (    3) la x!\n ");  // a built text keeps its final blank
  EXPECT_EQ(installer::RunProgram(std::string(520, 'x')), installer::kRunCommandTooLong);
  EXPECT_EQ(installer::FinishProgram(0), 0);
  TearDownEnvironment();
  ::unsetenv("VARMEX_UI_SCRIPT");
  ::unsetenv("VARMEX_UI_TRANSCRIPT");

  EXPECT_EQ(ReadFile(transcript),
            "{\"event\":\"dialog\",\"id\":107}\n"
            "{\"event\":\"set-text\",\"dialog\":107,\"control\":1003,\"text\":\"gata\"}\n"
            "{\"event\":\"dialog-end\",\"id\":107,\"result\":2}\n"
            "{\"event\":\"message\",\"title\":\"Instalare Varmex 38 ERP\",\"text\":\"Preluati?\","
            "\"style\":4,\"answer\":\"yes\"}\n"
            "{\"event\":\"message\",\"title\":\"Eroare\",\"text\":\"Eroare (    3) la x!\\n \","
            "\"style\":266288,\"answer\":\"ok\"}\n"
            "{\"event\":\"run\",\"command\":\"" +
                std::string(520, 'x') +
                "\",\"result\":-1}\n"
                "{\"event\":\"exit\",\"status\":0}\n");
  std::remove(script.c_str());
  std::remove(transcript.c_str());
}

// A script that cannot be read, a missing file or a folder alike, is a script with no
// lines: every dialog is closed as the script running out would close it.
TEST(SetUpTest, AnUnreadableScriptClosesEverythingAndIsRecorded) {
  const std::string transcript = ::testing::TempDir() + "varmex-setup-test2.jsonl";
  for (const std::string& script :
       {std::string("/nonexistent/varmex.script"), ::testing::TempDir()}) {
    ::setenv("VARMEX_UI_SCRIPT", script.c_str(), 1);
    ::setenv("VARMEX_UI_TRANSCRIPT", transcript.c_str(), 1);
    ::testing::internal::CaptureStderr();
    SetUpFromEnvironment();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ClosesOnCancel proc;
    EXPECT_EQ(Current().DialogBox(101, proc), 2);
    TearDownEnvironment();
    const std::string text = ReadFile(transcript);
    EXPECT_EQ(said, "varmex: cannot read the script " + script + "\n");
    EXPECT_EQ(text.rfind("{\"event\":\"script-error\",\"detail\":\"cannot read the script", 0), 0u)
        << text;
    EXPECT_NE(text.find("{\"event\":\"dialog-end\",\"id\":101,\"result\":2}\n"), std::string::npos);
  }
  ::unsetenv("VARMEX_UI_SCRIPT");
  ::unsetenv("VARMEX_UI_TRANSCRIPT");
  std::remove(transcript.c_str());
}

// A transcript that cannot be written whole (here a device that is always full) is
// said on standard error, and a run that would have ended with 0 ends with 1.
TEST(SetUpTest, ATranscriptThatCannotBeWrittenWholeEndsTheRunWithOne) {
  ::setenv("VARMEX_UI_TRANSCRIPT", "/dev/full", 1);
  ::setenv("VARMEX_UI_SCRIPT", "/dev/null", 1);
  ASSERT_TRUE(SetUpFromEnvironment());
  ::testing::internal::CaptureStderr();
  installer::ShowWarning("Atentie");
  installer::ShowWarning("Atentie");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "varmex: cannot write the transcript /dev/full completely\n");  // once
  EXPECT_EQ(installer::FinishProgram(0), 1);
  EXPECT_EQ(installer::FinishProgram(3), 3);
  EXPECT_EXIT(installer::EndProgram(0), ::testing::ExitedWithCode(1), "");
  TearDownEnvironment();
  ::unsetenv("VARMEX_UI_SCRIPT");
  ::unsetenv("VARMEX_UI_TRANSCRIPT");
}

}  // namespace
}  // namespace varmex::platform
