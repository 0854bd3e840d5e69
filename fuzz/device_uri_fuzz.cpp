// Arbitrary text through the host's device-URI parser.
//
// Besides the sanitizers: a refused URI leaves the result untouched and
// gives a message that quotes it; an accepted one keeps the text as given
// and has the parts its kind needs (a socket's host without the characters
// that end a host, a port from 1 to 65535; an absolute device path; a
// non-empty file path); and a socket URI written back in its plain form
// (socket://HOST:PORT, brackets around an IPv6 host) parses to the same
// host and port.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device_uri.h"

namespace {

using langmon::host::DeviceKind;
using langmon::host::DeviceUri;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DeviceUri uri;
  uri.path = "untouched";
  std::string error;
  if (!langmon::host::ParseDeviceUri(text, uri, error)) {
    Check(error.rfind("bad device URI \"", 0) == 0);
    Check(uri.path == "untouched" && uri.kind == DeviceKind::Sim && uri.text.empty());
    return 0;
  }
  Check(uri.text == text);
  switch (uri.kind) {
    case DeviceKind::Sim:
      break;
    case DeviceKind::Socket: {
      Check(!uri.host.empty());
      Check(uri.port >= 1 && uri.port <= 65535);
      Check(uri.host.find_first_of("/?#@ \t\r\n\f\v") == std::string::npos);
      if (uri.host.find_first_of("[]") != std::string::npos) break;
      const bool v6 = uri.host.find(':') != std::string::npos;
      const std::string plain =
          "socket://" + (v6 ? "[" + uri.host + "]" : uri.host) + ":" + std::to_string(uri.port);
      DeviceUri again;
      std::string againError;
      Check(langmon::host::ParseDeviceUri(plain, again, againError));
      Check(again.kind == DeviceKind::Socket && again.host == uri.host && again.port == uri.port);
      break;
    }
    case DeviceKind::Parallel:
    case DeviceKind::Usb:
      Check(uri.path.size() >= 1 && uri.path[0] == '/' && uri.path.rfind("//", 0) != 0);
      break;
    case DeviceKind::File:
      Check(!uri.path.empty());
      break;
  }
  return 0;
}
