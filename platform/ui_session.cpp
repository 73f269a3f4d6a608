#include "platform/ui_session.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <utility>

#include "platform/bounded_input.h"
#include "platform/simulated_dialog.h"
#include "platform/terminal_text.h"
#include "resources/dialogs.h"

namespace varmex::platform {
namespace {

using Verb = UiAction::Verb;
using resources::ControlKind;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Splits off the next word (up to a blank); `rest` keeps what follows that blank.
std::string_view NextWord(std::string_view& rest) {
  const size_t blank = rest.find_first_of(" \t");
  const std::string_view word = rest.substr(0, blank);
  rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  return word;
}

std::optional<int> Number(std::string_view word) {
  if (word.empty() || word.size() > 9) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (word[0] == '-') {
    negative = true;
    i = 1;
    if (word.size() == 1) return std::nullopt;
  }
  int value = 0;
  for (; i < word.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(word[i]))) return std::nullopt;
    value = value * 10 + (word[i] - '0');
  }
  return negative ? -value : value;
}

bool OnlyBlanks(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

class ScriptSource : public ActionSource {
 public:
  explicit ScriptSource(std::string_view text) {
    int lineNumber = 0;
    while (!text.empty()) {
      const size_t nl = text.find('\n');
      const std::string_view line = text.substr(0, nl);
      text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
      ++lineNumber;
      if (std::optional<UiAction> a = ParseActionLine(line, lineNumber))
        actions_.push_back(std::move(*a));
    }
  }
  const UiAction* Peek() override { return next_ < actions_.size() ? &actions_[next_] : nullptr; }
  void Consume() override {
    if (next_ < actions_.size()) ++next_;
  }

 private:
  std::vector<UiAction> actions_;
  size_t next_ = 0;
};

class TypedSource : public ActionSource {
 public:
  explicit TypedSource(std::istream& in) : in_(in) {}
  const UiAction* Peek() override {
    while (!pending_ && !ended_) {
      std::string line;
      const LineRead read = ReadBoundedLine(in_, kActionLimits.maxLine, budget_, line);
      if (read != LineRead::kLine) {
        ended_ = true;
        if (read == LineRead::kLongLine) {
          problem_ = "line " + std::to_string(lineNumber_ + 1) + " is longer than " +
                     std::to_string(kActionLimits.maxLine) + " bytes";
        } else if (read == LineRead::kTooMuch) {
          problem_ = "more than " + std::to_string(kActionLimits.maxBytes) + " bytes";
        }
        if (!problem_.empty()) problem_ = "input refused: " + problem_ + "; nothing more is read";
        break;
      }
      pending_ = ParseActionLine(line, ++lineNumber_);
    }
    return pending_ ? &*pending_ : nullptr;
  }
  void Consume() override { pending_.reset(); }
  bool NeedsInput() const override { return !pending_ && !ended_; }
  bool Interactive() const override { return true; }
  std::string TakeProblem() override { return std::exchange(problem_, std::string()); }

 private:
  std::istream& in_;
  std::optional<UiAction> pending_;
  bool ended_ = false;
  int lineNumber_ = 0;
  size_t budget_ = kActionLimits.maxBytes;
  std::string problem_;
};

std::string Quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

std::string Where(const UiAction& a) {
  return "line " + std::to_string(a.line) + " (" + a.source + ")";
}

bool IsQuestion(uint32_t style) {
  const uint32_t buttons = style & 0xF;
  return buttons == 3 /* Yes, No, Cancel */ || buttons == kMbYesNo;
}

}  // namespace

