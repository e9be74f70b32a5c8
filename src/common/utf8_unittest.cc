#include "common/utf8.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(Utf8, RoundTripsAllPlanes) {
  std::wstring text = L"Harrowmere \u00e9\u4e16\u754c \U0001F3AE ~\uff5e";
  EXPECT_EQ(fromUtf8(toUtf8(text)), text);
  EXPECT_EQ(toUtf8(L"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(toUtf8(L"\U0001F3AE"), "\xF0\x9F\x8E\xAE");
  EXPECT_EQ(toUtf8(L""), "");
  EXPECT_EQ(fromUtf8(""), L"");
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(fromUtf8("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(fromUtf8("\xC3"), L"\uFFFD");              // truncated at the end
  EXPECT_EQ(fromUtf8("\xE4\xB8" "x"), L"\uFFFDx");      // truncated before an ASCII byte
  EXPECT_EQ(fromUtf8("\xC0\x80"), L"\uFFFD\uFFFD");     // overlong encodings are refused
  EXPECT_EQ(fromUtf8("\xED\xA0\x80"), L"\uFFFD");       // an encoded surrogate
  EXPECT_EQ(fromUtf8("\xF4\x90\x80\x80"), L"\uFFFD");   // beyond U+10FFFF
  std::wstring lone(1, wchar_t(0xD800));
  EXPECT_EQ(toUtf8(lone), "\xEF\xBF\xBD");
}

TEST(PathBytes, EveryByteStringSurvivesTheRoundTrip) {
  EXPECT_EQ(pathFromBytes("g\xe9"), std::wstring(L"g") + wchar_t(0xDCE9));
  EXPECT_EQ(pathFromBytes("spiel\xc3\xa9"), L"spiel\u00e9");  // valid UTF-8 is plain text
  for (std::string bytes : {std::string("g\xe9"), std::string("\xC0\x80/\xED\xA0\x80\xF4\x90\x80\x80\xC3"),
                            std::string("\xE4\xB8x\xFF\xFE"), std::string("a\xF0\x9F\x8E\xAE\xF0\x9F")}) {
    EXPECT_EQ(pathToBytes(pathFromBytes(bytes)), bytes);
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(char(b));
  EXPECT_EQ(pathToBytes(pathFromBytes(all)), all);
  // Shown to people, an escaped byte is a replacement character.
  EXPECT_EQ(toUtf8(pathFromBytes("g\xe9")), "g\xEF\xBF\xBD");
  // A surrogate that no byte maps to cannot name a file byte: U+FFFD.
  EXPECT_EQ(pathToBytes(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace velmo
