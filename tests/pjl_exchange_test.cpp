// One query and its reply over a fake port, on a virtual clock, and the ECHO
// probe.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "monitor_fixture.h"
#include "pjl/pjl_internal.h"
#include "port/port_ops.h"

namespace langmon {
namespace {

constexpr char kObjectId[] = "050103030104";

std::string Query() {
  char text[128];
  BuildQueryLine(text, kObjectId);
  return text;
}

// What the printer sends back: the query repeated, the value record and a
// form feed.
std::string Answer(const std::string& request, const std::string& record = "08020002") {
  return request + "\"800000" + kObjectId + record + "\"\r\n\f";
}

class PjlExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = testing::OpenMonitorPort(fake, LM_W("LPT1:"), LM_W("Laser"));
    ASSERT_NE(handle, nullptr);
    entry = static_cast<PortEntry*>(handle);
    SetFlags(entry, PortActive);  // as the dispatcher does before any exchange
    fake.ClearCalls();
    std::memset(reply, '#', sizeof reply);
  }
  void TearDown() override {
    if (handle) ClosePort(handle);
  }

  BOOL Exchange(const std::string& request) {
    return ExchangeQuery(entry, request.c_str(), reply, &length);
  }
  std::string Reply() const { return std::string(reply, length); }
  void ExpectReplyUntouched() {
    EXPECT_EQ(length, 0xDEADu);
    EXPECT_EQ(std::string(reply, sizeof reply), std::string(sizeof reply, '#'));
  }
  std::vector<DWORD> ReadSizes() const {
    std::vector<DWORD> sizes;
    for (const auto& call : fake.Calls())
      if (call.op == "ReadPort") sizes.push_back(call.number);
    return sizes;
  }

  testing::SeamScope scope{true};
  testing::FakePortMonitor fake;
  HANDLE handle = nullptr;
  PortEntry* entry = nullptr;
  char reply[kReplyBufferSize];
  DWORD length = 0xDEAD;
};

TEST_F(PjlExchange, CopiesExactlyTheMatchingReply) {
  const std::string answer = Answer(Query());
  fake.QueueRead(answer + "tail");
  ASSERT_TRUE(Exchange(Query()));
  EXPECT_EQ(fake.Written(), Query());
  EXPECT_EQ(Reply(), answer);
  EXPECT_EQ(reply[length], '#');  // no terminator added
  EXPECT_EQ(ReadSizes(), std::vector<DWORD>{kCollectionBufferSize - 1});
}

// A faulty port monitor may claim more bytes than the buffer it was given:
// the count is held to what was offered, so the collection buffer and its
// terminating zero stay inside their bounds (a huge claim would otherwise
// write far outside the stack) and the reply is still found.
TEST_F(PjlExchange, ReadCountBeyondTheOfferedRoomIsHeldToIt) {
  for (const DWORD extra : {DWORD{1}, DWORD{kCollectionBufferSize}, DWORD{0x7FFFFFF0}}) {
    SCOPED_TRACE(extra);
    const std::string answer = Answer(Query());
    fake.overReportReadBy = extra;
    fake.QueueRead(answer);
    length = 0xDEAD;
    ASSERT_TRUE(Exchange(Query()));
    EXPECT_EQ(Reply(), answer);
  }
}

TEST_F(PjlExchange, ReassemblesReplySplitOverReads) {
  const std::string noise = "\f\r\nleft over\f";
  const std::string answer = Answer(Query());
  for (std::size_t chunk : {50u, 7u, 2u, 1u}) {
    SCOPED_TRACE(chunk);
    fake.ClearCalls();
    const std::string stream = noise + answer;
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
      fake.QueueRead("");  // a silent read in between changes nothing
      fake.QueueRead(stream.substr(i, chunk));
    }
    length = 0xDEAD;
    ASSERT_TRUE(Exchange(Query()));
    EXPECT_EQ(Reply(), answer);
    EXPECT_TRUE(fake.reads.empty());
  }
  // The last one-byte read was offered the room behind the held partial reply.
  const std::vector<DWORD> sizes = ReadSizes();
  EXPECT_EQ(sizes.back(), kCollectionBufferSize - 1 - (answer.size() - 1));
}

struct StreamCase {
  const char* name;
  std::string stream;
  std::string expected;  // empty: no match
};