std::optional<UiAction> ParseActionLine(std::string_view line, int lineNumber) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  line.remove_prefix(start);
  if (line[0] == '#') return std::nullopt;

  UiAction a;
  a.line = lineNumber;
  a.source = std::string(line);
  std::string_view rest = line;
  const std::string verb = Lower(NextWord(rest));
  auto unreadable = [&](std::string why) {
    a.verb = Verb::kUnreadable;
    a.text = std::move(why);
    return a;
  };

  if (verb == "dialog" || verb == "click") {
    const std::string_view word = NextWord(rest);
    const std::optional<int> n = Number(word);
    if (!n || !OnlyBlanks(rest)) return unreadable(verb + " needs one number");
    a.verb = verb == "dialog" ? Verb::kDialog : Verb::kClick;
    a.number = *n;
    return a;
  }
  if (verb == "set" || verb == "select") {
    const std::optional<int> n = Number(NextWord(rest));
    if (!n) return unreadable(verb + " needs a control number");
    a.verb = verb == "set" ? Verb::kSet : Verb::kSelect;
    a.number = *n;
    a.text = std::string(rest);
    return a;
  }
  if (verb == "key" || verb == "answer") {
    const std::string word = Lower(NextWord(rest));
    if (!OnlyBlanks(rest)) return unreadable(verb + " takes one word");
    if (verb == "key" && word == "enter")
      a.verb = Verb::kKeyEnter;
    else if (verb == "key" && word == "escape")
      a.verb = Verb::kKeyEscape;
    else if (verb == "answer" && word == "yes")
      a.verb = Verb::kAnswerYes;
    else if (verb == "answer" && word == "no")
      a.verb = Verb::kAnswerNo;
    else
      return unreadable(verb == "key" ? "key is enter or escape" : "answer is yes or no");
    return a;
  }
  return unreadable("unknown action");
}

std::unique_ptr<ActionSource> ScriptActions(std::string_view scriptText) {
  return std::make_unique<ScriptSource>(scriptText);
}

std::unique_ptr<ActionSource> TypedActions(std::istream& in) {
  return std::make_unique<TypedSource>(in);
}

UiSession::UiSession(std::unique_ptr<ActionSource> actions, UiEvents* events, std::ostream* screen)
    : actions_(std::move(actions)), events_(events), screen_(screen) {}

UiSession::~UiSession() = default;

const UiAction* UiSession::Next() {
  const UiAction* a = actions_->Peek();
  if (a == nullptr) {
    if (std::string problem = actions_->TakeProblem(); !problem.empty()) {
      inputRefused_ = true;
      Report(problem);
      if (events_ != nullptr) events_->InputRefused();
    }
  }
  return a;
}

void UiSession::Report(const std::string& detail) {
  if (events_ != nullptr) events_->ScriptError(detail);
  Complain(detail);
}

void UiSession::Complain(const std::string& detail) {
  if (screen_ != nullptr) *screen_ << "! " << TerminalText(detail) << "\n" << std::flush;
}

int UiSession::MessageBox(std::string_view text, std::string_view caption, uint32_t style) {
  const bool question = IsQuestion(style);
  if (screen_ != nullptr) {
    std::ostream& out = *screen_;
    out << "\n+-- " << TerminalText(caption) << " --\n";
    std::string_view rest = text;
    while (true) {
      const size_t nl = rest.find('\n');
      out << "| " << TerminalText(rest.substr(0, nl)) << "\n";
      if (nl == std::string_view::npos) break;
      rest.remove_prefix(nl + 1);
    }
    out << (question ? "+-- [Yes] [No]   (answer yes / answer no)\n" : "+-- [OK]\n") << std::flush;
  }
  if (!question) return kIdOk;

  while (true) {
    if (screen_ != nullptr && actions_->NeedsInput()) *screen_ << "> " << std::flush;
    const UiAction* a = Next();
    if (a == nullptr) {
      Report("no answer to the question " + Quoted(caption) + ": no more actions; answered no");
      return kIdNo;
    }
    if (a->verb == Verb::kAnswerYes || a->verb == Verb::kAnswerNo) {
      const int answer = a->verb == Verb::kAnswerYes ? kIdYes : kIdNo;
      actions_->Consume();
      return answer;
    }
    if (actions_->Interactive()) {
      Complain(Where(*a) + ": a question is open: type answer yes or answer no");
      actions_->Consume();
      continue;
    }
    const std::string detail = Where(*a) + (a->verb == Verb::kUnreadable ? ": " + a->text : "") +
                               ": does not answer the question " + Quoted(caption) +
                               "; answered no";
    if (a->verb == Verb::kUnreadable) actions_->Consume();
    Report(detail);
    return kIdNo;
  }
}

