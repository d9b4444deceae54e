#include "platform/GbkText.h"

#include <gtest/gtest.h>

#include <array>

namespace melo {
namespace {

// "中文" in GBK and UTF-8.
constexpr std::string_view kGbk = "\xD6\xD0\xCE\xC4";
constexpr std::string_view kUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(GbkText, RoundTripsMixedText) {
  std::string gbk = std::string("ab") + std::string(kGbk) + "1";
  std::string utf8 = GbkToUtf8(gbk);
  EXPECT_EQ(utf8, std::string("ab") + std::string(kUtf8) + "1");
  EXPECT_EQ(Utf8ToGbk(utf8), gbk);
}

TEST(GbkText, MalformedBytesDecodeToReplacement) {
  // A lone lead byte at the end (a field cut in the middle of a character)
  // and an invalid trail byte.
  EXPECT_EQ(GbkToUtf8("a\xD6"), "a\xEF\xBF\xBD");
  std::string bad = GbkToUtf8("\xFF\x01z");
  EXPECT_NE(bad.find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(bad.back(), 'z');
}

TEST(GbkText, CutNeverSplitsDoubleByteCharacter) {
  std::string utf8 = "a" + std::string(kUtf8); // encodes to 1 + 4 bytes
  EXPECT_EQ(Utf8ToGbk(utf8, 4), "a\xD6\xD0");
  EXPECT_EQ(Utf8ToGbk(utf8, 2), "a");
  EXPECT_EQ(Utf8ToGbk(utf8, 0), "");
}

TEST(GbkText, UnencodableAndInvalidUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToGbk("x\xF0\x9F\x8E\xB9y"), "x?y"); // emoji has no GBK form
  EXPECT_EQ(Utf8ToGbk("x\xFFy"), "x?y");
}

TEST(GbkText, ShortStringFieldsClampAndZeroFill) {
  std::array<std::uint8_t, 6> field;
  field.fill(0xEE);
  WriteShortString(field.data(), 5, "abcdefg");
  EXPECT_EQ(field[0], 5);
  EXPECT_EQ(ReadShortString(field.data(), 5), "abcde");
  WriteShortString(field.data(), 5, "ab");
  EXPECT_EQ((std::array<std::uint8_t, 6>{2, 'a', 'b', 0, 0, 0}), field);
  field[0] = 200; // damaged length byte must not read past the field
  EXPECT_EQ(ReadShortString(field.data(), 5).size(), 5u);
}

} // namespace
} // namespace melo