TEST_F(PjlExchange, PicksFirstMatchingReplyFromStream) {
  const std::string q = Query();
  const std::string lfOnly = q.substr(0, q.size() - 2) + "\n";
  std::string lower = q;
  lower[1] = 'p';
  const StreamCase cases[] = {
      {"noise before @", "garbage\r\n\f" + Answer(q), Answer(q)},
      {"stale reply first", Answer("@PJL DMINFO ASCIIHEX=\"0000050103030108\"\r\n") + Answer(q),
       Answer(q)},
      {"repeats the request up to its CR only", q.substr(0, q.size() - 1) + "data\f",
       q.substr(0, q.size() - 1) + "data\f"},
      {"two matching replies", Answer(q, "0401aa") + Answer(q, "0401bb"), Answer(q, "0401aa")},
      {"echo ending in LF alone", Answer(lfOnly), ""},
      {"echo in other letter case", Answer(lower), ""},
      {"reply shorter than the request", q.substr(0, 20) + "\f", ""},
      {"no form feed yet", q + "\"800000", ""},
      {"noise only", std::string(300, 'z'), ""},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake.reads.clear();
    fake.QueueRead(c.stream);
    std::memset(reply, '#', sizeof reply);
    length = 0xDEAD;
    const BOOL matched = Exchange(q);
    EXPECT_EQ(matched, !c.expected.empty());
    if (matched) {
      EXPECT_EQ(Reply(), c.expected);
    } else {
      ExpectReplyUntouched();
    }
  }
}

TEST_F(PjlExchange, PartialReplyFillingTheBufferStarvesLaterReads) {
  fake.QueueRead("@" + std::string(kCollectionBufferSize - 2, 'x'));  // 5119 bytes, no form feed
  fake.QueueRead(Answer(Query()));
  EXPECT_FALSE(Exchange(Query()));
  ExpectReplyUntouched();
  const std::vector<DWORD> sizes = ReadSizes();
  ASSERT_GT(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], kCollectionBufferSize - 1);
  for (std::size_t i = 1; i < sizes.size(); ++i) ASSERT_EQ(sizes[i], 0u) << i;
}

TEST_F(PjlExchange, RefusesReplyTooLongForTheReplyBuffer) {
  const std::string q = Query();
  const std::string base = Answer(q);
  auto answerOfLength = [&](std::size_t n) {
    return base.substr(0, base.size() - 1) + std::string(n - base.size(), ' ') + "\f";
  };
  const std::string longest = answerOfLength(kMaxReplyLength);
  const std::string tooLong = answerOfLength(kMaxReplyLength + 1);
  ASSERT_EQ(tooLong.size(), kReplyBufferSize);

  fake.QueueRead(longest);
  ASSERT_TRUE(Exchange(q));
  EXPECT_EQ(Reply(), longest);
  EXPECT_EQ(reply[kMaxReplyLength], '#');

  // A reply that would fill the buffer is passed over; the next one counts.
  std::memset(reply, '#', sizeof reply);
  fake.QueueRead(tooLong + std::string(600, 'y') + "\f" + base);
  ASSERT_TRUE(Exchange(q));
  EXPECT_EQ(Reply(), base);

  std::memset(reply, '#', sizeof reply);
  length = 0xDEAD;
  fake.QueueRead(tooLong);
  EXPECT_FALSE(Exchange(q));
  ExpectReplyUntouched();
}

TEST_F(PjlExchange, FailedOrShortWriteReadsNothing) {
  fake.QueueRead(Answer(Query()));
  fake.shortWriteBy = 1;
  EXPECT_FALSE(Exchange(Query()));
  fake.shortWriteBy = 0;
  fake.failWritePort = true;
  EXPECT_FALSE(Exchange(Query()));
  fake.failWritePort = false;
  ClearFlags(entry, PortActive);  // the port operations refuse to forward
  EXPECT_FALSE(Exchange(Query()));
  EXPECT_TRUE(ReadSizes().empty());
  ExpectReplyUntouched();
  EXPECT_FALSE(ExchangeQuery(entry, "", reply, &length));
}

// A reply that completes on the n-th read, with one virtual second between
// the clock readings.
struct LateCase {
  DWORD startTick;
  int silentReads;
  BOOL answered;
};