void UiSession::CloseByForce(SimulatedDialog& dialog, DialogProcedure& proc) {
  proc.OnCommand(dialog, kIdCancel, kBnClicked);
  if (!dialog.ended()) dialog.EndDialog(0);
}

namespace {

// What one action does to the open dialog: the command it sends, or why it does not
// fit. A line meant for something else (another dialog, a question) is not used up by
// a script: it is left for what comes next.
struct Fit {
  SimulatedDialog::Outcome outcome;
  bool useUp = true;
};

Fit Apply(SimulatedDialog& dialog, const UiAction& a, const std::string& name) {
  Fit fit;
  switch (a.verb) {
    case Verb::kDialog:
      fit.outcome.problem =
          "expects dialog " + std::to_string(a.number) + " but " + name + " is open";
      fit.useUp = false;
      break;
    case Verb::kAnswerYes:
    case Verb::kAnswerNo:
      fit.outcome.problem = "answers a question but " + name + " is open";
      fit.useUp = false;
      break;
    case Verb::kUnreadable:
      fit.outcome.problem = a.text;
      break;
    case Verb::kClick:
      fit.outcome = dialog.Click(a.number);
      break;
    case Verb::kSet:
      fit.outcome = dialog.Type(a.number, a.text);
      break;
    case Verb::kSelect:
      fit.outcome = dialog.Pick(a.number, a.text);
      break;
    case Verb::kKeyEnter:
      fit.outcome = dialog.Key(kIdOk);
      break;
    case Verb::kKeyEscape:
      fit.outcome = dialog.Key(kIdCancel);
      break;
  }
  return fit;
}

void Send(SimulatedDialog& dialog, DialogProcedure& proc, const SimulatedDialog::Outcome& o) {
  if (o.command) proc.OnCommand(dialog, o.command->id, o.command->notification);
}

}  // namespace

intptr_t UiSession::DialogBox(int resourceId, DialogProcedure& proc, uint32_t& lastError) {
  const resources::DialogDescription* description = resources::FindDialog(resourceId);
  if (description == nullptr) {
    lastError = kErrorResourceNotFound;
    return -1;
  }
  SimulatedDialog dialog(*description);
  proc.OnInit(dialog);
  const std::string name = "dialog " + std::to_string(resourceId);
  if (actions_->Interactive()) {
    RunTyped(dialog, proc, name);
  } else {
    RunScripted(dialog, proc, name);
  }
  if (screen_ != nullptr) *screen_ << "(" << name << " closed)\n" << std::flush;
  return dialog.result();
}

// Script rules: the dialog's header line is taken when it is there, then the actions
// in turn until the dialog ends. The first line that does not fit, or the end of the
// script, is reported and closes the dialog as a user closing the window would.
void UiSession::RunScripted(SimulatedDialog& dialog, DialogProcedure& proc,
                            const std::string& name) {
  const int resourceId = dialog.description().id;
  if (const UiAction* a = actions_->Peek();
      a != nullptr && a->verb == Verb::kDialog && a->number == resourceId) {
    actions_->Consume();
  }
  while (!dialog.ended()) {
    const UiAction* a = Next();
    if (a == nullptr) {
      Report(name + " is still open and there are no more actions");
      CloseByForce(dialog, proc);
      return;
    }
    const Fit fit = Apply(dialog, *a, name);
    if (!fit.outcome.problem.empty()) {
      std::string detail = Where(*a) + ": " + fit.outcome.problem;
      if (fit.useUp) actions_->Consume();
      detail.append("; ").append(name).append(" closed");
      Report(detail);
      CloseByForce(dialog, proc);
      return;
    }
    actions_->Consume();
    Send(dialog, proc, fit.outcome);
  }
}

