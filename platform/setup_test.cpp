#include "platform/setup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
  Platform& os = Current();  // what the program's entry hands down
  ClosesOnCancel proc;
  EXPECT_EQ(os.DialogBox(107, proc), 2);
  EXPECT_EQ(os.MessageBox("Preluati?", "Instalare Varmex 38 ERP", kMbYesNo), kIdYes);
  installer::ShowError(os, "Eroare (    3) la x!\n ");  // a built text keeps its final blank
  EXPECT_EQ(installer::RunProgram(os, std::string(520, 'x')), installer::kRunCommandTooLong);
  EXPECT_EQ(installer::FinishProgram(os, 0), 0);
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

// Answers that are no file, or past the bounds of any answers, are refused at once:
// one line on standard error and in the transcript, and SetUpFromEnvironment fails
// (the program ends with 1) without waiting for a writer or reading without end.
TEST(SetUpTest, AnswersPastTheirBoundsOrFromADeviceAreRefusedAtOnce) {
  const std::string dir = ::testing::TempDir();
  const std::string fifo = dir + "varmex-setup-test.fifo";
  const std::string large = dir + "varmex-setup-test-large.script";
  const std::string longLine = dir + "varmex-setup-test-long.script";
  const std::string transcript = dir + "varmex-setup-test3.jsonl";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::ofstream(large) << std::string(1024 * 1024, '#') << "\n";
  std::ofstream(longLine) << "dialog 101\nset 1002 " << std::string(4096, 'x') << "\n";
  struct Case {
    const char* script;  // VARMEX_UI_SCRIPT, or null for standard input from /dev/zero
    std::string said;    // after "varmex: "
  };
  const Case cases[] = {
      {fifo.c_str(), "the script " + fifo + " is refused: not a regular file (a pipe or a device)"},
      {"/dev/zero", "the script /dev/zero is refused: not a regular file (a pipe or a device)"},
      {large.c_str(), "the script " + large + " is refused: larger than 1048576 bytes"},
      {longLine.c_str(),
       "the script " + longLine + " is refused: its line 2 is longer than 4096 bytes"},
      {nullptr, "standard input is refused: a device, not a terminal, a file or a pipe"},
  };
  alarm(20);  // a wait on the FIFO fails the test instead of hanging it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    const int savedInput = ::dup(0);
    if (c.script != nullptr) {
      ::setenv("VARMEX_UI_SCRIPT", c.script, 1);
    } else {
      ::unsetenv("VARMEX_UI_SCRIPT");
      const int zero = ::open("/dev/zero", O_RDONLY);
      ::dup2(zero, 0);
      ::close(zero);
    }
    ::setenv("VARMEX_UI_TRANSCRIPT", transcript.c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(SetUpFromEnvironment());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "varmex: " + c.said + "\n");
    TearDownEnvironment();
    ::dup2(savedInput, 0);
    ::close(savedInput);
    EXPECT_EQ(ReadFile(transcript), "{\"event\":\"script-error\",\"detail\":\"" + c.said + "\"}\n");
  }
  alarm(0);
  ::unsetenv("VARMEX_UI_SCRIPT");
  ::unsetenv("VARMEX_UI_TRANSCRIPT");
  for (const std::string& f : {fifo, large, longLine, transcript}) std::remove(f.c_str());
}

// A transcript that cannot be written whole (here a device that is always full) is
// said on standard error, and a run that would have ended with 0 ends with 1.
TEST(SetUpTest, ATranscriptThatCannotBeWrittenWholeEndsTheRunWithOne) {
  const std::string script = ::testing::TempDir() + "varmex-setup-test-empty.script";
  std::ofstream{script};  // a script without lines (a device such as /dev/null is refused)
  ::setenv("VARMEX_UI_TRANSCRIPT", "/dev/full", 1);
  ::setenv("VARMEX_UI_SCRIPT", script.c_str(), 1);
  ASSERT_TRUE(SetUpFromEnvironment());
  Platform& os = Current();
  ::testing::internal::CaptureStderr();
  installer::ShowWarning(os, "Atentie");
  installer::ShowWarning(os, "Atentie");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "varmex: cannot write the transcript /dev/full completely\n");  // once
  EXPECT_EQ(installer::FinishProgram(os, 0), 1);
  EXPECT_EQ(installer::FinishProgram(os, 3), 3);
  EXPECT_EXIT(installer::EndProgram(os, 0), ::testing::ExitedWithCode(1), "");
  TearDownEnvironment();
  ::unsetenv("VARMEX_UI_SCRIPT");
  ::unsetenv("VARMEX_UI_TRANSCRIPT");
  std::remove(script.c_str());
}

}  // namespace
}  // namespace varmex::platform
