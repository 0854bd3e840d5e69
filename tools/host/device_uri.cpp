#include "device_uri.h"

#include <algorithm>
#include <cctype>

#include "ascii.h"

namespace langmon::host {

namespace {

constexpr const char* kForms =
    "sim:, sim:FILE.json, socket://HOST[:PORT], parallel:/dev/lpN, usb:/dev/usb/lpN or file:PATH";

bool Fail(std::string& error, std::string_view uri, const std::string& why) {
  error = "bad device URI \"" + std::string(uri) + "\": " + why;
  return false;
}

bool ParsePort(std::string_view digits, unsigned& port) {
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  unsigned value = 0;
  for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  if (value == 0 || value > 65535) return false;
  port = value;
  return true;
}

bool ParseSocket(std::string_view uri, std::string_view rest, DeviceUri& out, std::string& error) {
  if (rest.substr(0, 2) != "//") return Fail(error, uri, "socket URIs read socket://HOST[:PORT]");
  rest.remove_prefix(2);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host, port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Fail(error, uri, "unterminated [IPv6 address]");
    host = rest.substr(1, close - 1);
    std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return Fail(error, uri, "unexpected text after the address");
      port = after.substr(1);
      if (port.empty()) return Fail(error, uri, "empty port number");
    }
  } else {
    const std::size_t colon = rest.rfind(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port.empty()) return Fail(error, uri, "empty port number");
    }
    if (host.find(':') != std::string_view::npos)
      return Fail(error, uri, "write IPv6 addresses in brackets: socket://[ADDR]:PORT");
  }
  if (host.empty()) return Fail(error, uri, "no host name");
  if (std::any_of(host.begin(), host.end(), [](char c) {
        return c == '/' || c == '?' || c == '#' || c == '@' ||
               std::isspace(static_cast<unsigned char>(c));
      }))
    return Fail(error, uri, "invalid host name \"" + std::string(host) + "\"");
  out.host.assign(host);
  out.port = kDefaultSocketPort;
  if (!port.empty() && !ParsePort(port, out.port))
    return Fail(error, uri,
                "port must be a number from 1 to 65535, not \"" + std::string(port) + "\"");
  return true;
}

}  // namespace

bool ParseDeviceUri(std::string_view text, DeviceUri& uri, std::string& error) {
  DeviceUri out;
  out.text.assign(text);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return Fail(error, text, std::string("expected one of ") + kForms);
  const std::string scheme = sim::FoldCase(text.substr(0, colon));
  const std::string_view rest = text.substr(colon + 1);

  if (scheme == "sim") {
    out.kind = DeviceKind::Sim;
    out.path.assign(rest);
  } else if (scheme == "socket") {
    out.kind = DeviceKind::Socket;
    if (!ParseSocket(text, rest, out, error)) return false;
  } else if (scheme == "parallel" || scheme == "usb") {
    out.kind = scheme == "usb" ? DeviceKind::Usb : DeviceKind::Parallel;
    if (rest.empty() || rest.front() != '/' || rest.substr(0, 2) == "//")
      return Fail(error, text,
                  scheme + ": needs the absolute path of a character device, as in " + scheme +
                      (scheme == "usb" ? ":/dev/usb/lp0" : ":/dev/lp0"));
    out.path.assign(rest);
  } else if (scheme == "file") {
    out.kind = DeviceKind::File;
    std::string_view path = rest;
    // file:///tmp/out.prn names /tmp/out.prn, as file URLs do.
    if (path.substr(0, 3) == "///")
      path.remove_prefix(2);
    else if (path.substr(0, 2) == "//")
      return Fail(error, text, "file URIs with a host are not supported; use file:PATH");
    if (path.empty()) return Fail(error, text, "file: needs a path, as in file:out.prn");
    out.path.assign(path);
  } else {
    return Fail(error, text, "unknown scheme \"" + scheme + "\"; expected one of " + kForms);
  }
  uri = std::move(out);
  return true;
}

}  // namespace langmon::host
