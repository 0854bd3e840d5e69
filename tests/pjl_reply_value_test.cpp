// Decoding the value record of a DMINFO reply into a number or a string.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "pjl/pjl_internal.h"

namespace langmon {
namespace {

using enum ValueType;

// A reply as the printer sends it: the repeated query, the record, form feed.
std::string Reply(const std::string& record) {
  return "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n\"800000" + record + "\"\r\n\f";
}

struct NumberCase {
  const char* name;
  std::string reply;
  const char* objectId;
  DWORD before;
  BOOL result;
  DWORD after;
};

TEST(PjlReplyValue, DecodesNumbersIntoTheNamedBitsOnly) {
  const char* id = "050103030104";
  const std::string rec = id;
  const NumberCase cases[] = {
      {"worked example, type 2 length 2", Reply(rec + "08020002"), id, 0, TRUE, 2},
      {"type 2 length 3 is 600", Reply("0501030301080803000258"), "050103030108", 0, TRUE, 600},
      {"3 bytes keep the top byte", Reply(rec + "0803000258"), id, 0xAB000000, TRUE, 0xAB000258},
      {"lowercase letters are hex", Reply(rec + "04011a"), id, 0, TRUE, 0x1A},
      {"uppercase A is 17", Reply(rec + "04011A"), id, 0, TRUE, 0x11},
      {"one byte, zeroed field", Reply(rec + "0401ff"), id, 0, TRUE, 255},
      {"one byte fills low 16 bits", Reply(rec + "0401ff"), id, 0xFFFFFFFF, TRUE, 0xFFFF00FF},
      {"two bytes fill low 16 bits", Reply(rec + "04021234"), id, 0xAAAAAAAA, TRUE, 0xAAAA1234},
      {"type 2 length 4 all ones", Reply(rec + "0804ffffffff"), id, 0, TRUE, 0xFFFFFFFF},
      {"length 5 reads 8 digits", Reply(rec + "04050102030405"), id, 0, TRUE, 0x01020304},
      {"type 8 like type 1", Reply(rec + "200101"), id, 0, TRUE, 1},
      {"type 3 reads 8 digits", Reply(rec + "0c0100000102"), id, 0xFFFFFFFF, TRUE, 0x102},
      {"type 6 reads 2 digits", Reply(rec + "18047f"), id, 0x12345678, TRUE, 0x1234007F},
      {"type 7 clears low byte", Reply(rec + "1c00"), id, 0x12345678, TRUE, 0x12345600},
      {"length 0 clears low byte", Reply(rec + "0400"), id, 0x12345678, TRUE, 0x12345600},
      // NegativeNumber: the low bytes sent for a negative value, widened.
      {"type 9 -1", Reply(rec + "2402ffff"), id, 0, TRUE, 0xFFFFFFFF},
      {"type 9 -40", Reply(rec + "2402ffd8"), id, 0, TRUE, static_cast<DWORD>(-40)},
      {"type 9 positive", Reply(rec + "24020005"), id, 0xFFFFFFFF, TRUE, 5},
      {"type 9 one byte", Reply(rec + "240180"), id, 0, TRUE, static_cast<DWORD>(-128)},
      {"type 9 three bytes", Reply(rec + "2403fffffe"), id, 0, TRUE, static_cast<DWORD>(-2)},
      {"type 9 four bytes", Reply(rec + "2404fffffffd"), id, 0, TRUE, static_cast<DWORD>(-3)},
      {"type 9 without bytes", Reply(rec + "2400"), id, 7, FALSE, 7},
      // Types no printer sends are not taken as read.
      {"type 10", Reply(rec + "28020005"), id, 7, FALSE, 7},
      {"type 63", Reply(rec + "fc020005"), id, 7, FALSE, 7},
      // Identification of the record.
      {"no marker", "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n\f", id, 7, FALSE, 7},
      {"other identifier", Reply("05010303010508020002"), id, 7, FALSE, 7},
      {"identifier case matters", Reply("05010303010B08020002"), "05010303010b", 7, FALSE, 7},
      {"only the first record counts", Reply("05010303010508020001\"800000" + rec + "08020002"), id,
       7, FALSE, 7},
      {"identifier compared over its own length", Reply("050103030104012a"), "0501030301", 0, TRUE,
       0x2A},
      // Text that ends inside the record: nothing is read past its zero.
      {"digits end at the zero",
       "\"800000" + rec + "0402" +
           std::string("12\0"
                       "34",
                       5),
       id, 7, FALSE, 7},
      {"digits cut at end of text", "\"800000" + rec + "0404123456", id, 7, FALSE, 7},
      {"type/length cut", "\"800000" + rec + "080", id, 7, FALSE, 7},
      {"identifier cut", "\"8000000501", id, 7, FALSE, 7},
      {"type 3 with too few digits", "\"800000" + rec + "0c0400", id, 7, FALSE, 7},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD value = c.before;
    EXPECT_EQ(ReadReplyValue(c.reply.c_str(), c.objectId, &value, sizeof value), c.result);
    EXPECT_EQ(value, c.after);
  }
}

struct StringCase {
  const char* name;
  std::string record;  // after the identifier
  std::size_t capacity;
  BOOL result;
  std::string stored;  // bytes written, terminator included
};

TEST(PjlReplyValue, DecodesStringsWithinCapacity) {
  const StringCase cases[] = {
      {"type 0", "00024142", 4, TRUE, std::string("AB\0", 3)},
      {"type 5", "1402616a", 3, TRUE, std::string("aj\0", 3)},
      {"type 0 empty", "0000", 1, TRUE, std::string("\0", 1)},
      {"type 4 skips prefix", "100401154142", 4, TRUE, std::string("AB\0", 3)},
      {"type 4 prefix unread", "1004zzzz4142", 4, TRUE, std::string("AB\0", 3)},
      {"type 4 length 2", "10020115", 4, TRUE, std::string("\0", 1)},
      {"uppercase keeps low 8 bits", "00011A", 4, TRUE, std::string("\x11\0", 2)},
      {"exactly fills capacity", "000341424344", 4, TRUE, std::string("ABC\0", 4)},
      {"one byte too many", "00044142434445", 4, FALSE, ""},
      {"type 4 too long", "10070115414243444546", 4, FALSE, ""},
      {"type 4 length 1", "100101", 4, FALSE, ""},
      {"type 4 length 0", "1000", 4, FALSE, ""},
      {"no room for terminator", "0000", 0, FALSE, ""},
      {"string digits run short", "00034142", 8, FALSE, ""},
      {"type 4 prefix cut", "100201", 8, FALSE, ""},
  };
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.name);
    char destination[16];
    std::memset(destination, '#', sizeof destination);
    // The text ends right behind the record, so that short records really end.
    const std::string text = "\"800000050103030104" + c.record;
    EXPECT_EQ(ReadReplyValue(text.c_str(), "050103030104", destination, c.capacity), c.result);
    EXPECT_EQ(std::string(destination, c.stored.size()), c.stored);
    EXPECT_EQ(destination[c.stored.size()], '#');  // nothing beyond
  }
}

