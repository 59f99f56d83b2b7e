#include "base/text.h"

#include <gtest/gtest.h>

TEST(Utf8Conversion, RoundTripsChineseAndAstralText) {
  const std::string utf8 = "就绪 OK \xF0\x9F\x98\x80";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide.substr(0, 2), L"就绪");
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(Utf8Conversion, MalformedBytesBecomeReplacementCharacters) {
  // Truncated three-byte lead, lone continuation byte, overlong encoding of '/'.
  EXPECT_EQ(Utf8ToWide("a\xE5\xB0"), L"a\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("\x80z"), L"\uFFFDz");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(TextHelpers, TrimLowerSplit) {
  EXPECT_EQ(TrimText(L" \t http://a/ \r\n"), L"http://a/");
  EXPECT_EQ(TrimText(std::string("   ")), "");
  EXPECT_EQ(LowerAscii(L"/REGister"), L"/register");
  EXPECT_TRUE(EqualsNoCase(L"Main", L"MAIN"));
  EXPECT_FALSE(EqualsNoCase(L"Main", L"Mains"));
  const auto pieces = SplitText(L"a;;b;", L';');
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0], L"a");
  EXPECT_EQ(pieces[1], L"");
  EXPECT_EQ(pieces[3], L"");
}

TEST(Utf16Conversion, PairsSurrogatesAndMarksWhatIsMalformed) {
  const std::string pair("\x3D\xD8\x00\xDE", 4);  // U+1F600
  EXPECT_EQ(Utf16LeToUtf8(pair), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToUtf16Le("\xF0\x9F\x98\x80"), pair);
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xD8" "A", 3)), "\xEF\xBF\xBD\xEF\xBF\xBD");
  // An overlong NUL must not come out as a NUL in the file.
  EXPECT_EQ(Utf8ToUtf16Le("\xC0\x80"), std::string("\xFD\xFF\xFD\xFF", 4));
  // Registry text keeps a lone surrogate both ways.
  const std::u16string lone = u"a\xDC00";
  EXPECT_EQ(WideToUtf16(Utf16ToWide(lone)), lone);
  EXPECT_EQ(WideToUtf16(Utf16ToWide(u"\U0001F600")), u"\U0001F600");
}
