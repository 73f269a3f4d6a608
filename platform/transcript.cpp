#include "platform/transcript.h"

#include "platform/terminal_text.h"

namespace varmex::platform {
namespace {

std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

const char* AnswerName(int answer) {
  switch (answer) {
    case kIdYes:
      return "yes";
    case kIdNo:
      return "no";
    default:
      return "ok";
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      default:
        break;
    }
    // Control characters, and bytes that are not part of a UTF-8 sequence, are
    // written as \u00XX so that every line stays valid JSON.
    size_t sequence = 0;
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (c >= 0x80 && (sequence = Utf8SequenceAt(text, i)) != 0) {
      out.append(text.substr(i, sequence));
      i += sequence - 1;
    } else {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  out += '"';
  return out;
}

Transcript::Transcript(std::FILE* out) : out_(out), owned_(false) {}

Transcript::Transcript(const std::string& path)
    : out_(std::fopen(path.c_str(), "wb")), owned_(true), path_(path) {}

Transcript::~Transcript() {
  if (owned_ && out_ != nullptr) std::fclose(out_);
}

void Transcript::Line(const std::string& json) {
  if (out_ == nullptr || failed_) return;
  const bool written = std::fputs(json.c_str(), out_) != EOF && std::fputc('\n', out_) != EOF &&
                       std::fflush(out_) == 0;
  if (!written) {
    failed_ = true;
    std::fprintf(stderr, "varmex: cannot write the transcript%s%s completely\n",
                 path_.empty() ? "" : " ", path_.c_str());
  }
}

void Transcript::Dialog(int id) {
  Line("{\"event\":\"dialog\",\"id\":" + std::to_string(id) + "}");
}

void Transcript::DialogEnd(int id, intptr_t result) {
  Line("{\"event\":\"dialog-end\",\"id\":" + std::to_string(id) +
       ",\"result\":" + std::to_string(static_cast<long long>(result)) + "}");
}

void Transcript::SetText(int dialog, int control, std::string_view text) {
  Line("{\"event\":\"set-text\",\"dialog\":" + std::to_string(dialog) +
       ",\"control\":" + std::to_string(control) + ",\"text\":" + JsonString(UpToNul(text)) + "}");
}

void Transcript::Enable(int dialog, int control, bool enabled) {
  Line("{\"event\":\"enable\",\"dialog\":" + std::to_string(dialog) + ",\"control\":" +
       std::to_string(control) + ",\"enabled\":" + (enabled ? "true" : "false") + "}");
}

void Transcript::Message(std::string_view title, std::string_view text, uint32_t style,
                         int answer) {
  Line("{\"event\":\"message\",\"title\":" + JsonString(UpToNul(title)) +
       ",\"text\":" + JsonString(UpToNul(text)) + ",\"style\":" + std::to_string(style) +
       ",\"answer\":\"" + AnswerName(answer) + "\"}");
}

void Transcript::Run(std::string_view command, int32_t result, std::optional<int64_t> exitCode) {
  std::string line = "{\"event\":\"run\",\"command\":" + JsonString(UpToNul(command)) +
                     ",\"result\":" + std::to_string(result);
  if (exitCode) line += ",\"exit\":" + std::to_string(*exitCode);
  Line(line + "}");
}

void Transcript::ScriptError(std::string_view detail) {
  Line("{\"event\":\"script-error\",\"detail\":" + JsonString(detail) + "}");
}

void Transcript::Exit(int status) {
  Line("{\"event\":\"exit\",\"status\":" + std::to_string(status) + "}");
}

namespace {

// The dialog host as the procedure sees it: every text set and every enable change
// goes to the transcript before it reaches the real host.
class RecordingHost : public DialogHost {
 public:
  RecordingHost(DialogHost& inner, Transcript& t, int dialog)
      : inner_(inner), t_(t), dialog_(dialog) {}
  void SetItemText(int id, std::string_view text) override {
    t_.SetText(dialog_, id, text);
    inner_.SetItemText(id, text);
  }
  std::string GetItemText(int id, size_t maxChars) override {
    return inner_.GetItemText(id, maxChars);
  }
  void EnableItem(int id, bool enabled) override {
    t_.Enable(dialog_, id, enabled);
    inner_.EnableItem(id, enabled);
  }
  void CheckRadioButton(int firstId, int lastId, int checkId) override {
    inner_.CheckRadioButton(firstId, lastId, checkId);
  }
  bool IsButtonChecked(int id) override { return inner_.IsButtonChecked(id); }
  void ComboReset(int id) override { inner_.ComboReset(id); }
  void ComboAddString(int id, std::string_view text) override { inner_.ComboAddString(id, text); }
  void ComboSetSelection(int id, int index) override { inner_.ComboSetSelection(id, index); }
  int ComboGetSelection(int id) override { return inner_.ComboGetSelection(id); }
  void EndDialog(intptr_t result) override { inner_.EndDialog(result); }

 private:
  DialogHost& inner_;
  Transcript& t_;
  int dialog_;
};

class RecordingProcedure : public DialogProcedure {
 public:
  RecordingProcedure(DialogProcedure& inner, Transcript& t, int dialog)
      : inner_(inner), t_(t), dialog_(dialog) {}
  bool OnInit(DialogHost& host) override {
    if (!opened_) {
      opened_ = true;
      t_.Dialog(dialog_);
    }
    RecordingHost recording(host, t_, dialog_);
    return inner_.OnInit(recording);
  }
  bool OnCommand(DialogHost& host, int id, int notification) override {
    RecordingHost recording(host, t_, dialog_);
    return inner_.OnCommand(recording, id, notification);
  }
  bool opened() const { return opened_; }

 private:
  DialogProcedure& inner_;
  Transcript& t_;
  int dialog_;
  bool opened_ = false;
};

}  // namespace

TranscriptPlatform::TranscriptPlatform(Platform& inner, Transcript& transcript)
    : ForwardingPlatform(inner), transcript_(transcript) {}

int TranscriptPlatform::MessageBox(std::string_view text, std::string_view caption,
                                   uint32_t style) {
  const int answer = inner().MessageBox(text, caption, style);
  transcript_.Message(caption, text, style, answer);
  return answer;
}

intptr_t TranscriptPlatform::DialogBox(int resourceId, DialogProcedure& proc) {
  RecordingProcedure recording(proc, transcript_, resourceId);
  const intptr_t result = inner().DialogBox(resourceId, recording);
  if (recording.opened()) transcript_.DialogEnd(resourceId, result);
  return result;
}

ProcessResult TranscriptPlatform::RunProcess(std::string_view commandLine, bool wantExitCode) {
  const ProcessResult r = inner().RunProcess(commandLine, wantExitCode);
  std::optional<int64_t> exitCode;
  if (wantExitCode && r.startError == 0)
    exitCode = r.exitCode ? static_cast<int32_t>(*r.exitCode) : -1;
  transcript_.Run(commandLine, static_cast<int32_t>(r.startError), exitCode);
  return r;
}

int TranscriptPlatform::EndStatus(int status) const {
  return status == 0 && (!transcript_.complete() || transcript_.inputRefused()) ? 1 : status;
}

void TranscriptPlatform::ExitProcess(int status) {
  transcript_.Exit(EndStatus(status));
  ForwardingPlatform::ExitProcess(EndStatus(status));
}

void TranscriptPlatform::NoteRefusedRun(std::string_view commandLine, bool wantExitCode,
                                        int32_t result) {
  transcript_.Run(commandLine, result, std::nullopt);
  ForwardingPlatform::NoteRefusedRun(commandLine, wantExitCode, result);
}

int TranscriptPlatform::NoteProgramEnd(int status) {
  transcript_.Exit(EndStatus(status));
  return ForwardingPlatform::NoteProgramEnd(EndStatus(status));
}

}  // namespace varmex::platform