TEST(PjlReplyValue, NumberNeedsFourBytesOfDestination) {
  const std::string reply = Reply("05010303010404012a");
  char small[4] = {'#', '#', '#', '#'};
  EXPECT_FALSE(ReadReplyValue(reply.c_str(), "050103030104", small, 3));
  EXPECT_EQ(std::string(small, 4), "####");
  EXPECT_FALSE(ReadReplyValue(nullptr, "050103030104", small, 4));
  EXPECT_FALSE(ReadReplyValue(reply.c_str(), nullptr, small, 4));
  EXPECT_FALSE(ReadReplyValue(reply.c_str(), "050103030104", nullptr, 4));
}

TEST(PjlReplyValue, DigitValuesAndHexUnits) {
  const struct {
    char c;
    WORD value;
  } digits[] = {{'0', 0},  {'9', 9},  {'a', 10},     {'f', 15},   {'g', 16},
                {'A', 17}, {'F', 22}, {' ', 0xFFF0}, {'`', 0x30}, {'\xff', 0xA8}};
  for (const auto& d : digits) EXPECT_EQ(HexDigitValue(d.c), d.value) << d.c;

  EXPECT_EQ(ParseHexByte("1a"), 0x1A);
  EXPECT_EQ(ParseHexByte("1A"), 0x11);
  EXPECT_EQ(ParseHexByte("A0"), 0x110);  // 16-bit, not cut to a byte
  EXPECT_EQ(ParseHexWord("beef"), 0xBEEF);
  EXPECT_EQ(ParseHexWord("A0A0"), 0x1110);
  EXPECT_EQ(ParseHexDword("1a2b3c4d"), 0x1A2B3C4Du);

  WORD type = 0, length = 0;
  ParseTypeLength("0802", &type, &length);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(length, 2);
  ParseTypeLength("ffff", &type, &length);
  EXPECT_EQ(type, 63);
  EXPECT_EQ(length, 1023);
}

TEST(PjlReplyValue, RoundTripsWhatTheSetLineSends) {
  // The value digits of every number the monitor sends read back as sent
  // (NegativeNumber as the signed value).
  for (ValueType type : {Number, PaddedNumber, AltNumber, Number32, NegativeNumber}) {
    const DWORD values[] = {
        0, 1, 254, 255, 65535, 0xFFFFFF, 0x12345678, 0xFFFFFFFF, static_cast<DWORD>(-40)};
    for (DWORD value : values) {
      const std::int32_t signedValue = static_cast<std::int32_t>(value);
      if (type == NegativeNumber && (signedValue < -32768 || signedValue > 32767)) continue;
      char text[128] = "";
      AppendSetLine(text, "01aa", type, {value, nullptr});
      std::string payload = std::strchr(text, '"') + 1 + 4 + 4;  // past request code and id
      for (char& c : payload) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::string reply = "\"80000001aa" + payload;
      DWORD decoded = 0;
      SCOPED_TRACE(text);
      ASSERT_TRUE(ReadReplyValue(reply.c_str(), "01aa", &decoded, sizeof decoded));
      EXPECT_EQ(decoded, value);
    }
  }
}

}  // namespace
}  // namespace langmon
