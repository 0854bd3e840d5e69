#include "printer_config.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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
  const std::string key = Lower(id);
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

bool ParseFaults(const Json& faults, SimFaults& out, std::string& error) {
  if (!faults.is_object()) {
    error = "faults: an object is expected";
    return false;
  }
  for (const auto& [name, value] : faults.items()) {
    DWORD number = 0;
    if (name == "delayMs" && ReadNumber(value, number)) {
      out.replyDelayMs = number;
    } else if (name == "split" && value.is_array()) {
      out.splitSizes.clear();
      for (const Json& size : value) {
        if (!ReadNumber(size, number) || number == 0) {
          error = "faults.split: positive sizes are expected";
          return false;
        }
        out.splitSizes.push_back(number);
      }
    } else if (name == "noise" && value.is_string()) {
      out.noise = value.get<std::string>();
    } else if (name == "stale" && value.is_boolean()) {
      out.staleReply = value.get<bool>() ? kStaleReply : "";
    } else if (name == "silent" && value.is_boolean()) {
      out.silent = value.get<bool>();
    } else if (name == "silentAfter" && value.is_number_integer()) {
      out.silentAfterReplies = value.get<long long>();
    } else if (name == "silentObjects" && value.is_array()) {
      out.silentObjects.clear();
      for (const Json& id : value) {
        if (!id.is_string()) {
          error = "faults.silentObjects: identifiers are expected";
          return false;
        }
        out.silentObjects.insert(Lower(id.get<std::string>()));
      }
    } else if (name == "unknown" && value.is_string() && (value == "empty" || value == "silent")) {
      out.unknown = value == "empty" ? UnknownObjectReply::Empty : UnknownObjectReply::Silent;
    } else {
      error = "faults." + name + ": unknown member or wrong kind of value";
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
  }
  if (root.contains("faults") && !ParseFaults(root["faults"], result.faults, error)) {
    return false;
  }
  config = std::move(result);
  return true;
}

bool LoadPrinterConfig(const std::string& path, PrinterConfig& config, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!ParsePrinterConfig(text.str(), config, error)) {
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
