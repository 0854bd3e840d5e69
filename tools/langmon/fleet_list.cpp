// The printers of a fleet: --printer options and the --printers file.
#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "device_uri.h"
#include "fleet.h"
#include "reg_file.h"

namespace langmon::cli {

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Why a URI cannot be used, or empty.
std::string UriProblem(const std::string& uri) {
  host::DeviceUri parsed;
  std::string error;
  if (!host::ParseDeviceUri(uri, parsed, error)) return error;
  return {};
}

// Every printer gets a name; two printers with one name would share their
// stored settings, so a name is taken once. Names differing only in letter
// case name one registry key, so they count as one.
bool NameAll(std::vector<FleetPrinter>& printers, std::string& error) {
  std::set<std::string> taken;
  for (std::size_t i = 0; i < printers.size(); ++i) {
    if (printers[i].name.empty()) printers[i].name = fmt::format("langmon-{}", i + 1);
    if (!taken.insert(host::FoldCase(printers[i].name)).second) {
      error = fmt::format(
          "{}: the printer name \"{}\" is given to an earlier printer too; each "
          "printer needs a name of its own",
          printers[i].origin, printers[i].name);
      return false;
    }
  }
  return true;
}

}  // namespace

bool FleetAsked(const Options& options) {
  return options.devices.size() > 1 || !options.printersFile.empty() || options.jobs.has_value() ||
         options.csv;
}

bool ParsePrintersText(const std::string& text, const std::string& path,
                       std::vector<FleetPrinter>& printers, std::string& error) {
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words.front().starts_with("#")) continue;
    const std::string where = fmt::format("{}:{}", path, number);
    if (words.size() > 2) {
      error = where + ": expected a device URI and an optional printer name, found " +
              std::to_string(words.size()) + " words";
      return false;
    }
    if (std::string why = UriProblem(words[0]); !why.empty()) {
      error = where + ": " + why;
      return false;
    }
    printers.push_back({words[0], words.size() == 2 ? words[1] : "", where});
  }
  return true;
}

namespace {

// The whole file, or false with `error` naming it and why.
bool ReadWhole(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the printers file: " + std::strerror(errno);
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": cannot read the printers file";
    return false;
  }
  return true;
}

}  // namespace

bool CollectPrinters(const Options& options, std::vector<FleetPrinter>& printers,
                     std::string& error) {
  for (const std::string& uri : options.devices) {
    if (std::string why = UriProblem(uri); !why.empty()) {
      error = "--printer " + uri + ": " + why;
      return false;
    }
    printers.push_back({uri, "", "--printer " + uri});
  }
  if (!options.printersFile.empty()) {
    std::string text;
    if (!ReadWhole(options.printersFile, text, error)) return false;
    const std::size_t before = printers.size();
    if (!ParsePrintersText(text, options.printersFile, printers, error)) return false;
    if (printers.size() == before) {
      error = options.printersFile + ": names no printer (one device URI a line)";
      return false;
    }
  }
  if (printers.empty()) printers.push_back({"sim:", "", "--printer sim:"});
  return NameAll(printers, error);
}

}  // namespace langmon::cli
