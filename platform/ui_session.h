// Dialogs and message boxes answered by a user's actions instead of a window system:
// from a script (VARMEX_UI_SCRIPT) or typed on a terminal. Both speak one language,
// one action a line:
//
//   dialog N          the following actions are for the next dialog, which must be N
//   click ID          click a push button, radio button or check box
//   set ID TEXT       type TEXT into an edit field or a combo box's edit field
//   select ID TEXT    pick list item TEXT of a combo box
//   key enter         the Enter key (command 1); key escape: Esc (command 2)
//   answer yes|no     the answer to the next question (a Yes/No message box)
//
// Blank lines and lines starting with '#' are skipped; leading blanks are ignored;
// TEXT is everything after the blank that follows ID, up to the end of the line.
// Message boxes with only an OK button take no line.
//
// When a script line does not fit what appears, the session reports a script error
// and acts as a user closing the window: a question is answered No; an open dialog
// gets command 2 and, when it is still open after that, ends with result 0. A line of
// the wrong kind (an answer while a dialog is open, another dialog's header) is left
// for what comes next; a line that is wrong for the open dialog (no such control, no
// such list item) or cannot be read at all is used up. On a terminal a line that does
// not fit is explained and the user is asked again; the end of the input counts as
// the script running out.
//
// Typed input is read within the bounds of kActionLimits (bounded_input.h): a line
// too long, or too much input, is refused once (a script error), nothing more is read,
// and the input counts as ended; a run that would have ended with 0 then ends with 1.
// Whatever the session draws on the terminal shows control characters as
// terminal_text.h shows them, never sends them.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forwarding_platform.h"
#include "platform/platform.h"

namespace varmex::platform {

class SimulatedDialog;

// Where a session reports lines that did not fit (the transcript).
class UiEvents {
 public:
  virtual ~UiEvents() = default;
  virtual void ScriptError(std::string_view detail) = 0;
  // The actions' input was refused (reported just before as a script error): the run
  // ends with 1 where it would have ended with 0.
  virtual void InputRefused() {}
};

struct UiAction {
  enum class Verb {
    kDialog,
    kClick,
    kSet,
    kSelect,
    kKeyEnter,
    kKeyEscape,
    kAnswerYes,
    kAnswerNo,
    kUnreadable
  };
  Verb verb = Verb::kUnreadable;
  int number = 0;    // dialog or control id
  std::string text;  // TEXT of set and select; for kUnreadable, why
  int line = 0;      // line number in its source, from 1
  std::string source;
};

// Reads one line; nullopt for a blank line or a comment.
std::optional<UiAction> ParseActionLine(std::string_view line, int lineNumber);

class ActionSource {
 public:
  virtual ~ActionSource() = default;
  // The next unused action, or null when there are no more.
  virtual const UiAction* Peek() = 0;
  virtual void Consume() = 0;
  // Whether Peek would have to wait for the user to type a line.
  virtual bool NeedsInput() const { return false; }
  virtual bool Interactive() const { return false; }
  // Why the source stopped reading before its end (its input was refused), once;
  // empty otherwise.
  virtual std::string TakeProblem() { return std::string(); }
};

// All actions of a script text, known in advance.
std::unique_ptr<ActionSource> ScriptActions(std::string_view scriptText);
// Actions typed line by line on `in`, read within kActionLimits.
std::unique_ptr<ActionSource> TypedActions(std::istream& in);

class UiSession {
 public:
  // `events` may be null. `screen` receives the drawings of dialogs and message
  // boxes (a terminal), or is null (a script).
  UiSession(std::unique_ptr<ActionSource> actions, UiEvents* events, std::ostream* screen);
  ~UiSession();

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style);
  // -1 with `lastError` set when there is no description of dialog `resourceId`.
  intptr_t DialogBox(int resourceId, DialogProcedure& proc, uint32_t& lastError);

  // Whether the actions' input was refused (too long a line, too much input).
  bool inputRefused() const { return inputRefused_; }

 private:
  // The next action, after reporting once why the source stopped, if it did.
  const UiAction* Next();
  void Report(const std::string& detail);
  void Complain(const std::string& detail);
  void Draw(const SimulatedDialog& dialog);
  void CloseByForce(SimulatedDialog& dialog, DialogProcedure& proc);
  void RunScripted(SimulatedDialog& dialog, DialogProcedure& proc, const std::string& name);
  void RunTyped(SimulatedDialog& dialog, DialogProcedure& proc, const std::string& name);

  std::unique_ptr<ActionSource> actions_;
  UiEvents* events_;
  std::ostream* screen_;
  bool inputRefused_ = false;
};

// A decorator whose message boxes and dialogs are answered by a session; everything
// else goes to the platform it wraps. When the session refused its input, a program
// that would end with status 0 ends with 1.
class SessionPlatform : public ForwardingPlatform {
 public:
  SessionPlatform(Platform& inner, std::unique_ptr<UiSession> session);

  int MessageBox(std::string_view text, std::string_view caption, uint32_t style) override;
  intptr_t DialogBox(int resourceId, DialogProcedure& proc) override;
  uint32_t LastError() override { return lastError_; }
  [[noreturn]] void ExitProcess(int status) override;
  int NoteProgramEnd(int status) override;

 private:
  int EndStatus(int status) const;
  std::unique_ptr<UiSession> session_;
  uint32_t lastError_ = 0;
};

}  // namespace varmex::platform
