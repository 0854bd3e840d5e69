// The langmon command as a process against loopback servers that misbehave:
// what it reports, how many connections it makes, and that it ends within
// its time limit whatever the server does.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "build_paths.h"
#include "hang_limit.h"
#include "misbehaving_server.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

using langmon::testing::MisbehavingServer;
using langmon::testing::Misbehaviour;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using langmon::testing::kHangLimit;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(MisbehavingPrinter, AJobTheServerDroppedIsNeverReportedAsSent) {
  MisbehavingServer server(Misbehaviour::AcceptAndClose);
  const std::string job = TempPath("300k.bin");
  WriteFile(job, std::string(300000, 'j'));
  // Whether a write or the end of the document meets the close is a race:
  // several runs see both.
  for (int i = 0; i < 5; ++i) {
    const ProcessResult r = RunLangmon({"print", job, "--printer", server.Uri()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "") << "neither sent nor released";
    EXPECT_EQ(r.err.rfind("langmon: error: job 1 failed: ", 0), 0u) << r.err;
    // A printer that closes with data unread drops it: what its TCP
    // acknowledged is not passed off as having reached it.
    const bool none = r.err.find(
                          "; none of the 300000 bytes is known to have reached the "
                          "printer: it acknowledged ") != std::string::npos;
    EXPECT_TRUE(none || r.err.ends_with("; 0 of 300000 bytes reached the printer\n")) << r.err;
  }
  const ProcessResult config = RunLangmon({"config", "--printer", server.Uri()});
  EXPECT_EQ(config.status, 1) << config.err;
  // What its TCP acknowledged before it closed is not what reached it, and
  // the monitor's release is no delivery.
  const ProcessResult json =
      RunLangmon({"print", "-", "--json", "--printer", server.Uri()}, "hi\f");
  const auto object = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_TRUE(object.is_object()) << json.out << json.err;
  EXPECT_EQ(object["delivered"], false);
  EXPECT_EQ(object["bytesReachedPrinter"], 0);
}

// A request goes out in writes that the kernel takes at once; only the
// printer's acknowledgement and a close without a reset say it arrived. A
// printer that closes unread resets instead, every time.
TEST(MisbehavingPrinter, ARequestThePrinterDidNotTakeIsAPortFailure) {
  MisbehavingServer server(Misbehaviour::AcceptAndClose);
  const std::vector<std::vector<std::string>> requests = {
      {"apply", "--settings", std::string(build_paths::kExamples) + "/settings.reg"},
      {"set", "Copies=2"},
      {"testpage", "--page", "19"},
      {"testpage", "--page", "19", "--json"},
  };
  for (int run = 0; run < 3; ++run)
    for (std::vector<std::string> args : requests) {
      SCOPED_TRACE(args[0] + " " + args.back());
      args.insert(args.end(), {"--printer", server.Uri()});
      const ProcessResult r = RunLangmon(args);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(r.out.find("sent"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("was asked"), std::string::npos) << r.out;
      EXPECT_NE(r.err.find(" failed: "), std::string::npos) << r.err;
      if (args.back() == "--json" || args[args.size() - 3] == "--json") {
        const auto json = nlohmann::json::parse(r.out, nullptr, false);
        EXPECT_EQ(json.value("exitStatus", 0), 1) << r.out;
        EXPECT_FALSE(json.contains("page")) << r.out;
      }
    }
}

// A printer that never reads is waited for, as one out of paper must be,
// but the wait is not silent.
TEST(MisbehavingPrinter, APrinterThatTakesNothingIsNamedWhileTheJobWaits) {
  MisbehavingServer stuck(Misbehaviour::NeverRead);
  const std::string job = TempPath("32M-quiet.bin");
  WriteFile(job, std::string(32u << 20, 'j'));
  const ProcessResult r =
      RunLangmon({"print", job, "--printer", stuck.Uri(), "--timeout", "7"}, "", kHangLimit);
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("langmon: warning: the printer has taken nothing for 5 s; still waiting"),
            std::string::npos)
      << r.err;
}

// A printer that answers, but not the query it was asked, goes unanswered:
// the monitor refuses a reply that does not repeat its query, and says so.
TEST(MisbehavingPrinter, RepliesToOtherQueriesAreNamedAsRefused) {
  MisbehavingServer server(Misbehaviour::WrongReplies);
  const ProcessResult r =
      RunLangmon({"config", "--printer", server.Uri(), "--timeout", "3"}, "", kHangLimit);
  EXPECT_NE(r.err.find("warning: the printer did not answer "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" no query, which the monitor refuses"), std::string::npos) << r.err;
}

// The time limit that cuts a request short while it waits for a reply is
// named as such, not as a port that failed before anything was sent.
TEST(MisbehavingPrinter, ATimeLimitWhileWaitingForAReplySaysSo) {
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  for (const std::string& printer : {silent.Uri(), std::string("file:/dev/null")}) {
    SCOPED_TRACE(printer);
    const ProcessResult r =
        RunLangmon({"config", "--printer", printer, "--timeout", "1"}, "", kHangLimit);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("langmon: error: GetConfigObjects was cut short: the time limit"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("before sending"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("port failed"), std::string::npos) << r.err;
  }
}

TEST(MisbehavingPrinter, AFailedConnectIsMadeOncePerRequest) {
  MisbehavingServer server(Misbehaviour::FullBacklog);
  for (const std::vector<std::string>& request :
       {std::vector<std::string>{"config"},
        std::vector<std::string>{"apply", "--settings",
                                 std::string(build_paths::kExamples) + "/settings.reg"}}) {
    SCOPED_TRACE(request[0]);
    std::vector<std::string> args = request;
    args.insert(args.end(), {"--printer", server.Uri(), "--connect-timeout", "1", "--trace"});
    const ProcessResult r = RunLangmon(args);
    EXPECT_EQ(r.status, 1);
    // The entry text's connect times out; the exit text does not try again.
    EXPECT_EQ(Count(r.err, "!! WritePort failed, error 1460: cannot connect"), 1u) << r.err;
    EXPECT_EQ(Count(r.err, "it failed earlier in this request"), 1u) << r.err;
    EXPECT_NE(r.err.find("failed: cannot connect to 127.0.0.1:" + std::to_string(server.Port()) +
                         ": no answer within 1000 ms"),
              std::string::npos)
        << r.err;
  }
}

TEST(MisbehavingPrinter, AConnectionResetMidRequestEndsTheRequestOnItsOneConnection) {
  // Three replies (the probe and two queries), then a reset when the third
  // query comes: the reset meets the exchange waiting for its reply.
  MisbehavingServer server(Misbehaviour::ResetAfterReplies, 3);
  const ProcessResult r = RunLangmon({"config", "--json", "--trace", "--printer", server.Uri()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(server.Connections(), 1u);
  const std::string received = server.Received();
  EXPECT_EQ(Count(received, "\x1b%-12345X@PJL \n"), 1u);
  EXPECT_EQ(Count(received, "@PJL DMINFO"), 3u) << "nothing after the reset";
  // The exchange that met the reset stops waiting at once instead of
  // polling a dead connection for the monitor's five seconds.
  EXPECT_EQ(Count(r.err, "!! ReadPort failed"), 1u) << r.err;
  const auto json = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << r.out;
  EXPECT_EQ(json["source"], "printer");
  EXPECT_NE(json["portFailure"].get<std::string>().find("reset"), std::string::npos);
}

TEST(MisbehavingPrinter, GarbageIsNoAnswerAndBreaksNothing) {
  MisbehavingServer server(Misbehaviour::Garbage);
  const ProcessResult config = RunLangmon({"config", "--json", "--printer", server.Uri()});
  const auto json = nlohmann::json::parse(config.out, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << config.out << config.err;
  EXPECT_EQ(json["source"], "defaults");
  EXPECT_FALSE(json.contains("portFailure")) << config.err;
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_EQ(Count(server.Received(), "@PJL DMINFO"), 0u);
  // A job goes through whatever the printer chatters back.
  const ProcessResult print = RunLangmon({"print", "-", "--printer", server.Uri()}, "job data");
  EXPECT_EQ(print.status, 0) << print.err;
  EXPECT_EQ(print.out, "job 1: sent 8 bytes to LPT1: (" + server.Uri() + ")\njob 1 released\n");
}

TEST(MisbehavingPrinter, EveryCommandEndsAtItsTimeLimit) {
  // Without the limit each of these would take from five seconds (the probe
  // nobody answers) to minutes; with it, two seconds. They run side by side.
  MisbehavingServer backlog(Misbehaviour::FullBacklog);
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  MisbehavingServer slow(Misbehaviour::SlowReplies, 0, 2s);
  MisbehavingServer stuck(Misbehaviour::NeverRead);
  const std::string job = TempPath("32M.bin");
  WriteFile(job, std::string(32u << 20, 'j'));
  const std::vector<std::vector<std::string>> runs = {
      {"config", "--printer", backlog.Uri()},
      {"apply", "--settings", std::string(build_paths::kExamples) + "/settings.reg", "--printer",
       backlog.Uri()},
      {"testpage", "--page", "19", "--printer", backlog.Uri()},
      {"config", "--printer", silent.Uri()},
      {"config", "--json", "--printer", slow.Uri()},
      {"print", job, "--printer", stuck.Uri()},
  };
  std::vector<std::future<std::pair<ProcessResult, Clock::duration>>> results;
  for (std::vector<std::string> args : runs) {
    args.insert(args.end(), {"--timeout", "2", "--connect-timeout", "60"});
    results.push_back(std::async(std::launch::async, [args] {
      const auto start = Clock::now();
      ProcessResult r = RunLangmon(args, "", kHangLimit + 10s);
      return std::make_pair(std::move(r), Clock::now() - start);
    }));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i][0] + " " + runs[i].back());
    const auto [r, took] = results[i].get();
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("langmon: error: the time limit of 2 s (--timeout) ran out before the "
                         "command had finished\n"),
              std::string::npos)
        << r.err;
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 20s);
  }
}

}  // namespace
}  // namespace langmon::host::testing
