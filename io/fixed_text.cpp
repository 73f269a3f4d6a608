#include "io/fixed_text.h"

#include <cctype>

namespace varmex::io {

size_t TrimmedLength(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return n;
}

std::string_view TrimRight(std::string_view text) { return text.substr(0, TrimmedLength(text)); }

std::string_view UpToNul(std::string_view text) {
  const size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view PlatformText(std::string_view field) { return TrimRight(UpToNul(field)); }

std::string Padded(std::string_view value, size_t width) {
  std::string out(value.substr(0, width));
  out.resize(width, ' ');
  return out;
}

std::string FormatRight(int64_t value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() > width) return std::string(width, '*');
  return std::string(width - digits.size(), ' ') + digits;
}

std::string FormatLeftMoved(int64_t value, size_t width) {
  std::string field = FormatRight(value, width);
  const size_t lead = field.find_first_not_of(' ');
  if (lead == std::string::npos || lead == 0) return field;
  return field.substr(lead) + std::string(lead, ' ');
}

std::string Lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string FormatRightWhole(int64_t value, size_t width) {
  const std::string field = FormatRight(value, width);
  return field.find('*') == std::string::npos ? field : std::to_string(value);
}

}  // namespace varmex::io
