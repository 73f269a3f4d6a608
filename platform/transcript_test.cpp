#include "platform/transcript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "testing/recording_dialog_host.h"

namespace varmex::platform {
namespace {

// The lines written to a temporary file.
std::vector<std::string> LinesOf(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::vector<std::string> lines;
  std::string line;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(c));
    }
  }
  EXPECT_TRUE(line.empty()) << "every event ends its line";
  return lines;
}

TEST(JsonStringTest, EscapesExactly) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("Directorul C:\\Palunor\\Varmex\\ nu contine date!"),
            "\"Directorul C:\\\\Palunor\\\\Varmex\\\\ nu contine date!\"");
  EXPECT_EQ(JsonString("a \"b\"\nc"), "\"a \\\"b\\\"\\nc\"");
  EXPECT_EQ(JsonString("\t\r\b\f"), "\"\\t\\r\\b\\f\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString("/ ' < >"), "\"/ ' < >\"");
  // Valid UTF-8 passes; stray high bytes become escapes, so the line stays valid JSON.
  EXPECT_EQ(JsonString("\xc8\x99"), "\"\xc8\x99\"");
  EXPECT_EQ(JsonString("a\xe2z"), "\"a\\u00e2z\"");
  EXPECT_EQ(JsonString("\xc0\x80"), "\"\\u00c0\\u0080\"");  // overlong NUL
}

struct Recorded {
  std::FILE* file = std::tmpfile();
  Transcript transcript{file};
  FakePlatform fake;
  TranscriptPlatform recording{fake, transcript};
  Recorded() { Install(&recording); }
  ~Recorded() {
    Install(nullptr);
    std::fclose(file);
  }
};

TEST(TranscriptTest, MessagesRunsAndExit) {
  Recorded s;
  s.fake.answerMessage = [](const FakePlatform::Message& m) {
    return (m.style & kMbYesNo) ? kIdYes : kIdOk;
  };
  s.fake.runProcess = [](const FakePlatform::Run& r) {
    if (r.commandLine == "unrar t erp.rar") return ProcessResult{0, 3u};
    if (r.commandLine == "dens x") return ProcessResult{0, std::nullopt};
    return ProcessResult{0, 0u};
  };
  Current().MessageBox("Linia 1\nLinia 2 \"x\"", "Eroare", 0x41030);
  Current().MessageBox("Preluati?", "Instalare Varmex 38 ERP", kMbYesNo | kMbIconQuestion);
  Current().RunProcess("unrar t erp.rar", true);
  Current().RunProcess("D:\\kedro\\ERP\\mklnk -fD:\\kedro\\ERP\\menuerp.exe", false);
  Current().RunProcess("dens x", true);
  s.fake.runProcess = nullptr;  // not found
  Current().RunProcess("nothere", true);
  Current().NoteRefusedRun(std::string(600, 'a'), true, -1);
  Current().NoteProgramEnd(0);
  EXPECT_THROW(Current().ExitProcess(1), FakePlatform::ExitCalled);

  const std::vector<std::string> lines = LinesOf(s.file);
  const std::vector<std::string> expected = {
      R"({"event":"message","title":"Eroare","text":"Linia 1\nLinia 2 \"x\"","style":266288,"answer":"ok"})",
      R"({"event":"message","title":"Instalare Varmex 38 ERP","text":"Preluati?","style":36,"answer":"yes"})",
      R"({"event":"run","command":"unrar t erp.rar","result":0,"exit":3})",
      R"({"event":"run","command":"D:\\kedro\\ERP\\mklnk -fD:\\kedro\\ERP\\menuerp.exe","result":0})",
      R"({"event":"run","command":"dens x","result":0,"exit":-1})",
      R"({"event":"run","command":"nothere","result":2})",
      R"({"event":"run","command":")" + std::string(600, 'a') + R"(","result":-1})",
      R"({"event":"exit","status":0})",
      R"({"event":"exit","status":1})",
  };
  EXPECT_EQ(lines, expected);
}

