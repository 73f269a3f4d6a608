// Fixed-length text: every text value of the system lives in a field of fixed length,
// padded on the right with blanks. Assigning a shorter value pads, a longer one is cut.
// The meaningful (trimmed) length is the position of the last non-blank character.
// Texts handed to the platform end right after their meaningful part (or at the first
// NUL, where a caller put one).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varmex::io {

// Position of the last non-blank character (0 for an all-blank text).
size_t TrimmedLength(std::string_view text);

// The text up to its last non-blank character.
std::string_view TrimRight(std::string_view text);

// The text up to (not including) its first NUL character, or all of it.
std::string_view UpToNul(std::string_view text);

// The meaningful part of a field as the platform receives it: up to the first NUL,
// then without trailing blanks.
std::string_view PlatformText(std::string_view field);

// A text of exactly `width` characters: `value` padded with blanks or cut.
std::string Padded(std::string_view value, size_t width);

// A blank-padded text field of N characters.
template <size_t N>
class FixedText {
 public:
  FixedText() { chars_.fill(' '); }
  explicit FixedText(std::string_view value) { Assign(value); }

  void Assign(std::string_view value) {
    const size_t n = value.size() < N ? value.size() : N;
    for (size_t i = 0; i < n; ++i) chars_[i] = value[i];
    for (size_t i = n; i < N; ++i) chars_[i] = ' ';
  }
  // Writes `value` starting at 0-based position `pos`, cut at the end of the field;
  // characters after it are left as they are.
  void Put(size_t pos, std::string_view value) {
    for (size_t i = 0; i < value.size() && pos + i < N; ++i) chars_[pos + i] = value[i];
  }

  static constexpr size_t size() { return N; }
  std::string_view view() const { return std::string_view(chars_.data(), N); }
  std::string_view trimmed() const { return TrimRight(view()); }
  size_t trimmed_length() const { return TrimmedLength(view()); }
  char& operator[](size_t i) { return chars_[i]; }
  char operator[](size_t i) const { return chars_[i]; }
  char* data() { return chars_.data(); }
  const char* data() const { return chars_.data(); }

 private:
  std::array<char, N> chars_;
};

// Right-aligned decimal in `width` characters; asterisks when it does not fit.
std::string FormatRight(int64_t value, size_t width);
// As FormatRight, but a value wider than the field is written in full, never as
// asterisks (for counts that must be read whatever their size).
std::string FormatRightWhole(int64_t value, size_t width);

// The text with its ASCII letters in lower case (names compared as Windows compares them).
std::string Lowercase(std::string_view text);

// The same field with its leading blanks moved to the end (the number stands at the
// left and the field keeps its width).
std::string FormatLeftMoved(int64_t value, size_t width);

}  // namespace varmex::io
