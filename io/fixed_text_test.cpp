#include "io/fixed_text.h"

#include <gtest/gtest.h>

#include "io/coding.h"

namespace varmex::io {
namespace {

TEST(FixedText, AssignPadsAndCuts) {
  FixedText<6> f("ab");
  EXPECT_EQ(f.view(), "ab    ");
  EXPECT_EQ(f.trimmed(), "ab");
  f.Assign("abcdefgh");
  EXPECT_EQ(f.view(), "abcdef");
  f.Assign("");
  EXPECT_EQ(f.trimmed_length(), 0u);
  f.Put(4, "xyz");
  EXPECT_EQ(f.view(), "    xy");
}

TEST(FixedText, TrimmingAndNul) {
  EXPECT_EQ(TrimmedLength("a b  "), 3u);
  EXPECT_EQ(TrimmedLength("    "), 0u);
  EXPECT_EQ(UpToNul(std::string_view("ab\0cd", 5)), "ab");
  // Blanks before the NUL are not meaningful; what follows the NUL is not shown.
  EXPECT_EQ(PlatformText(std::string_view("C:\\x  \0zz  ", 11)), "C:\\x");
  EXPECT_EQ(Padded("abc", 5), "abc  ");
  EXPECT_EQ(Padded("abcdef", 2), "ab");
}

TEST(NumberField, RightAlignedAndAsterisks) {
  EXPECT_EQ(FormatRight(7, 2), " 7");
  EXPECT_EQ(FormatRight(255, 2), "**");
  EXPECT_EQ(FormatRight(-10, 2), "**");
  EXPECT_EQ(FormatRight(-1, 2), "-1");
  EXPECT_EQ(FormatRight(5, 5), "    5");
  EXPECT_EQ(FormatRight(123456, 5), "*****");
  EXPECT_EQ(FormatRight(0, 1), "0");
  // Counts that must be read whatever their size are never hidden behind asterisks.
  EXPECT_EQ(FormatRightWhole(99999, 5), "99999");
  EXPECT_EQ(FormatRightWhole(123456, 5), "123456");
  EXPECT_EQ(FormatRightWhole(42, 5), "   42");
}

TEST(NumberField, LeftMovedKeepsWidth) {
  EXPECT_EQ(FormatLeftMoved(12, 4), "12  ");
  EXPECT_EQ(FormatLeftMoved(345, 10), "345       ");
  EXPECT_EQ(FormatLeftMoved(1234, 4), "1234");
  EXPECT_EQ(FormatLeftMoved(99999, 4), "****");
}

TEST(Coding, LittleEndianRoundTrip) {
  uint8_t b[8] = {};
  StoreI16(b, -2);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_EQ(LoadI16(b), -2);
  EXPECT_EQ(LoadU16(b), 0xFFFE);
  StoreI32(b + 2, 0x70FF1234);
  EXPECT_EQ(b[2], 0x34);
  EXPECT_EQ(b[5], 0x70);
  EXPECT_EQ(LoadI32(b + 2), 0x70FF1234);
  StoreI32(b, INT32_MIN);
  EXPECT_EQ(LoadI32(b), INT32_MIN);
}

}  // namespace
}  // namespace varmex::io
