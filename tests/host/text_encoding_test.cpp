#include "text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace langmon::host {
namespace {

TEST(TextEncoding, Utf16RoundTripKeepsCharactersOutsideTheBasicPlane) {
  const std::string text = "Drucker \xC3\xBC \xF0\x9F\x96\xA8";  // u-umlaut, printer emoji
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide.size(), 12u);  // the emoji takes a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(TextEncoding, MalformedTextBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(u"\uFFFD"));
  EXPECT_EQ(Utf8ToUtf16("a\xC0\x80"), std::u16string(u"a\uFFFD\uFFFD"));  // overlong NUL
  const std::u16string loneHigh = {u'x', char16_t(0xD800), u'y'};
  EXPECT_EQ(Utf16ToUtf8(loneHigh), "x\xEF\xBF\xBDy");
  char32_t cp = 0;
  EXPECT_EQ(DecodeUtf16At(loneHigh, 1, cp), 0u);
  EXPECT_EQ(FirstInvalidUtf8("ok \xED\xA0\x80"), 3u);  // an encoded surrogate
}

// A file's bytes: UTF-16LE both ways, faults named with the text before
// them kept, and 8-bit text read as Latin-1.
TEST(TextEncoding, FileBytesBecomeTextAndBack) {
  const std::string text = "Caf\xC3\xA9 \xF0\x9F\x96\xA8\r\n";  // a pair of surrogates too
  const std::string bytes = Utf8ToUtf16Le(text);
  EXPECT_EQ(bytes.substr(0, 4), std::string("C\0a\0", 4));
  std::string back, error;
  EXPECT_TRUE(Utf16LeToUtf8(bytes, back, error));
  EXPECT_EQ(back, text);
  const std::string unpaired(
      "a\0\n\0\x00\xD8"
      "b\0",
      8);  // "a\n", a lone high surrogate, "b"
  EXPECT_FALSE(Utf16LeToUtf8(unpaired, back, error));
  EXPECT_EQ(back, "a\n");
  EXPECT_EQ(error, "unpaired UTF-16 surrogate");
  EXPECT_FALSE(Utf16LeToUtf8(std::string("a\0b", 3), back, error));
  EXPECT_EQ(back, "a");
  EXPECT_EQ(error, "UTF-16 text ends in the middle of a character");
  EXPECT_EQ(Latin1ToUtf8("Caf\xE9"), "Caf\xC3\xA9");
}

TEST(TextEncoding, LongTextIsShortenedForMessagesWholeCharactersOnly) {
  EXPECT_EQ(QuoteShortened("short"), "\"short\"");
  EXPECT_EQ(QuoteShortened(std::string(60, 'a')), "\"" + std::string(60, 'a') + "\"");
  EXPECT_EQ(QuoteShortened(std::string(61, 'a')),
            "\"" + std::string(60, 'a') + "...\" (61 characters)");
  // A two-byte character counts once and is never cut in half.
  std::string umlauts;
  for (int i = 0; i < 5; ++i) umlauts += "\xC3\xBC";
  EXPECT_EQ(Shortened(umlauts, 3), "\xC3\xBC\xC3\xBC\xC3\xBC... (5 characters)");
}

}  // namespace
}  // namespace langmon::host
