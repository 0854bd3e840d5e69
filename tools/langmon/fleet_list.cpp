// What a fleet reads before any printer is contacted: its printers (the
// --printer options and the --printers file) and their stored settings.
#include <fmt/format.h>

#include <map>
#include <set>

#include "ascii.h"
#include "device_uri.h"
#include "fleet.h"
#include "printers_file.h"
#include "reg_file_input.h"
#include "report.h"

namespace langmon::cli {

namespace {

// Why a URI cannot be used, or empty.
std::string UriProblem(const std::string& uri) {
  host::DeviceUri parsed;
  std::string error;
  if (!host::ParseDeviceUri(uri, parsed, error)) return error;
  return {};
}

// Every printer gets a name; two printers with one name would share their
// stored settings, so a name is taken once. Names differing only in letter
// case name one registry key, so they count as one. A name the monitor
// cannot form a key path for is refused here, before any printer runs.
bool NameAll(std::vector<FleetPrinter>& printers, std::string& error) {
  std::set<std::string> taken;
  for (std::size_t i = 0; i < printers.size(); ++i) {
    if (printers[i].name.empty()) printers[i].name = fmt::format("langmon-{}", i + 1);
    if (std::string why = host::PrinterNameProblem(printers[i].name); !why.empty()) {
      error = fmt::format("{}: {}", printers[i].origin, why);
      return false;
    }
    if (!taken.insert(sim::FoldCase(printers[i].name)).second) {
      error = fmt::format(
          "{}: the printer name \"{}\" is given to an earlier printer too; each "
          "printer needs a name of its own",
          printers[i].origin, printers[i].name);
      return false;
    }
  }
  return true;
}

// One warning per device URI that several printers share: each is a printer
// of its own, and they run at the same time. A sim: URI names no shared
// device: each run has a simulated printer of its own.
void WarnSharedUris(const std::vector<FleetPrinter>& printers) {
  std::map<std::string, std::vector<const FleetPrinter*>> sharing;  // by folded URI
  std::vector<std::string> order;
  for (const FleetPrinter& p : printers) {
    const std::string uri = sim::FoldCase(p.uri);
    if (uri.starts_with("sim:")) continue;
    auto& group = sharing[uri];
    if (group.empty()) order.push_back(uri);
    group.push_back(&p);
  }
  constexpr std::size_t kNamed = 10;  // a long list names its first places only
  for (const std::string& uri : order) {
    const auto& group = sharing[uri];
    if (group.size() < 2) continue;
    std::vector<std::string> where;
    for (std::size_t i = 0; i < std::min(group.size(), kNamed); ++i)
      where.push_back(group[i]->origin);
    const std::string more =
        group.size() > kNamed ? fmt::format(" and {} more", group.size() - kNamed) : "";
    Warning(
        fmt::format("{}{} name the same device, {}; each is a printer of its own, and they "
                    "are contacted at the same time",
                    fmt::join(where, ", "), more, group.front()->uri));
  }
}

// The printers of the --printers file, each with its place "FILE:LINE".
sim::InputResult PrintersOfFile(const Options& options, std::vector<FleetPrinter>& printers,
                                std::string& error) {
  using sim::InputResult;
  std::string text;
  const InputResult read = sim::ReadInputFile(
      options.printersFile, {"printers file", sim::kMaxPrintersFileBytes, options.deadline}, text,
      error);
  if (read != InputResult::Read) return read;
  std::vector<sim::PrintersEntry> listed;
  sim::PrintersFault fault;
  if (!sim::ReadPrintersText(text, listed, fault, &UriProblem)) {
    error = fmt::format("{}:{}: {}", options.printersFile, fault.line, fault.reason);
    return InputResult::Refused;
  }
  if (listed.empty()) {
    error = options.printersFile + ": names no printer (one device URI a line)";
    return InputResult::Refused;
  }
  for (const sim::PrintersEntry& p : listed)
    printers.push_back({p.uri, p.name, fmt::format("{}:{}", options.printersFile, p.line)});
  return InputResult::Read;
}

}  // namespace

bool FleetAsked(const Options& options) {
  return options.devices.size() > 1 || !options.printersFile.empty() || options.jobs.has_value() ||
         options.csv;
}

sim::InputResult CollectPrinters(const Options& options, std::vector<FleetPrinter>& printers,
                                 std::string& error) {
  using sim::InputResult;
  for (const std::string& uri : options.devices) {
    if (std::string why = UriProblem(uri); !why.empty()) {
      error = "--printer " + uri + ": " + why;
      return InputResult::Refused;
    }
    printers.push_back({uri, "", "--printer " + uri});
  }
  if (!options.printersFile.empty()) {
    const InputResult read = PrintersOfFile(options, printers, error);
    if (read != InputResult::Read) return read;
  }
  if (printers.empty()) printers.push_back({"sim:", "", "--printer sim:"});
  if (!NameAll(printers, error)) return InputResult::Refused;
  WarnSharedUris(printers);
  return InputResult::Read;
}

// The stored settings of --settings, read once by the parent and shared
// with the workers: a file of one printer's settings (a backup, say) is sent to every
// printer of the fleet; a file of several printers' settings gives each
// printer its own, and the settings of printers the fleet does not name are
// left out with a warning. The exit status of a file that cannot be read.
int StoredSettingsForAll(Options& options, const std::vector<FleetPrinter>& fleet) {
  if (options.settings.empty()) return kSuccess;
  auto file = std::make_shared<host::RegFile>();
  std::string error;
  const sim::InputResult read = host::ReadRegFile(options.settings, *file, error, options.deadline);
  if (read != sim::InputResult::Read)
    return FailInput(read, "cannot read the stored settings", options.settings, error,
                     options.timeout);
  options.settingsFile = file;
  const std::vector<std::string> printers = host::PrintersIn(*file);
  if (printers.size() == 1) options.settingsFrom = printers.front();
  if (printers.size() < 2) return kSuccess;
  options.settingsPerPrinter = true;
  std::set<std::string> named;
  for (const FleetPrinter& p : fleet) named.insert(sim::FoldCase(p.name));
  std::vector<std::string> others;
  for (const std::string& p : printers)
    if (named.count(sim::FoldCase(p)) == 0) others.push_back("\"" + p + "\"");
  if (!others.empty())
    Warning(fmt::format("{}: left out the settings of {} {} that the fleet does not name: {}",
                        options.settings, others.size(),
                        others.size() == 1 ? "printer" : "printers", fmt::join(others, ", ")));
  return kSuccess;
}

}  // namespace langmon::cli
