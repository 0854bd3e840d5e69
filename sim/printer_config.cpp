#include "printer_config.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>

#include "input_file.h"
#include "wire_text.h"

namespace langmon::sim {

namespace {

using Json = nlohmann::json;
using enum ValueType;

bool ReadNumber(const Json& value, DWORD& out) {
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<DWORD>(v);
    return true;
  }
  if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    if (v < -2147483648LL || v > 0xFFFFFFFFLL) return false;
    out = static_cast<DWORD>(static_cast<std::uint32_t>(v));
    return true;
  }
  return false;
}

std::string TypeCode(ValueType type) { return std::to_string(static_cast<DWORD>(type)); }

// {"type": T}: a value type code; NegativeNumber is kept as PaddedNumber.
bool ReadType(const std::string& id, const Json& entry, SimObject& object, std::string& error) {
  DWORD type = 0;
  if (!ReadNumber(entry["type"], type) || type > static_cast<DWORD>(NegativeNumber)) {
    error = "objects." + id + ".type: a value type code from 0 to 9 is expected";
    return false;
  }
  object.type = type == static_cast<DWORD>(NegativeNumber) ? PaddedNumber : ValueType{type};
  return true;
}

// The value itself: a string for the string types, else a number.
bool ReadValue(const std::string& id, const Json& value, bool typeGiven, SimObject& object,
               std::string& error) {
  if (value.is_string()) {
    if (!typeGiven) object.type = String;
    if (!IsStringType(object.type)) {
      error = "objects." + id + ".value: a number is expected for type " + TypeCode(object.type);
      return false;
    }
    object.text = value.get<std::string>();
    const DWORD longest =
        object.type == PrefixedString ? kMaxPrefixedStringLength : kMaxStringLength;
    if (object.text.size() > longest) {
      error = "objects." + id + ".value: longer than the 10-bit length can announce";
      return false;
    }
    return true;
  }
  if (IsStringType(object.type)) {
    error = "objects." + id + ".value: a string is expected for type " + TypeCode(object.type);
    return false;
  }
  if (!ReadNumber(value, object.number)) {
    error = "objects." + id + ".value: a number from -2147483648 to 4294967295 is expected";
    return false;
  }
  return true;
}

// {"type": T, "value": V}, or V alone.
bool ReadEntry(const std::string& id, const Json& entry, SimObject& object, std::string& error) {
  if (!entry.is_object()) return ReadValue(id, entry, false, object, error);
  for (const auto& [name, member] : entry.items()) {
    if (name != "type" && name != "value") {
      error = "objects." + id + ": unknown member \"" + name + "\"";
      return false;
    }
  }
  if (entry.contains("type") && !ReadType(id, entry, object, error)) return false;
  if (entry.contains("value"))
    return ReadValue(id, entry["value"], entry.contains("type"), object, error);
  if (object.type != Empty) {
    error = "objects." + id + ": \"value\" is missing";
    return false;
  }
  return true;
}

bool ParseObject(const std::string& id, const Json& entry, PrinterConfig& config,
                 std::string& error) {
  const std::string key = FoldCase(id);
  if (IdentifierDigits(key) != key.size()) {
    error = "objects." + id + ": not an object identifier (hex, first byte counts the rest)";
    return false;
  }
  if (entry.is_null()) {
    config.objects.erase(key);
    return true;
  }
  // A bare number keeps the type of the object it replaces (a number type).
  SimObject object;
  const auto existing = config.objects.find(key);
  if (existing != config.objects.end() && !IsStringType(existing->second.type))
    object.type = existing->second.type;
  if (!ReadEntry(id, entry, object, error)) return false;
  config.objects[key] = object;
  return true;
}

// Readers of the "faults" members: false when the value is not of the kind
// the member takes or is out of its range.
bool ReadDelay(const Json& value, SimFaults& out) {
  DWORD ms = 0;
  if (!value.is_number_integer() || !ReadNumber(value, ms) || value.get<std::int64_t>() < 0 ||
      ms > kMaxReplyDelayMs)
    return false;
  out.replyDelayMs = ms;
  return true;
}

bool ReadSplit(const Json& value, SimFaults& out) {
  if (!value.is_array()) return false;
  std::vector<std::size_t> sizes;
  for (const Json& size : value) {
    if (!size.is_number_unsigned() || size.get<std::uint64_t>() == 0 ||
        size.get<std::uint64_t>() > kMaxSplitSize)
      return false;
    sizes.push_back(size.get<std::size_t>());
  }
  out.splitSizes = std::move(sizes);
  return true;
}

bool ReadNoise(const Json& value, SimFaults& out) {
  if (!value.is_string()) return false;
  out.noise = value.get<std::string>();
  return true;
}

bool ReadStale(const Json& value, SimFaults& out) {
  if (!value.is_boolean()) return false;
  out.staleReply = value.get<bool>() ? kStaleReply : "";
  return true;
}

