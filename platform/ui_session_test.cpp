#include "platform/ui_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "platform/simulated_dialog.h"

namespace varmex::platform {
namespace {

// Records the script errors a session reports.
struct Errors : UiEvents {
  std::vector<std::string> details;
  int refusals = 0;
  void ScriptError(std::string_view detail) override { details.emplace_back(detail); }
  void InputRefused() override { ++refusals; }
};

// A dialog procedure that records its commands; `onCommand` decides what they do.
struct Recorder : DialogProcedure {
  std::vector<std::pair<int, int>> commands;
  std::function<void(DialogHost&)> onInit;
  std::function<void(DialogHost&, int, int)> onCommand;
  bool OnInit(DialogHost& host) override {
    if (onInit) onInit(host);
    return true;
  }
  bool OnCommand(DialogHost& host, int id, int notification) override {
    commands.emplace_back(id, notification);
    if (onCommand) onCommand(host, id, notification);
    return true;
  }
  // The commands that came from clicks and keys (BN_CLICKED).
  std::vector<int> Clicks() const {
    std::vector<int> ids;
    for (auto [id, n] : commands) {
      if (n == kBnClicked) ids.push_back(id);
    }
    return ids;
  }
};

// Ends the dialog on OK (1) and Cancel (2) like the install-partition dialog.
void EndOnOkOrCancel(DialogHost& host, int id, int) {
  if (id == 1 || id == 2) host.EndDialog(id);
}

struct Scripted {
  Errors errors;
  UiSession session;
  explicit Scripted(std::string_view script) : session(ScriptActions(script), &errors, nullptr) {}
  intptr_t Dialog(int id, Recorder& proc) {
    uint32_t lastError = 0;
    return session.DialogBox(id, proc, lastError);
  }
};

TEST(ParseActionLineTest, ReadsEveryActionAndKeepsTheTextAsTyped) {
  EXPECT_FALSE(ParseActionLine("", 1));
  EXPECT_FALSE(ParseActionLine("   \t ", 1));
  EXPECT_FALSE(ParseActionLine("  # comment", 1));

  auto a = ParseActionLine("  set 1021 C:\\Vechi date  ", 4);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->verb, UiAction::Verb::kSet);
  EXPECT_EQ(a->number, 1021);
  EXPECT_EQ(a->text, "C:\\Vechi date  ");
  EXPECT_EQ(a->line, 4);

  a = ParseActionLine("set 1021", 1);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->verb, UiAction::Verb::kSet);
  EXPECT_EQ(a->text, "");

  a = ParseActionLine("select 1002 D\r", 1);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->verb, UiAction::Verb::kSelect);
  EXPECT_EQ(a->text, "D");

  EXPECT_EQ(ParseActionLine("dialog 107", 1)->verb, UiAction::Verb::kDialog);
  EXPECT_EQ(ParseActionLine("click 1", 1)->verb, UiAction::Verb::kClick);
  EXPECT_EQ(ParseActionLine("key enter", 1)->verb, UiAction::Verb::kKeyEnter);
  EXPECT_EQ(ParseActionLine("key escape", 1)->verb, UiAction::Verb::kKeyEscape);
  EXPECT_EQ(ParseActionLine("answer yes", 1)->verb, UiAction::Verb::kAnswerYes);
  EXPECT_EQ(ParseActionLine("answer no", 1)->verb, UiAction::Verb::kAnswerNo);

  for (const char* bad : {"click", "click x", "click 1 2", "dialog 99999999999", "key space",
                          "answer maybe", "set", "jump 3", "set abc x"}) {
    a = ParseActionLine(bad, 1);
    ASSERT_TRUE(a) << bad;
    EXPECT_EQ(a->verb, UiAction::Verb::kUnreadable) << bad;
  }
}

