// One line of a run's transcript (a flat JSON object) read back into its fields, and
// described as a person reads it.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace varmex::tools {

struct TranscriptEvent {
  std::string raw;
  std::map<std::string, std::string> fields;  // strings unescaped; numbers and booleans as written

  const std::string& Get(const std::string& field) const;
  bool Has(const std::string& field) const { return fields.count(field) != 0; }
  const std::string& kind() const { return Get("event"); }
};

// Parses one line; nullopt when it is not a flat JSON object.
std::optional<TranscriptEvent> ParseTranscriptLine(const std::string& line);

// The event as a person reads it: one line, or several for a message of several lines.
// Control characters inside its texts are shown as ShownText shows them.
std::string DescribeEvent(const TranscriptEvent& event);

// `text` safe for a terminal: each control character shown as platform/terminal_text.h
// shows it (^X for C0, ^? for DEL, \x9B or \u009B for C1), so that no escape sequence
// of the text reaches the terminal; line feeds stay when `keepLineFeeds` (a message of
// several lines), else they show as ^J.
std::string ShownText(const std::string& text, bool keepLineFeeds);

}  // namespace varmex::tools