bool ReadSilent(const Json& value, SimFaults& out) {
  if (!value.is_boolean()) return false;
  out.silent = value.get<bool>();
  return true;
}

bool ReadSilentAfter(const Json& value, SimFaults& out) {
  if (!value.is_number_integer() || value.get<long long>() < 0) return false;
  out.silentAfterReplies = value.get<long long>();
  return true;
}

bool ReadSilentObjects(const Json& value, SimFaults& out) {
  if (!value.is_array()) return false;
  std::set<std::string> ids;
  for (const Json& id : value) {
    if (!id.is_string()) return false;
    ids.insert(FoldCase(id.get<std::string>()));
  }
  out.silentObjects = std::move(ids);
  return true;
}

bool ReadUnknown(const Json& value, SimFaults& out) {
  if (value != "empty" && value != "silent") return false;
  out.unknown = value == "empty" ? UnknownObjectReply::Empty : UnknownObjectReply::Silent;
  return true;
}

struct FaultMember {
  const char* name;
  bool (*read)(const Json& value, SimFaults& out);
  const char* expected;
};

// The texts name the bounds of sim_printer.h.
static_assert(kMaxReplyDelayMs == 3600000 && kMaxSplitSize == 65536);
constexpr FaultMember kFaultMembers[] = {
    {"delayMs", ReadDelay, "a whole number of milliseconds from 0 to 3600000"},
    {"split", ReadSplit, "an array of piece sizes from 1 to 65536"},
    {"noise", ReadNoise, "a string"},
    {"stale", ReadStale, "true or false"},
    {"silent", ReadSilent, "true or false"},
    {"silentAfter", ReadSilentAfter, "a number of replies from 0"},
    {"silentObjects", ReadSilentObjects, "an array of object identifiers"},
    {"unknown", ReadUnknown, "\"empty\" or \"silent\""},
};

bool ParseFaults(const Json& faults, SimFaults& out, std::string& error) {
  if (!faults.is_object()) {
    error = "faults: an object is expected";
    return false;
  }
  for (const auto& item : faults.items()) {
    const std::string& name = item.key();
    const Json& value = item.value();
    const auto member = std::find_if(std::begin(kFaultMembers), std::end(kFaultMembers),
                                     [&](const FaultMember& m) { return name == m.name; });
    if (member == std::end(kFaultMembers)) {
      error = "faults." + name + ": unknown member";
      return false;
    }
    if (!member->read(value, out)) {
      error = "faults." + name + ": " + member->expected + " is expected";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParsePrinterConfig(const std::string& text, PrinterConfig& config, std::string& error) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    error = std::string("not valid JSON: ") + e.what();
    return false;
  }
  if (!root.is_object()) {
    error = "a JSON object is expected at the top";
    return false;
  }
  PrinterConfig result = config;
  for (const auto& [name, value] : root.items()) {
    if (name != "defaults" && name != "objects" && name != "deviceId" && name != "faults") {
      error = "unknown member \"" + name + "\"";
      return false;
    }
  }
  if (root.contains("defaults")) {
    if (!root["defaults"].is_boolean()) {
      error = "defaults: true or false is expected";
      return false;
    }
    result.objects = root["defaults"].get<bool>() ? DefaultObjects() : SimObjectMap{};
  }
  if (root.contains("objects")) {
    const Json& objects = root["objects"];
    if (!objects.is_object()) {
      error = "objects: an object mapping identifiers to values is expected";
      return false;
    }
    for (const auto& [id, entry] : objects.items()) {
      if (!ParseObject(id, entry, result, error)) return false;
    }
  }
  if (root.contains("deviceId")) {
    if (!root["deviceId"].is_string()) {
      error = "deviceId: a string is expected";
      return false;
    }
    result.deviceId = root["deviceId"].get<std::string>();
    if (result.deviceId.size() > kMaxDeviceIdLength) {
      error = "deviceId: longer than the " + std::to_string(kMaxDeviceIdLength) +
              " bytes an IEEE 1284 answer can carry";
      return false;
    }
  }
  if (root.contains("faults") && !ParseFaults(root["faults"], result.faults, error)) {
    return false;
  }
  config = std::move(result);
  return true;
}

bool LoadPrinterConfig(const std::string& path, PrinterConfig& config, std::string& error) {
  std::string text;
  if (ReadInputFile(path, {"objects file", kMaxObjectsFileBytes, std::nullopt}, text, error) !=
      InputResult::Read)
    return false;
  if (!ParsePrinterConfig(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

void ApplyPrinterConfig(const PrinterConfig& config, SimPrinter& printer) {
  printer.SetObjects(config.objects);
  printer.SetDeviceId(config.deviceId);
  printer.SetFaults(config.faults);
}

}  // namespace langmon::sim
