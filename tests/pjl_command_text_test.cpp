// DMINFO queries and DMCMD set lines, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pjl/pjl_internal.h"

namespace langmon {
namespace {

using enum ValueType;

std::string SetLine(const char* objectId, ValueType type, PjlValue value) {
  char text[2200] = "";
  AppendSetLine(text, objectId, type, value);
  return text;
}

std::string SetLine(const std::string& payload) {
  return "@PJL DMCMD ASCIIHEX=\"" + payload + "\"\r\n";
}

TEST(PjlQueryLine, IsPrefixQuotedPayloadAndCrLf) {
  char buffer[128];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_TRUE(BuildQueryLine(buffer, "050103030104"));
  EXPECT_STREQ(buffer, "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n");

  ASSERT_TRUE(BuildQueryLine(buffer, "07020f0101070101"));
  EXPECT_STREQ(buffer, "@PJL DMINFO ASCIIHEX=\"000007020f0101070101\"\r\n");
  EXPECT_EQ(std::strlen(buffer), 45u);
}

TEST(PjlQueryLine, RefusesMissingBufferOrIdentifierWithoutWriting) {
  EXPECT_FALSE(BuildQueryLine(nullptr, "050103030104"));
  char buffer[8] = "keep";
  EXPECT_FALSE(BuildQueryLine(buffer, nullptr));
  EXPECT_STREQ(buffer, "keep");
}

struct SetCase {
  const char* objectId;
  ValueType type;
  DWORD number;
  const char* text;
  const char* payload;
};

TEST(PjlSetLine, ProducesExactPayloads) {
  const SetCase cases[] = {
      // Worked examples.
      {"050103030104", PaddedNumber, 2, nullptr, "040005010303010408020002"},
      {"050103030126", Number, 1, nullptr, "0400050103030126040101"},
      {"06010401030106", AltNumber, 1, nullptr, "040006010401030106200101"},
      // Identifier letters keep their case next to uppercase digits.
      {"070104010303010d", PaddedNumber, 0, nullptr, "0400070104010303010d08020000"},
      // Number thresholds are "below 0xFF", "below 0xFFFF", "below 0xFFFFFF".
      {"01aa", Number, 254, nullptr, "040001aa0401FE"},
      {"01aa", Number, 255, nullptr, "040001aa040200FF"},
      {"01aa", Number, 65534, nullptr, "040001aa0402FFFE"},
      {"01aa", Number, 65535, nullptr, "040001aa040300FFFF"},
      {"01aa", Number, 0xFFFFFE, nullptr, "040001aa0403FFFFFE"},
      {"01aa", Number, 0xFFFFFF, nullptr, "040001aa040400FFFFFF"},
      {"01aa", Number, 0x80000000, nullptr, "040001aa040480000000"},
      {"01aa", AltNumber, 255, nullptr, "040001aa200200FF"},
      {"01aa", PaddedNumber, 0, nullptr, "040001aa08020000"},
      {"01aa", PaddedNumber, 254, nullptr, "040001aa080200FE"},
      {"01aa", PaddedNumber, 255, nullptr, "040001aa08030000FF"},
      {"01aa", PaddedNumber, 65535, nullptr, "040001aa08040000FFFF"},
      {"01aa", PaddedNumber, 0xFFFFFF, nullptr, "040001aa080400FFFFFF"},
      {"01aa", Number32, 2, nullptr, "040001aa0C0400000002"},
      {"01aa", Byte, 2, nullptr, "040001aa180102"},
      {"01aa", Byte, 0x1FF, nullptr, "040001aa1801FF"},  // one byte announced, one sent
      {"01aa", Empty, 1234, nullptr, "040001aa1C00FFFF"},
      // NegativeNumber: two bytes announced, the low 16 bits sent.
      {"01aa", NegativeNumber, 0xFFFFFFFF, nullptr, "040001aa2402FFFF"},
      {"01aa", NegativeNumber, static_cast<DWORD>(-40), nullptr, "040001aa2402FFD8"},
      {"01aa", NegativeNumber, 5, nullptr, "040001aa24020005"},
      // Strings.
      {"01aa", String, 0, "", "040001aa0000FFFF"},
      {"01aa", String, 0, "AB", "040001aa00024142"},
      {"01aa", AltString, 0, "AB", "040001aa14024142"},
      {"01aa", AltString, 0, "", "040001aa1400FFFF"},
      {"01aa", PrefixedString, 0, "AB", "040001aa100401154142"},
      {"01aa", PrefixedString, 0, "", "040001aa10020115"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(std::string(c.payload));
    EXPECT_EQ(SetLine(c.objectId, c.type, {c.number, c.text}), SetLine(c.payload));
  }
}

TEST(PjlSetLine, TwoLinesFollowEachOtherDirectly) {
  char text[256] = "";
  AppendSetLine(text, "050103030104", PaddedNumber, {2, nullptr});
  AppendSetLine(text, "050103030126", Number, {1, nullptr});
  EXPECT_EQ(std::string(text),
            SetLine("040005010303010408020002") + SetLine("0400050103030126040101"));
}

TEST(PjlSetLine, NumberLineStaysWithinDocumentedLength) {
  // 40 characters plus the identifier at most, for any number type.
  for (ValueType type : {Number, PaddedNumber, Number32, Byte, Empty, AltNumber, NegativeNumber}) {
    for (DWORD value : {0u, 0xFFu, 0xFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::to_string(static_cast<DWORD>(type)) + "/" + std::to_string(value));
      EXPECT_LE(SetLine("07020f0101070101", type, {value, nullptr}).size(), 56u);
    }
  }
}

TEST(PjlSetLine, StringTooLongForTenBitLengthIsRefused) {
  const std::string longest(kMaxStringLength, 'x');
  const std::string tooLong(kMaxStringLength + 1, 'x');
  const std::string longestPrefixed(kMaxPrefixedStringLength, 'x');
  const std::string tooLongPrefixed(kMaxPrefixedStringLength + 1, 'x');

  // The longest sendable string announces 1023 bytes: type bits untouched.
  const std::string ok = SetLine("01aa", String, {0, longest.c_str()});
  EXPECT_EQ(ok.substr(29, 4), "03FF");
  EXPECT_EQ(ok.size(), 20 + 1 + 4 + 4 + 4 + 2 * kMaxStringLength + 3);
  const std::string okPrefixed = SetLine("01aa", PrefixedString, {0, longestPrefixed.c_str()});
  EXPECT_EQ(okPrefixed.substr(29, 4), "13FF");

  char text[4096] = "keep";
  AppendSetLine(text, "01aa", String, {0, tooLong.c_str()});
  AppendSetLine(text, "01aa", AltString, {0, tooLong.c_str()});
  AppendSetLine(text, "01aa", PrefixedString, {0, tooLongPrefixed.c_str()});
  EXPECT_STREQ(text, "keep");
}

TEST(PjlSetLine, UnknownTypeOrMissingIdentifierAppendsNothing) {
  char text[64] = "keep";
  AppendSetLine(text, "01aa", static_cast<ValueType>(10), {1, nullptr});
  AppendSetLine(text, nullptr, Number, {1, nullptr});
  AppendSetLine(nullptr, "01aa", Number, {1, nullptr});  // must not crash
  EXPECT_STREQ(text, "keep");
}

TEST(PjlWireHelpers, TypeLengthWordAndDigits) {
  char word[5];
  FormatTypeLength(Empty, 0, word);
  EXPECT_STREQ(word, "1C00");
  FormatTypeLength(PrefixedString, 0x3FF, word);
  EXPECT_STREQ(word, "13FF");
  FormatTypeLength(static_cast<ValueType>(63), 0, word);
  EXPECT_STREQ(word, "FC00");

  const std::string all = "0123456789ABCDEF";
  for (DWORD v = 0; v < 16; ++v) EXPECT_EQ(HexDigitChar(v), all[v]);
  char two[3] = "..";
  FormatHexByte(two, 0x0D);
  EXPECT_STREQ(two, "0D");
  FormatHexByte(two, 0xF0);
  EXPECT_STREQ(two, "F0");

  // A number wider than its length is written in full, never cut.
  char text[16] = "";
  FormatValue(text, Number, 1, {0x1234, nullptr});
  EXPECT_STREQ(text, "1234");
  // A string length beyond the string's end stops at the string's end.
  text[0] = '\0';
  FormatValue(text, String, 5, {0, "AB"});
  EXPECT_STREQ(text, "4142");
}

TEST(PjlWireHelpers, ValueLengths) {
  EXPECT_EQ(ValueLength(String, {0, "abc"}), 3u);
  EXPECT_EQ(ValueLength(PrefixedString, {0, "abc"}), 5u);
  EXPECT_EQ(ValueLength(AltString, {0, nullptr}), 0u);
  EXPECT_EQ(ValueLength(NegativeNumber, {0xFFFFFFFF, nullptr}), 2u);
  EXPECT_EQ(ValueLength(Number32, {0, nullptr}), 4u);
  EXPECT_EQ(ValueLength(static_cast<ValueType>(10), {5, nullptr}), 0u);
}

}  // namespace
}  // namespace langmon