// Terminal rules: the dialog is drawn before each line the user types; a header line
// for this dialog is taken silently, a line that does not fit is explained and the
// user is asked again. Only the end of the input closes the dialog by force.
void UiSession::RunTyped(SimulatedDialog& dialog, DialogProcedure& proc, const std::string& name) {
  const int resourceId = dialog.description().id;
  while (!dialog.ended()) {
    if (screen_ != nullptr && actions_->NeedsInput()) {
      Draw(dialog);
      *screen_ << "> " << std::flush;
    }
    const UiAction* a = Next();
    if (a == nullptr) {
      Report(name + " is still open and there are no more actions");
      CloseByForce(dialog, proc);
      return;
    }
    if (a->verb == Verb::kDialog && a->number == resourceId) {
      actions_->Consume();
      continue;
    }
    const Fit fit = Apply(dialog, *a, name);
    if (!fit.outcome.problem.empty()) {
      Complain(Where(*a) + ": " + fit.outcome.problem);
      actions_->Consume();
      continue;
    }
    actions_->Consume();
    Send(dialog, proc, fit.outcome);
  }
}

void UiSession::Draw(const SimulatedDialog& dialog) {
  std::ostream& out = *screen_;
  const resources::DialogDescription& d = dialog.description();
  out << "\n+== " << TerminalText(d.caption) << " (dialog " << d.id << ") ==\n";
  // Controls from top to bottom, left to right, as the eye reads the dialog.
  std::vector<const SimulatedDialog::Control*> order;
  for (const SimulatedDialog::Control& c : dialog.controls()) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(), [](const auto* a, const auto* b) {
    const auto& da = *a->description;
    const auto& db = *b->description;
    return da.y != db.y ? da.y < db.y : da.x < db.x;
  });
  for (const SimulatedDialog::Control* control : order) {
    const SimulatedDialog::Control& c = *control;
    const resources::ControlDescription& cd = *c.description;
    std::string id;
    if (cd.id != resources::kNoControlId) {
      id += '[';
      id += std::to_string(cd.id);
      id += "] ";
    }
    const char* disabled = c.enabled ? "" : "  (disabled)";
    const std::string text = TerminalText(c.text);
    switch (cd.kind) {
      case ControlKind::kStaticLeft:
      case ControlKind::kStaticCentered:
        if (!text.empty() || !id.empty()) out << "| " << id << text << disabled << "\n";
        break;
      case ControlKind::kGroupBox:
        if (!text.empty()) out << "| -- " << text << " --\n";
        break;
      case ControlKind::kEdit:
        out << "| " << id << "edit: " << Quoted(text) << disabled << "\n";
        break;
      case ControlKind::kComboBox: {
        out << "| " << id << "combo: " << Quoted(text) << "  list:";
        for (size_t i = 0; i < c.items.size(); ++i) {
          const bool selected = static_cast<int>(i) == c.selection;
          out << (selected ? " *" : " ") << TerminalText(c.items[i]);
        }
        out << disabled << "\n";
        break;
      }
      case ControlKind::kAutoRadioButton:
        out << "| " << id << (c.checked ? "(o) " : "( ) ") << text << disabled << "\n";
        break;
      case ControlKind::kAutoCheckBox:
        out << "| " << id << (c.checked ? "[x] " : "[ ] ") << text << disabled << "\n";
        break;
      case ControlKind::kDefPushButton:
        out << "| " << id << "<" << text << "> (default)" << disabled << "\n";
        break;
      case ControlKind::kPushButton:
        out << "| " << id << "<" << text << ">" << disabled << "\n";
        break;
    }
  }
  out << "+== click ID | set ID TEXT | select ID TEXT | key enter | key escape\n";
}

SessionPlatform::SessionPlatform(Platform& inner, std::unique_ptr<UiSession> session)
    : ForwardingPlatform(inner), session_(std::move(session)) {}

int SessionPlatform::EndStatus(int status) const {
  return status == 0 && session_->inputRefused() ? 1 : status;
}

void SessionPlatform::ExitProcess(int status) {
  ForwardingPlatform::ExitProcess(EndStatus(status));
}

int SessionPlatform::NoteProgramEnd(int status) {
  return ForwardingPlatform::NoteProgramEnd(EndStatus(status));
}

int SessionPlatform::MessageBox(std::string_view text, std::string_view caption, uint32_t style) {
  return session_->MessageBox(text, caption, style);
}
intptr_t SessionPlatform::DialogBox(int resourceId, DialogProcedure& proc) {
  return session_->DialogBox(resourceId, proc, lastError_);
}

}  // namespace varmex::platform
