#include "platform/terminal_text.h"

namespace varmex::platform {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Calls visit(control) for each control character of `text` and copy(piece) for
// everything between them, in order.
template <typename Control, typename Copy>
void Walk(std::string_view text, Control control, Copy copy) {
  size_t i = 0;
  while (i < text.size()) {
    const ControlCharacter c = ControlAt(text, i);
    if (c.length != 0) {
      control(c);
      i += c.length;
      continue;
    }
    const size_t sequence = Utf8SequenceAt(text, i);
    const size_t n = sequence != 0 ? sequence : 1;
    copy(text.substr(i, n));
    i += n;
  }
}

}  // namespace

size_t Utf8SequenceAt(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t n = 0;
  uint32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || (cp >= 0xD800 && cp <= 0xDFFF) ||
      cp > 0x10FFFF) {
    return 0;
  }
  return n;
}

ControlCharacter ControlAt(std::string_view text, size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x20 || b == 0x7F || (b >= 0x80 && b <= 0x9F)) return {b, 1};
  if (b == 0xC2 && i + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) return {next, 2};
  }
  return {};
}

bool HoldsControl(std::string_view text) {
  bool found = false;
  Walk(
      text, [&](const ControlCharacter&) { found = true; }, [](std::string_view) {});
  return found;
}

std::string TerminalText(std::string_view text, bool keepLineFeeds) {
  std::string out;
  out.reserve(text.size());
  Walk(
      text,
      [&](const ControlCharacter& c) {
        if (c.code == '\n' && keepLineFeeds) {
          out += '\n';
        } else if (c.code < 0x20) {
          out += '^';
          out += static_cast<char>(c.code + 0x40);
        } else if (c.code == 0x7F) {
          out += "^?";
        } else {
          out += c.length == 1 ? "\\x" : "\\u00";
          out += kHex[c.code >> 4];
          out += kHex[c.code & 0xF];
        }
      },
      [&](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace varmex::platform
