// Text on its way to a terminal. A terminal obeys the control characters it is sent:
// an escape sequence inside a file name, a line typed or a line of a file could move
// the cursor, retitle the window, ring the bell or make the terminal answer back. So
// every control character is shown instead of sent:
//
//   C0 (0x00-0x1F)     ^@ ^A ... ^_   (a line feed stays a line feed where asked)
//   DEL (0x7F)         ^?
//   C1, a lone byte    \x80 ... \x9F  (an 8-bit terminal takes 0x9B for ESC [)
//   C1 in UTF-8        \u0080 ... \u009F  (the two bytes C2 80 ... C2 9F)
//
// Every other byte passes as it is: valid UTF-8, and the single-byte letters of the
// system's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varmex::platform {

// Length of the valid UTF-8 sequence of two to four bytes starting at text[i], or 0.
size_t Utf8SequenceAt(std::string_view text, size_t i);

// The control character at text[i]: its code (0x00-0x1F, 0x7F or 0x80-0x9F) and how
// many bytes it takes (1, or 2 for a C1 control in UTF-8); length 0 when there is none.
// A byte of 0x80-0x9F counts as a control here: a caller walking a text steps over
// the valid UTF-8 sequences (Utf8SequenceAt) before asking about their inner bytes.
struct ControlCharacter {
  uint32_t code = 0;
  size_t length = 0;
};
ControlCharacter ControlAt(std::string_view text, size_t i);

// Whether `text` holds a control character, as a walk over it finds them.
bool HoldsControl(std::string_view text);

// `text` with every control character shown as drawn above; line feeds stay when
// `keepLineFeeds` (a text of several lines), else they show as ^J.
std::string TerminalText(std::string_view text, bool keepLineFeeds = false);

}  // namespace varmex::platform
