#include "tools/transcript_view/transcript_event.h"

#include <cstdlib>

#include "platform/terminal_text.h"

namespace varmex::tools {
namespace {

void SkipBlanks(const std::string& s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
    ++i;
  }
}

bool ParseString(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') {
    return false;
  }
  ++i;
  out.clear();
  while (i < s.size() && s[i] != '"') {
    char c = s[i++];
    if (c == '\\') {
      if (i >= s.size()) {
        return false;
      }
      const char e = s[i++];
      switch (e) {
        case 'n':
          c = '\n';
          break;
        case 't':
          c = '\t';
          break;
        case 'r':
          c = '\r';
          break;
        case 'b':
          c = '\b';
          break;
        case 'f':
          c = '\f';
          break;
        case 'u': {
          if (i + 4 > s.size()) {
            return false;
          }
          const unsigned long code = std::strtoul(s.substr(i, 4).c_str(), nullptr, 16);
          i += 4;
          c = static_cast<char>(code & 0xff);  // the system's texts are single-byte
          break;
        }
        default:
          c = e;
      }
    }
    out.push_back(c);
  }
  if (i >= s.size()) {
    return false;
  }
  ++i;
  return true;
}

std::string Indented(const std::string& text, const std::string& indent) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    if (c == '\n') {
      out += indent;
    }
  }
  return out;
}

}  // namespace

std::string ShownText(const std::string& text, bool keepLineFeeds) {
  return platform::TerminalText(text, keepLineFeeds);
}

const std::string& TranscriptEvent::Get(const std::string& field) const {
  static const std::string none;
  auto it = fields.find(field);
  return it == fields.end() ? none : it->second;
}

std::optional<TranscriptEvent> ParseTranscriptLine(const std::string& line) {
  TranscriptEvent ev;
  ev.raw = line;
  size_t i = 0;
  SkipBlanks(line, i);
  if (i >= line.size() || line[i] != '{') {
    return std::nullopt;
  }
  ++i;
  for (;;) {
    SkipBlanks(line, i);
    if (i < line.size() && line[i] == '}') {
      return ev;
    }
    std::string key, value;
    if (!ParseString(line, i, key)) {
      return std::nullopt;
    }
    SkipBlanks(line, i);
    if (i >= line.size() || line[i] != ':') {
      return std::nullopt;
    }
    ++i;
    SkipBlanks(line, i);
    if (i < line.size() && line[i] == '"') {
      if (!ParseString(line, i, value)) {
        return std::nullopt;
      }
    } else {
      while (i < line.size() && line[i] != ',' && line[i] != '}') {
        value.push_back(line[i++]);
      }
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.pop_back();
      }
      if (value.empty()) {
        return std::nullopt;
      }
    }
    ev.fields[key] = value;
    SkipBlanks(line, i);
    if (i < line.size() && line[i] == ',') {
      ++i;
      continue;
    }
    if (i < line.size() && line[i] == '}') {
      return ev;
    }
    return std::nullopt;
  }
}

namespace {

// A field of the event as ShownText shows it, on one line.
std::string Shown(const TranscriptEvent& e, const std::string& field) {
  return ShownText(e.Get(field), false);
}

}  // namespace

std::string DescribeEvent(const TranscriptEvent& e) {
  const std::string& k = e.kind();
  if (k == "dialog") {
    return "== dialog " + Shown(e, "id") + " opens";
  }
  if (k == "dialog-end") {
    return "== dialog " + Shown(e, "id") + " closes with result " + Shown(e, "result");
  }
  if (k == "set-text") {
    return "   dialog " + Shown(e, "dialog") + ", control " + Shown(e, "control") + " shows \"" +
           Shown(e, "text") + "\"";
  }
  if (k == "enable") {
    return "   dialog " + Shown(e, "dialog") + ", control " + Shown(e, "control") +
           (e.Get("enabled") == "true" ? " enabled" : " disabled");
  }
  if (k == "message") {
    const std::string title = Shown(e, "title");
    const std::string indent(title.size() + 3, ' ');
    return "[" + title + "] " + Indented(ShownText(e.Get("text"), true), indent) + "\n" + indent +
           "-> " + Shown(e, "answer");
  }
  if (k == "run") {
    std::string out = "$ " + Shown(e, "command");
    if (e.Get("result") != "0") {
      return out + "   (could not start: error " + Shown(e, "result") + ")";
    }
    if (e.Has("exit")) {
      out += "   (exit code " + Shown(e, "exit") + ")";
    }
    return out;
  }
  if (k == "script-error") {
    return "!! answer script: " + Shown(e, "detail");
  }
  if (k == "exit") {
    return "== the program ends with exit status " + Shown(e, "status");
  }
  return ShownText(e.raw, false);
}

}  // namespace varmex::tools