TEST(UiSessionTest, PartitionDialogPickAndOk) {
  Scripted run("dialog 101\nselect 1002 e\nclick 1\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) {
    h.ComboReset(1002);
    h.ComboAddString(1002, "E");
    h.ComboAddString(1002, "C");  // a sorted combo puts it first
    h.ComboSetSelection(1002, 0);
  };
  int picked = -2;
  std::string text;
  proc.onCommand = [&](DialogHost& h, int id, int n) {
    if (id == 1) {
      picked = h.ComboGetSelection(1002);
      text = h.GetItemText(1002, 255);
    }
    EndOnOkOrCancel(h, id, n);
  };
  EXPECT_EQ(run.Dialog(101, proc), 1);
  EXPECT_EQ(picked, 1);
  EXPECT_EQ(text, "E");
  EXPECT_TRUE(run.errors.details.empty());
  EXPECT_EQ(proc.commands.front(), std::make_pair(1002, kCbnSelChange));
}

TEST(UiSessionTest, TypingIntoTheComboLeavesNoItemSelected) {
  Scripted run("set 1002 D\nkey enter\nkey escape\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) {
    h.ComboAddString(1002, "C");
    h.ComboSetSelection(1002, 0);
  };
  std::vector<int> selections;
  proc.onCommand = [&](DialogHost& h, int id, int n) {
    if (id == 1) {
      selections.push_back(h.ComboGetSelection(1002));
      return;  // OK without a selection keeps the dialog open
    }
    EndOnOkOrCancel(h, id, n);
  };
  EXPECT_EQ(run.Dialog(101, proc), 2);
  EXPECT_EQ(selections, std::vector<int>{-1});
  EXPECT_EQ(proc.Clicks(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(run.errors.details.empty());
}

TEST(UiSessionTest, RadioButtonsOfAGroupAndTheEditField) {
  Scripted run("dialog 107\nclick 1004\nset 1021 D:\\Vechi dir\nclick 2\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) {
    h.CheckRadioButton(1004, 1005, 1005);
    h.SetItemText(1021, "C:\\Palunor");
  };
  bool checked35 = false, checked36 = true;
  std::string dir;
  proc.onCommand = [&](DialogHost& h, int id, int n) {
    if (id == 1004) {
      checked35 = h.IsButtonChecked(1004);
      checked36 = h.IsButtonChecked(1005);
    }
    if (id == 2) dir = h.GetItemText(1021, 255);
    EndOnOkOrCancel(h, id, n);
  };
  EXPECT_EQ(run.Dialog(107, proc), 2);
  EXPECT_TRUE(checked35);
  EXPECT_FALSE(checked36);
  EXPECT_EQ(dir, "D:\\Vechi dir");
  EXPECT_EQ(proc.commands[1], std::make_pair(1021, kEnChange));
  EXPECT_TRUE(run.errors.details.empty());
}

TEST(UiSessionTest, CheckBoxTogglesAndDisabledControlsIgnoreTheUser) {
  Scripted run("click 1009\nclick 1009\nclick 1009\nclick 1008\nclick 1007\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) { h.EnableItem(1008, false); };
  bool checkedAtEnd = false;
  proc.onCommand = [&](DialogHost& h, int id, int) {
    if (id == 1007) {
      checkedAtEnd = h.IsButtonChecked(1009);
      h.EndDialog(1);
    }
  };
  EXPECT_EQ(run.Dialog(102, proc), 1);
  EXPECT_TRUE(checkedAtEnd);
  EXPECT_EQ(proc.Clicks(), (std::vector<int>{1009, 1009, 1009, 1007}));
  EXPECT_TRUE(run.errors.details.empty());
}

TEST(UiSessionTest, EnterDoesNothingWhileOkIsDisabled) {
  Scripted run("key enter\nclick 2\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) { h.EnableItem(1, false); };
  proc.onCommand = EndOnOkOrCancel;
  EXPECT_EQ(run.Dialog(107, proc), 2);
  EXPECT_EQ(proc.Clicks(), std::vector<int>{2});
}

TEST(UiSessionTest, OkOnlyMessagesTakeNoLineAndQuestionsTakeTheirAnswer) {
  Scripted run("answer yes\nanswer no\n");
  EXPECT_EQ(run.session.MessageBox("Gata", "Eroare", 0x41030), kIdOk);
  EXPECT_EQ(run.session.MessageBox("Preluati?", "Instalare", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(run.session.MessageBox("Sigur?", "Instalare", kMbYesNo), kIdNo);
  EXPECT_TRUE(run.errors.details.empty());
  // Used up: the next question is answered No with an error.
  EXPECT_EQ(run.session.MessageBox("Iar?", "Instalare", kMbYesNo), kIdNo);
  EXPECT_EQ(run.errors.details.size(), 1u);
}

TEST(UiSessionTest, NestedDialogAndQuestionShareTheScript) {
  Scripted run("dialog 107\nclick 1\ndialog 102\nclick 1009\nclick 1008\nanswer yes\n");
  Recorder inner;
  inner.onCommand = [](DialogHost& h, int id, int) {
    if (id == 1008) h.EndDialog(1);
  };
  Recorder outer;
  intptr_t innerResult = 0;
  int answer = 0;
  outer.onCommand = [&](DialogHost& h, int id, int) {
    if (id != 1) return;
    innerResult = run.Dialog(102, inner);
    answer = run.session.MessageBox("Mai departe?", "Instalare", kMbYesNo);
    h.EndDialog(1);
  };
  EXPECT_EQ(run.Dialog(107, outer), 1);
  EXPECT_EQ(innerResult, 1);
  EXPECT_EQ(answer, kIdYes);
  EXPECT_TRUE(run.errors.details.empty());
}

// Every way a script can fail to fit: a script error, the dialog gets command 2, and
// it ends with 0 when command 2 does not close it.
TEST(UiSessionTest, ScriptErrorsCloseTheDialog) {
  struct Case {
    const char* script;
    bool lineLeft;  // whether the offending line is left for what comes next
  };
  const Case cases[] = {
      {"", false},                      // actions used up
      {"dialog 101\nclick 1\n", true},  // another dialog's header
      {"answer yes\n", true},           // an answer while a dialog is open
      {"click 4242\n", false},          // no such control
      {"click 1010\n", false},          // not a button
      {"set 1007 x\n", false},          // not an edit field
      {"select 1009 x\n", false},       // not a combo box
      {"fly away\n", false},            // unreadable
  };
  for (const Case& c : cases) {
    Scripted run(c.script);
    Recorder proc;  // dialog 102 ignores command 2
    EXPECT_EQ(run.Dialog(102, proc), 0) << c.script;
    EXPECT_EQ(proc.Clicks(), std::vector<int>{2}) << c.script;
    EXPECT_EQ(run.errors.details.size(), 1u) << c.script;
    if (c.lineLeft) {
      // The line is still there for what comes next.
      Recorder next;
      next.onCommand = EndOnOkOrCancel;
      const intptr_t r = std::string_view(c.script).rfind("answer", 0) == 0
                             ? run.session.MessageBox("q", "t", kMbYesNo)
                             : run.Dialog(101, next);
      EXPECT_EQ(r, std::string_view(c.script).rfind("answer", 0) == 0 ? kIdYes : 1) << c.script;
      EXPECT_EQ(run.errors.details.size(), 1u) << c.script;
    }
  }

  // A dialog that closes on command 2 keeps that result.
  Scripted run("click 77\n");
  Recorder proc;
  proc.onCommand = EndOnOkOrCancel;
  EXPECT_EQ(run.Dialog(101, proc), 2);
  ASSERT_EQ(run.errors.details.size(), 1u);
  EXPECT_NE(run.errors.details[0].find("line 1"), std::string::npos);
}

TEST(UiSessionTest, AMissingListItemIsAScriptError) {
  Scripted run("select 1002 Q\n");
  Recorder proc;
  proc.onInit = [](DialogHost& h) { h.ComboAddString(1002, "C"); };
  proc.onCommand = EndOnOkOrCancel;
  EXPECT_EQ(run.Dialog(101, proc), 2);
  EXPECT_EQ(run.errors.details.size(), 1u);
}

TEST(UiSessionTest, QuestionMismatchAnswersNoAndLeavesTheLine) {
  Scripted run("dialog 101\nclick 2\n");
  EXPECT_EQ(run.session.MessageBox("Preluati?", "Instalare", kMbYesNo), kIdNo);
  EXPECT_EQ(run.errors.details.size(), 1u);
  Recorder proc;
  proc.onCommand = EndOnOkOrCancel;
  EXPECT_EQ(run.Dialog(101, proc), 2);
  EXPECT_EQ(run.errors.details.size(), 1u);
}

TEST(UiSessionTest, UnknownDialogCannotBeCreated) {
  Scripted run("");
  Recorder proc;
  uint32_t lastError = 0;
  EXPECT_EQ(run.session.DialogBox(555, proc, lastError), -1);
  EXPECT_EQ(lastError, kErrorResourceNotFound);
  EXPECT_TRUE(proc.commands.empty());
}

TEST(UiSessionTest, TerminalDrawsAsksAgainAndStopsAtTheEndOfInput) {
  std::istringstream in("click 99\nanswer yes\nclick 1004\n");
  std::ostringstream screen;
  Errors errors;
  UiSession session(TypedActions(in), &errors, &screen);
  Recorder proc;
  proc.onInit = [](DialogHost& h) {
    h.CheckRadioButton(1004, 1005, 1005);
    h.SetItemText(1021, "C:\\Palunor");
    h.EnableItem(1021, false);
  };
  uint32_t lastError = 0;
  EXPECT_EQ(session.DialogBox(107, proc, lastError), 0);
  // The two wrong lines were explained, not counted as errors; the end of the input was.
  EXPECT_EQ(proc.Clicks(), (std::vector<int>{1004, 2}));
  EXPECT_EQ(errors.details.size(), 1u);
  const std::string shown = screen.str();
  EXPECT_NE(shown.find("Instalare Varmex 37 ERP - Preluare date din versiunea precedenta"),
            std::string::npos);
  EXPECT_NE(shown.find("[1005] (o) Preluare din Varmex 36"), std::string::npos);
  EXPECT_NE(shown.find("[1004] (o) Preluare din Varmex 35"), std::string::npos);
  EXPECT_NE(shown.find("[1021] edit: \"C:\\Palunor\"  (disabled)"), std::string::npos);
  EXPECT_NE(shown.find("<OK> (default)"), std::string::npos);
  EXPECT_NE(shown.find("no control 99"), std::string::npos);

  // A question at the end of the input is answered No.
  EXPECT_EQ(session.MessageBox("Linia 1\nLinia 2", "Instalare", kMbYesNo), kIdNo);
  EXPECT_NE(screen.str().find("| Linia 2\n+-- [Yes] [No]"), std::string::npos);
}

// Typed input past its bounds is refused once, nothing more is read from it, and the
// dialog is closed as at the end of the input; input within the bounds is taken.
TEST(UiSessionTest, TypedInputPastItsBoundsIsRefusedOnce) {
  const std::string atLimit = "set 1021 " + std::string(4096 - 9, 'x') + "\n";
  std::string tooMuch;
  while (tooMuch.size() <= 1024 * 1024) tooMuch += "# a comment line that does nothing\n";
  struct Case {
    std::string input;
    std::string refusal;  // empty: taken
  } cases[] = {
      {atLimit + "click 2\n", ""},
      {"click 1004\nset 1021 " + std::string(4096, 'x') + "\nclick 2\n",
       "input refused: line 2 is longer than 4096 bytes; nothing more is read"},
      {tooMuch + "click 2\n", "input refused: more than 1048576 bytes; nothing more is read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    std::istringstream in(c.input);
    std::ostringstream screen;
    Errors errors;
    auto owned = std::make_unique<UiSession>(TypedActions(in), &errors, &screen);
    UiSession& session = *owned;
    FakePlatform fake;
    SessionPlatform platform(fake, std::move(owned));
    Recorder proc;
    proc.onCommand = EndOnOkOrCancel;
    EXPECT_EQ(platform.DialogBox(107, proc), 2);
    // A run that would end with 0 ends with 1 once its input was refused.
    EXPECT_EQ(platform.NoteProgramEnd(0), c.refusal.empty() ? 0 : 1);
    EXPECT_EQ(platform.NoteProgramEnd(3), 3);
    EXPECT_EQ(errors.refusals, c.refusal.empty() ? 0 : 1);
    if (c.refusal.empty()) {
      EXPECT_TRUE(errors.details.empty());
      continue;
    }
    ASSERT_EQ(errors.details.size(), 2u);
    EXPECT_EQ(errors.details[0], c.refusal);
    EXPECT_EQ(errors.details[1], "dialog 107 is still open and there are no more actions");
    EXPECT_NE(screen.str().find("! " + c.refusal + "\n"), std::string::npos);
    // Nothing more is read, and a question now finds no answer without a second refusal.
    EXPECT_EQ(session.MessageBox("q", "t", kMbYesNo), kIdNo);
    EXPECT_EQ(errors.details.size(), 3u);
  }
}

// No control character reaches the terminal: a rejected line, a text typed into a
// field and a message show them escaped; the transcript's events keep them as they are.
TEST(UiSessionTest, TheTerminalShowsControlCharactersEscaped) {
  std::istringstream in("set 1021 \x1b]0;x\x07\nclick \x1b[2J\x9b\nclick 2\n");
  std::ostringstream screen;
  Errors errors;
  UiSession session(TypedActions(in), &errors, &screen);
  Recorder proc;
  proc.onCommand = EndOnOkOrCancel;
  uint32_t lastError = 0;
  EXPECT_EQ(session.DialogBox(107, proc, lastError), 2);
  session.MessageBox(
      "Linia \xc2\x9b"
      "1\nLinia \x07",
      "T\x1b", kMbOk);
  const std::string shown = screen.str();
  EXPECT_NE(shown.find("[1021] edit: \"^[]0;x^G\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("(click ^[[2J\\x9B): click needs one number"), std::string::npos) << shown;
  EXPECT_NE(shown.find("+-- T^[ --\n| Linia \\u009B1\n| Linia ^G\n"), std::string::npos) << shown;
  for (const char c : shown) {
    const auto b = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (b >= 0x20 && b != 0x7F && (b < 0x80 || b > 0x9F))) << int(b);
  }
  EXPECT_TRUE(errors.details.empty());
}

}  // namespace
}  // namespace varmex::platform

namespace varmex::platform {
namespace {

// Any script, however wrong, ends every dialog and question: random lines from the
// action language (and some noise) against nested dialogs and questions.
TEST(UiSessionTest, RandomScriptsAlwaysComeToAnEnd) {
  const char* const kLines[] = {"dialog 101",     "dialog 102", "dialog 107", "dialog 7",
                                "click 1",        "click 2",    "click 1004", "click 1005",
                                "click 1007",     "click 1008", "click 1009", "click -1",
                                "set 1021 x",     "set 1021",   "set 1002 D", "select 1002 C",
                                "select 1002 Z",  "key enter",  "key escape", "answer yes",
                                "answer no",      "# note",     "",           "set",
                                "click 99999999", "select",     "key",        "bogus line"};
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 300; ++round) {
    std::string script;
    const uint32_t count = next(12);
    for (uint32_t i = 0; i < count; ++i) {
      script += kLines[next(sizeof kLines / sizeof kLines[0])];
      script += '\n';
    }
    Errors errors;
    UiSession session(ScriptActions(script), &errors, nullptr);
    uint32_t lastError = 0;
    int innerRuns = 0;
    Recorder inner;  // dialog 102: only its two buttons end it
    inner.onCommand = [](DialogHost& h, int id, int) {
      if (id == 1007 || id == 1008) h.EndDialog(1);
    };
    Recorder outer;  // dialog 107: OK runs dialog 102 twice and asks a question
    outer.onCommand = [&](DialogHost& h, int id, int) {
      if (id == 2) h.EndDialog(2);
      if (id != 1) return;
      for (int k = 0; k < 2; ++k, ++innerRuns) session.DialogBox(102, inner, lastError);
      session.MessageBox("q", "t", kMbYesNo);
      h.EndDialog(1);
    };
    Recorder partition;
    partition.onCommand = EndOnOkOrCancel;
    const intptr_t r1 = session.DialogBox(101, partition, lastError);
    const intptr_t r2 = session.DialogBox(107, outer, lastError);
    EXPECT_TRUE(r1 == 0 || r1 == 1 || r1 == 2) << script;
    EXPECT_TRUE(r2 == 0 || r2 == 1 || r2 == 2) << script;
    EXPECT_TRUE(innerRuns == 0 || innerRuns == 2);
  }
}

}  // namespace
}  // namespace varmex::platform