TEST_F(PjlExchange, TimeLimitRunsFromTheWriteInUnsignedTicks) {
  const LateCase cases[] = {
      {0, 3, TRUE},           {0, 4, FALSE},         {0xFFFFFC18, 3, TRUE},
      {0xFFFFFC18, 4, FALSE}, {0xFFFFFFFF, 3, TRUE}, {0xFFFFFFFF, 4, FALSE},
  };
  scope.step = 1000;
  for (const LateCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.startTick) + "/" + std::to_string(c.silentReads));
    fake.reads.clear();
    scope.now = c.startTick;
    for (int i = 0; i < c.silentReads; ++i) fake.QueueRead("");
    fake.QueueRead(Answer(Query()));
    EXPECT_EQ(Exchange(Query()), c.answered);
  }
}

std::string EchoAnswer(DWORD seed) {
  char request[kEchoRequestSize];
  BuildEchoRequest(request, EchoToken(seed));
  return std::string(request) + "\f";
}

TEST_F(PjlExchange, EchoProbeSendsTokenAndWaitsForItsEcho) {
  // The probe seeds with the current second; answer for this one and the
  // next, the wrong one is passed over like a stale reply.
  const DWORD now = static_cast<DWORD>(std::time(nullptr));
  fake.QueueRead(EchoAnswer(now) + EchoAnswer(now + 1));
  ASSERT_TRUE(SendEchoProbe(entry));
  const std::string written = fake.Written();
  EXPECT_TRUE(written + "\f" == EchoAnswer(now) || written + "\f" == EchoAnswer(now + 1))
      << written;

  // Answered in the fifth second: too late.
  scope.step = 1000;
  for (int i = 0; i < 4; ++i) fake.QueueRead("");
  fake.QueueRead(EchoAnswer(now) + EchoAnswer(now + 1));
  EXPECT_FALSE(SendEchoProbe(entry));

  // An echo of an earlier probe with another token is not an answer.
  fake.reads.clear();
  fake.QueueRead("@PJL ECHO Getting Configuration99999\r\n\f");
  EXPECT_FALSE(SendEchoProbe(entry));
}

TEST(PjlEchoProbe, TokenGeneratorAndRequestText) {
  EXPECT_EQ(EchoToken(1), 16838u);  // the classic sample generator's first number
  EXPECT_EQ(EchoToken(0), 0u);
  for (DWORD seed = 0; seed < 200000; seed += 7) ASSERT_LE(EchoToken(seed), kEchoTokenMax);

  char request[kEchoRequestSize];
  EXPECT_EQ(BuildEchoRequest(request, 815), 36u);
  EXPECT_STREQ(request, "@PJL ECHO Getting Configuration815\r\n");
  BuildEchoRequest(request, 0);
  EXPECT_STREQ(request, "@PJL ECHO Getting Configuration0\r\n");
  EXPECT_EQ(BuildEchoRequest(request, kEchoTokenMax), 38u);
  EXPECT_STREQ(request, "@PJL ECHO Getting Configuration32767\r\n");
}

TEST(PjlScanReply, KeepsOnePartialReplyAtTheFront) {
  const char request[] = "@Q\r\n";
  char collection[kCollectionBufferSize] = {};
  char replyBuffer[kReplyBufferSize];
  DWORD replyLength = 0;

  std::strcpy(collection, "xx\f@stale\f@Q\rpart");
  DWORD held = static_cast<DWORD>(std::strlen(collection));
  EXPECT_FALSE(ScanReply(request, 3, replyBuffer, &replyLength, collection, &held));
  EXPECT_EQ(std::string(collection, held), "@Q\rpart");

  std::strcpy(collection + held, "\fnext@");
  held += 6;
  ASSERT_TRUE(ScanReply(request, 3, replyBuffer, &replyLength, collection, &held));
  EXPECT_EQ(std::string(replyBuffer, replyLength), "@Q\rpart\f");
  EXPECT_EQ(std::string(collection, held), "next@");

  std::strcpy(collection, "no marker at all");
  held = 16;
  EXPECT_FALSE(ScanReply(request, 3, replyBuffer, &replyLength, collection, &held));
  EXPECT_EQ(held, 0u);
}

}  // namespace
}  // namespace langmon
