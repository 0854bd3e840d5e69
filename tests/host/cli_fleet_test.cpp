// langmon on many printers at once: each printer's result is the one a
// single run gives, a printer that is silent, resets or cannot be reached
// costs the others nothing, the output is one JSON line or CSV row per
// printer, and a worker process that dies is reported as its printers'
// error while the others finish.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "build_paths.h"
#include "hang_limit.h"
#include "misbehaving_server.h"
#include "process.h"

extern char** environ;

namespace langmon::host::testing {
namespace {

using langmon::testing::MisbehavingServer;
using langmon::testing::Misbehaviour;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

using langmon::testing::kHangLimit;
// What a printer that never answers costs a read: the monitor's 5 s probe.
constexpr auto kSilentCost = 5s;

// The key line of a printer's driver-data key in a REGEDIT4 file.
std::string PrinterKey(const std::string& printer) {
  return "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\" + printer +
         "\\PrinterDriverData]\n";
}

std::string PrintersFile(const std::string& lines) {
  const std::string path = TempPath("printers.txt");
  WriteFile(path, lines);
  return path;
}

// The JSON lines of a fleet, by printer name.
std::map<std::string, Json> ByName(const std::string& out) {
  std::map<std::string, Json> objects;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    Json object = Json::parse(line, nullptr, false);
    EXPECT_TRUE(object.is_object()) << "not one JSON object: " << line;
    if (object.is_object()) objects[object.value("name", "")] = object;
  }
  return objects;
}

// What a fleet's object and a single run's object share: everything but
// where the printer sat (port), the fleet's own fields and the time.
Json Comparable(Json object) {
  for (const char* key : {"uri", "name", "port", "seconds", "answered", "asked"}) object.erase(key);
  return object;
}

Json ParseJson(const ProcessResult& r) {
  Json json = Json::parse(r.out, nullptr, false);
  EXPECT_TRUE(json.is_object()) << r.out << r.err;
  return json.is_object() ? json : Json::object();
}

// A port on which nothing listens.
unsigned ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// langmon running in the background, its output going to files.
struct Background {
  pid_t pid = -1;
  std::string out = TempPath("fleet.out"), err = TempPath("fleet.err");
};

Background Start(const std::vector<std::string>& args) {
  Background b;
  std::vector<std::string> all = {build_paths::kCli};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, b.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, b.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(posix_spawn(&b.pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return b;
}

// The command's result once it ends; a run that reads a silent printer
// again after its worker died needs 10 to 15 s, so the bound is Run's.
ProcessResult Wait(const Background& b) {
  ProcessResult r;
  r.status = WaitForExit(b.pid, "langmon", 120s);
  r.out = ReadFile(b.out);
  r.err = ReadFile(b.err);
  return r;
}

std::set<pid_t> Children(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::set<pid_t> children;
  for (pid_t child; in >> child;) children.insert(child);
  return children;
}

// Waits for a worker of `parent` that is not among `seen` and kills it once
// `out` holds `done` (the answering printer's line: only the silent printer
// is in flight then).
pid_t KillANewWorker(pid_t parent, const std::set<pid_t>& seen, const std::string& out = "",
                     const std::string& done = "") {
  const auto start = Clock::now();
  while (Clock::now() - start < kHangLimit) {
    for (pid_t child : Children(parent))
      if (!seen.contains(child)) {
        while (ReadFile(out).find(done) == std::string::npos && Clock::now() - start < kHangLimit)
          std::this_thread::sleep_for(10ms);
        kill(child, SIGKILL);
        return child;
      }
    std::this_thread::sleep_for(10ms);
  }
  ADD_FAILURE() << "no new worker appeared";
  return -1;
}

// Every kind of printer in one fleet: each answering printer's object is the
// one a single run gives; the silent one falls back to the defaults; the
// resetting and the unreachable one fail; none of them holds up the others.
TEST(CliFleet, EachPrinterGetsItsOwnResultAndNoneDelaysTheOthers) {
  PrinterServer first, second({"--objects", std::string(build_paths::kExamples) + "/printer.json"});
  PrinterServer resets({"--reset-after", "1"});
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  const std::string closed = "socket://127.0.0.1:" + std::to_string(ClosedPort());
  const std::string file =
      PrintersFile("# one of each\n" + first.Uri() + " first\n" + second.Uri() + "  second\n\n" +
                   silent.Uri() + " silent\n" + resets.Uri() + " resets\n" + closed + "\n");
  const auto single = [](const std::string& uri, const std::string& name) {
    return std::async(std::launch::async, [uri, name] {
      return RunLangmon({"config", "--json", "--printer", uri, "--printer-name", name});
    });
  };
  auto alone = single(first.Uri(), "first");
  auto secondAlone = single(second.Uri(), "second");
  auto silentAlone = single(silent.Uri(), "silent");
  const ProcessResult r = RunLangmon({"config", "--json", "--printers", file});
  EXPECT_EQ(r.status, 1) << r.err;
  std::map<std::string, Json> objects = ByName(r.out);
  ASSERT_EQ(objects.size(), 5u) << r.out;
  EXPECT_EQ(Comparable(objects["first"]), Comparable(ParseJson(alone.get())));
  EXPECT_EQ(Comparable(objects["second"]), Comparable(ParseJson(secondAlone.get())));
  EXPECT_EQ(Comparable(objects["silent"]), Comparable(ParseJson(silentAlone.get())));
  EXPECT_EQ(objects["first"]["answered"], objects["first"]["asked"]);
  EXPECT_EQ(objects["silent"]["source"], "defaults");
  EXPECT_EQ(objects["silent"]["exitStatus"], 3);
  EXPECT_EQ(objects["resets"]["exitStatus"], 1);
  EXPECT_NE(objects["resets"].dump().find("reset"), std::string::npos) << objects["resets"];
  EXPECT_EQ(objects["langmon-5"]["uri"], closed) << "unnamed: named after its position";
  EXPECT_NE(objects["langmon-5"].value("cause", "").find("refused"), std::string::npos);
  for (const char* name : {"first", "second", "resets", "langmon-5"})
    EXPECT_LT(objects[name]["seconds"].get<double>(),
              std::chrono::duration<double>(kSilentCost).count())
        << name << " waited for the silent printer";
  EXPECT_NE(r.err.find("2 of 5 printers failed: resets, langmon-5"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 of 5 printers did not answer fully: silent"), std::string::npos);
}

TEST(CliFleet, CsvHasOneRowPerPrinterAndQuotesWhatNeedsIt) {
  PrinterServer server;
  const std::string file =
      PrintersFile(server.Uri() + " sales,\"2nd\"\n" + server.Uri() + " =cmd\nsim: plain\n");
  const ProcessResult r = RunLangmon({"config", "--csv", "--printers", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_TRUE(lines[0].starts_with("uri,name,exitStatus,source,answered,seconds,error,Copies,"));
  const auto columns = [](const std::string& line) {
    std::size_t count = 1;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (c == ',' && !quoted) ++count;
    }
    return count;
  };
  for (const std::string& line : lines) EXPECT_EQ(columns(line), columns(lines[0])) << line;
  std::string rows = lines[1] + "\n" + lines[2] + "\n" + lines[3];
  EXPECT_NE(rows.find(",\"sales,\"\"2nd\"\"\",0,printer,"), std::string::npos) << rows;
  EXPECT_NE(rows.find(",'=cmd,0,"), std::string::npos) << "no formula: " << rows;
  EXPECT_NE(rows.find("sim:,plain,0,printer,"), std::string::npos) << rows;
}

TEST(CliFleet, TextShowsOneLinePerPrinterAndApplyRunsOnEach) {
  const std::string settings =
      SettingsFile("\"dwCfgFlags\"=dword:00000001\n\"dwCopies\"=dword:00000003\n");
  const ProcessResult read = RunLangmon({"config", "--printer", "sim:", "--printer", "sim:"});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("langmon-1 (sim:): printer, "), std::string::npos) << read.out;
  EXPECT_NE(read.out.find("langmon-2 (sim:): printer, "), std::string::npos) << read.out;
  EXPECT_EQ(read.err, "") << "no summary when every printer answered fully";
  const ProcessResult apply = RunLangmon(
      {"apply", "--json", "--settings", settings, "--printer", "sim:", "--printer", "sim:"});
  EXPECT_EQ(apply.status, 0) << apply.err;
  for (auto& [name, object] : ByName(apply.out))
    EXPECT_EQ(object["sent"], Json::array({"Copies"})) << name;
}

TEST(CliFleet, AFileOfSeveralPrintersSettingsGivesEachPrinterItsOwn) {
  const std::string settings = TempPath("several.reg");
  WriteFile(settings, "REGEDIT4\n\n" + PrinterKey("a") +
                          "\"dwCfgFlags\"=dword:00000001\n\"dwCopies\"=dword:00000003\n\n" +
                          PrinterKey("b") +
                          "\"dwCfgFlags\"=dword:00000002\n\"dwDarkCourier\"=dword:00000001\n\n" +
                          PrinterKey("stranger") + "\"dwCfgFlags\"=dword:00000001\n");
  const std::string printers = TempPath("several.txt");
  WriteFile(printers, "sim: a\nsim: B\n");  // a key name matches in any letter case
  const ProcessResult apply =
      RunLangmon({"apply", "--json", "--settings", settings, "--printers", printers});
  EXPECT_EQ(apply.status, 0) << apply.err;
  auto results = ByName(apply.out);
  EXPECT_EQ(results["a"]["sent"], Json::array({"Copies"}));
  EXPECT_EQ(results["B"]["sent"], Json::array({"DarkCourier"}));
  // The other printers' keys are theirs, not left out of each printer's
  // run; only the printer the fleet does not name is.
  for (auto& [name, object] : results) EXPECT_FALSE(object.contains("warnings")) << object;
  EXPECT_NE(apply.err.find("left out the settings of 1 printer that the fleet does not name: "
                           "\"stranger\""),
            std::string::npos)
      << apply.err;
}

// Wrong input is refused with exit status 2, before any printer is contacted.
TEST(CliFleet, RefusesWrongInputBeforeContactingAnyPrinter) {
  MisbehavingServer printer(Misbehaviour::NeverAnswer);
  const std::string good = printer.Uri() + " good\n";
  const struct {
    std::vector<std::string> args;
    std::string file;  // the printers file, when there is one
    const char* message;
  } cases[] = {
      {{"config"}, good + "socket://:1\n", ":2: "},
      {{"config"}, "# first\n" + good + printer.Uri() + " a b\n", ":3: expected a device URI"},
      {{"config"}, good + "sim: good\n", ":2: the printer name \"good\" is given"},
      {{"config"}, good + "sim: GOOD\n", ":2: the printer name \"GOOD\" is given"},
      {{"config"}, "# nothing\n\n", "names no printer"},
      {{"config", "--port", "LPT2:"}, good, "--port is for one printer"},
      {{"config", "--printer-name", "x"}, good, "--printer-name is for one printer"},
      {{"config", "--reg", "x.reg"}, good, "--reg is for one printer"},
      {{"config", "--json", "--csv"}, good, "exclude each other"},
      {{"config", "--jobs", "0"}, good, "--jobs"},
      {{"config", "--jobs", "100000"}, good, "--jobs"},
      {{"device-id"}, good, "device-id does not run on several printers"},
      {{"set", "Copies=x"}, good, "nothing was set"},
      {{"apply"}, good, "apply needs the stored settings"},
      {{"config", "--printers", "/nonexistent/printers"}, "", "cannot open the printers file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (!c.file.empty()) args.insert(args.end(), {"--printers", PrintersFile(c.file)});
    const ProcessResult r = RunLangmon(args);
    EXPECT_EQ(r.status, 2) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(printer.Connections(), 0u);
}

// --timeout bounds the whole fleet: printers that never answer are stopped
// and reported as timed out.
TEST(CliFleet, TimeoutCutsAFleetOfSilentPrintersShort) {
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  const std::string file =
      PrintersFile(silent.Uri() + " a\n" + silent.Uri() + " b\n" + silent.Uri() + " c\n");
  const auto start = Clock::now();
  const ProcessResult r =
      RunLangmon({"config", "--json", "--timeout", "1", "--jobs", "2", "--printers", file});
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_GE(elapsed, 1s);
  EXPECT_LT(elapsed, kHangLimit);
  const std::map<std::string, Json> objects = ByName(r.out);
  ASSERT_EQ(objects.size(), 3u) << r.out;
  for (const auto& [name, object] : objects) EXPECT_EQ(object["exitStatus"], 4) << name;
  EXPECT_NE(r.err.find("3 of 3 printers were not done"), std::string::npos) << r.err;
}

// A worker that cannot end its printers itself at the time limit (here it is
// stopped) is killed by the parent once the grace after the limit is over,
// and its printers are reported as cut short.
TEST(CliFleet, TheTimeLimitEndsAWorkerThatDoesNotEndItself) {
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  const std::string file = PrintersFile(silent.Uri() + " stuck\n");
  const auto start = Clock::now();
  const Background run = Start({"config", "--json", "--timeout", "1", "--printers", file});
  pid_t worker = -1;
  while (worker < 0 && Clock::now() - start < kHangLimit) {
    const std::set<pid_t> children = Children(run.pid);
    if (children.empty())
      std::this_thread::sleep_for(10ms);
    else
      worker = *children.begin();
  }
  ASSERT_GT(worker, 0) << "no worker started";
  ASSERT_EQ(kill(worker, SIGSTOP), 0);
  // Without the parent's kill, the command would wait for the stopped
  // worker for ever.
  const auto ended = [&run] {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
  };
  while (!ended() && Clock::now() - start < kHangLimit) std::this_thread::sleep_for(10ms);
  if (Clock::now() - start >= kHangLimit) {
    ADD_FAILURE() << "the command did not end at its time limit";
    kill(worker, SIGKILL);
  }
  const ProcessResult r = Wait(run);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_GE(elapsed, 1500ms) << "killed before the grace after the limit was over";
  EXPECT_LT(elapsed, kHangLimit);
  std::map<std::string, Json> objects = ByName(r.out);
  ASSERT_EQ(objects.size(), 1u) << r.out << r.err;
  EXPECT_EQ(objects["stuck"]["exitStatus"], 4);
  EXPECT_NE(objects["stuck"].dump().find("stopped while still waiting"), std::string::npos)
      << objects["stuck"];
}

// A worker killed while it reads a silent printer: the printer is read again
// alone and falls back to the defaults as usual; killed again, the printer's
// error names the signal. The answering printer is done either way.
TEST(CliFleet, ADeadWorkersPrinterRunsAgainAloneOnce) {
  PrinterServer answering;
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  const std::string file =
      PrintersFile(answering.Uri() + " answering\n" + silent.Uri() + " silent\n");
  for (int kills : {1, 2}) {
    SCOPED_TRACE(kills);
    const Background run = Start({"config", "--json", "--printers", file});
    std::set<pid_t> seen;
    for (int k = 0; k < kills; ++k)
      seen.insert(KillANewWorker(run.pid, seen, run.out, "\"name\":\"answering\""));
    const ProcessResult r = Wait(run);
    std::map<std::string, Json> objects = ByName(r.out);
    ASSERT_EQ(objects.size(), 2u) << r.out << r.err;
    EXPECT_EQ(objects["answering"]["exitStatus"], 0);
    if (kills == 1) {
      EXPECT_EQ(r.status, 3) << r.err;
      EXPECT_EQ(objects["silent"]["source"], "defaults");
    } else {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(objects["silent"].value("error", "").find("SIGKILL"), std::string::npos)
          << objects["silent"];
    }
  }
}

// A test page is never asked twice: a worker that dies while asking for one
// leaves the printer failed, with no second worker started for it.
TEST(CliFleet, ATestPageIsNotAskedAgainAfterItsWorkerDied) {
  MisbehavingServer unreachable(Misbehaviour::FullBacklog);
  const Background run =
      Start({"testpage", "--json", "--page", "17", "--jobs", "1", "--printer", unreachable.Uri()});
  const pid_t killed = KillANewWorker(run.pid, {});
  const ProcessResult r = Wait(run);
  EXPECT_EQ(r.status, 1) << r.err;
  std::map<std::string, Json> objects = ByName(r.out);
  ASSERT_EQ(objects.size(), 1u) << r.out;
  EXPECT_NE(objects["langmon-1"].value("cause", "").find("not known whether the test page"),
            std::string::npos)
      << objects["langmon-1"];
  EXPECT_GT(killed, 0);
}

// Whether a process has ended (gone, or a zombie nobody reaped yet).
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

bool AllEndWithin(const std::set<pid_t>& pids, std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  for (pid_t pid : pids)
    while (!Ended(pid))
      if (Clock::now() - start > limit)
        return false;
      else
        std::this_thread::sleep_for(10ms);
  return true;
}

// A stop signal to the parent alone (kill PID, a service manager's SIGTERM,
// a closed terminal's SIGHUP): the workers are stopped with it, the printers
// done so far keep their lines, the others are reported as cut short, and
// the status is the one a shell gives a program the signal ended.
TEST(CliFleet, AStopSignalEndsTheWorkersAndReportsWhatWasDone) {
  PrinterServer answering;
  MisbehavingServer slow(Misbehaviour::ProbeOnly);  // each read would take 90 s
  std::string lines = answering.Uri() + " answering\n";
  for (int i = 1; i <= 12; ++i) lines += slow.Uri() + " silent-" + std::to_string(i) + "\n";
  const std::string file = PrintersFile(lines);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    const Background run = Start({"config", "--json", "--printers", file});
    const auto start = Clock::now();
    while (ReadFile(run.out).find("\"name\":\"answering\"") == std::string::npos &&
           Clock::now() - start < kHangLimit)
      std::this_thread::sleep_for(10ms);
    const std::set<pid_t> workers = Children(run.pid);
    ASSERT_FALSE(workers.empty());
    ASSERT_EQ(kill(run.pid, sig), 0);
    const ProcessResult r = Wait(run);
    EXPECT_EQ(r.status, 128 + sig) << r.err;
    EXPECT_TRUE(AllEndWithin(workers, kHangLimit)) << "a worker outlived its fleet";
    std::map<std::string, Json> objects = ByName(r.out);
    ASSERT_EQ(objects.size(), 13u) << r.out;
    EXPECT_EQ(objects["answering"]["exitStatus"], 0);
    EXPECT_EQ(objects["silent-7"]["exitStatus"], 128 + sig);
    EXPECT_NE(objects["silent-7"].value("error", "").find("langmon was stopped by SIG"),
              std::string::npos)
        << objects["silent-7"];
    EXPECT_NE(r.err.find("12 of 13 printers were cut short when langmon was stopped by SIG"),
              std::string::npos)
        << r.err;
  }
}

// Killed outright, the parent can report nothing, but its workers do not
// run on without it.
TEST(CliFleet, NoWorkerOutlivesAParentKilledOutright) {
  MisbehavingServer slow(Misbehaviour::ProbeOnly);  // each read would take 90 s
  const std::string file = PrintersFile(slow.Uri() + " a\n" + slow.Uri() + " b\n");
  const Background run = Start({"config", "--printers", file});
  const auto start = Clock::now();
  while (Children(run.pid).empty() && Clock::now() - start < kHangLimit)
    std::this_thread::sleep_for(10ms);
  const std::set<pid_t> workers = Children(run.pid);
  ASSERT_FALSE(workers.empty());
  ASSERT_EQ(kill(run.pid, SIGKILL), 0);
  EXPECT_EQ(Wait(run).status, 128 + SIGKILL);
  EXPECT_TRUE(AllEndWithin(workers, kHangLimit));
}

// What the printer did not give has no value in CSV or JSON, as the table
// shows "-": not a 0 the monitor left in the record.
TEST(CliFleet, CsvAndJsonShowNoValueThePrinterDidNotGive) {
  const std::string objects = TempPath("no-copies.json");
  WriteFile(objects, R"({"objects": {"050103030104": null}})");
  PrinterServer server({"--objects", objects});
  const std::string file = PrintersFile(server.Uri() + " p\n");
  const ProcessResult csv = RunLangmon({"config", "--csv", "--printers", file});
  EXPECT_EQ(csv.status, 3) << csv.err;
  std::istringstream in(csv.out);
  std::string header, row;
  std::getline(in, header);
  std::getline(in, row);
  const auto field = [](const std::string& line, const std::string& name, const std::string& h) {
    std::vector<std::string> names, values;
    std::istringstream hs(h), vs(line);
    for (std::string f; std::getline(hs, f, ',');) names.push_back(f);
    for (std::string f; std::getline(vs, f, ',');) values.push_back(f);
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return i < values.size() ? values[i] : std::string();
    return std::string("no such column");
  };
  EXPECT_EQ(field(row, "Copies", header), "") << row;    // not answered
  EXPECT_EQ(field(row, "TestPage", header), "") << row;  // never asked
  EXPECT_EQ(field(row, "Density", header), "6") << row;
  const ProcessResult json = RunLangmon({"config", "--json", "--printers", file});
  Json object = ByName(json.out)["p"];
  ASSERT_TRUE(object.contains("settings")) << json.out;
  EXPECT_TRUE(object["settings"][0]["value"].is_null()) << object["settings"][0];
  EXPECT_EQ(object["settings"][0]["driverValue"], 0);
  EXPECT_TRUE(object["settings"][22]["value"].is_null()) << object["settings"][22];
}

// Windows queue names hold blanks: a printers file names them in quotes or
// with a backslash, and a comment may follow. A multi-printer .reg for such
// queues then applies as a fleet.
TEST(CliFleet, PrinterNamesWithBlanksAreQuotedOrEscaped) {
  const std::string settings = TempPath("queues.reg");
  WriteFile(settings, "REGEDIT4\n\n" + PrinterKey("Queue 7") +
                          "\"dwCfgFlags\"=dword:00000001\n\"dwCopies\"=dword:00000003\n" +
                          PrinterKey("Queue 8") +
                          "\"dwCfgFlags\"=dword:00000002\n\"dwDarkCourier\"=dword:00000001\n");
  const std::string file = PrintersFile(
      "sim: \"Queue 7\"  # the first floor\nsim: Queue\\ 8 # the second\nsim: plain # no blanks\n");
  const ProcessResult r =
      RunLangmon({"apply", "--json", "--settings", settings, "--printers", file});
  EXPECT_EQ(r.status, 1) << r.err;  // "plain" has no settings of its own
  auto results = ByName(r.out);
  EXPECT_EQ(results["Queue 7"]["sent"], Json::array({"Copies"})) << r.out;
  EXPECT_EQ(results["Queue 8"]["sent"], Json::array({"DarkCourier"})) << r.out;
  EXPECT_TRUE(results.contains("plain")) << r.out;
  const ProcessResult unquoted =
      RunLangmon({"config", "--printers", PrintersFile("sim: first printer\n")});
  EXPECT_EQ(unquoted.status, 2);
  EXPECT_NE(unquoted.err.find(":1: expected a device URI and an optional printer name, found more "
                              "after the name (a name with blanks goes in quotes"),
            std::string::npos)
      << unquoted.err;
}

// Several lines for one device are several printers at once: allowed (two
// queues may share a printer), but said, with the lines.
TEST(CliFleet, PrintersThatShareADeviceAreNamedWithTheirLines) {
  PrinterServer server;
  const std::string file =
      PrintersFile(server.Uri() + " a\n" + server.Uri() + " b\nsim: c\nsim: d\n");
  const ProcessResult r = RunLangmon({"config", "--printers", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("langmon: warning: " + file + ":1, " + file + ":2 name the same device, " +
                       server.Uri()),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find(file + ":3"), std::string::npos) << "each sim: is a printer of its own";
}

// Under --json a fleet writes JSON Lines; an error of the whole fleet is one
// line too.
TEST(CliFleet, AnErrorOfTheWholeFleetIsOneJsonLine) {
  const ProcessResult r = RunLangmon({"config", "--json", "--printers", "/nonexistent/printers"});
  EXPECT_EQ(r.status, 2);
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  const Json object = Json::parse(r.out, nullptr, false);
  EXPECT_EQ(object.value("exitStatus", 0), 2) << r.out;
}

// The monitor serves eighteen ports, LPT1: to LPT9: and LPT1 to LPT9, so a
// worker runs eighteen printers at once: 36 run in two worker processes,
// each port of a worker serving one printer.
TEST(CliFleet, ThirtySixPrintersRunInTwoWorkerProcesses) {
  MisbehavingServer silent(Misbehaviour::NeverAnswer);  // all in flight for the 5 s probe
  std::string lines;
  for (int i = 1; i <= 36; ++i) lines += silent.Uri() + " p" + std::to_string(i) + "\n";
  const Background run = Start({"config", "--json", "--printers", PrintersFile(lines)});
  std::set<pid_t> workers;
  const auto start = Clock::now();
  while (ReadFile(run.out).empty() && Clock::now() - start < kHangLimit) {
    for (pid_t child : Children(run.pid)) workers.insert(child);
    std::this_thread::sleep_for(10ms);
  }
  const ProcessResult r = Wait(run);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(workers.size(), 2u);
  std::map<std::string, int> printersOnPort;
  for (const auto& [name, object] : ByName(r.out)) ++printersOnPort[object.value("port", "")];
  EXPECT_EQ(printersOnPort.size(), 18u);
  for (const auto& [port, count] : printersOnPort) EXPECT_EQ(count, 2) << port;
}

}  // namespace
}  // namespace langmon::host::testing