// A dialog that sets texts and disables controls while it starts and on OK.
struct StatusDialog : DialogProcedure {
  bool OnInit(DialogHost& host) override {
    host.SetItemText(1021, std::string_view("C:\\Palunor\0junk", 15));
    return true;
  }
  bool OnCommand(DialogHost& host, int id, int) override {
    if (id != 1) return false;
    host.EnableItem(1004, false);
    host.SetItemText(1003, "Preluare baz001.dat");
    host.EndDialog(1);
    return true;
  }
};

TEST(TranscriptTest, DialogEventsComeInTheOrderTheyHappen) {
  Recorded s;
  s.fake.runDialog = [](int, DialogProcedure& proc) -> intptr_t {
    doubles::RecordingDialogHost host;
    proc.OnInit(host);
    proc.OnCommand(host, 1, kBnClicked);
    return 1;
  };
  StatusDialog dialog;
  EXPECT_EQ(Current().DialogBox(107, dialog), 1);
  s.fake.runDialog = nullptr;  // cannot be created: nothing is written
  EXPECT_EQ(Current().DialogBox(101, dialog), -1);
  EXPECT_EQ(Current().LastError(), kErrorResourceNotFound);

  const std::vector<std::string> expected = {
      R"({"event":"dialog","id":107})",
      R"({"event":"set-text","dialog":107,"control":1021,"text":"C:\\Palunor"})",
      R"({"event":"enable","dialog":107,"control":1004,"enabled":false})",
      R"({"event":"set-text","dialog":107,"control":1003,"text":"Preluare baz001.dat"})",
      R"({"event":"dialog-end","id":107,"result":1})",
  };
  EXPECT_EQ(LinesOf(s.file), expected);
}

TEST(TranscriptTest, ScriptedDialogWithAScriptError) {
  std::FILE* file = std::tmpfile();
  {
    Transcript transcript(file);
    FakePlatform fake;
    SessionPlatform scripted(
        fake,
        std::make_unique<UiSession>(ScriptActions("dialog 107\nclick 5\n"), &transcript, nullptr));
    TranscriptPlatform recording(scripted, transcript);
    StatusDialog dialog;
    EXPECT_EQ(recording.DialogBox(107, dialog), 0);
    EXPECT_EQ(recording.MessageBox("Sigur?", "Instalare", kMbYesNo), kIdNo);
  }
  const std::vector<std::string> lines = LinesOf(file);
  std::fclose(file);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], R"({"event":"dialog","id":107})");
  EXPECT_EQ(lines[1], R"({"event":"set-text","dialog":107,"control":1021,"text":"C:\\Palunor"})");
  EXPECT_EQ(
      lines[2].rfind(R"({"event":"script-error","detail":"line 2 (click 5): no control 5)", 0), 0u)
      << lines[2];
  EXPECT_EQ(lines[3], R"({"event":"dialog-end","id":107,"result":0})");
  EXPECT_EQ(lines[4].rfind(R"({"event":"script-error","detail":)", 0), 0u);
  EXPECT_EQ(lines[5],
            R"({"event":"message","title":"Instalare","text":"Sigur?","style":4,"answer":"no"})");
}

// Typed answers refused past their bounds: the transcript's exit event and the run
// both end with 1 where the program would have ended with 0.
TEST(TranscriptTest, ARunWhoseTypedAnswersWereRefusedEndsWithOne) {
  std::FILE* file = std::tmpfile();
  {
    std::istringstream in(std::string(5000, 'x') + "\n");
    Transcript transcript(file);
    FakePlatform fake;
    SessionPlatform typed(fake,
                          std::make_unique<UiSession>(TypedActions(in), &transcript, nullptr));
    TranscriptPlatform recording(typed, transcript);
    EXPECT_EQ(recording.MessageBox("Sigur?", "Instalare", kMbYesNo), kIdNo);
    EXPECT_EQ(recording.NoteProgramEnd(0), 1);
    EXPECT_EQ(recording.NoteProgramEnd(2), 2);
  }
  const std::vector<std::string> lines = LinesOf(file);
  std::fclose(file);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(
      lines[0],
      R"({"event":"script-error","detail":"input refused: line 1 is longer than 4096 bytes; nothing more is read"})");
  EXPECT_EQ(lines[3], R"({"event":"exit","status":1})");
  EXPECT_EQ(lines[4], R"({"event":"exit","status":2})");
}

}  // namespace
}  // namespace varmex::platform
