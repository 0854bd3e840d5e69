// Device URIs naming the port monitor behind the monitor's port, in the
// style of print-system device URIs:
//
//   sim:                   the simulated printer, in-process, default objects
//   sim:FILE.json          the simulated printer with objects from FILE.json
//   socket://HOST[:PORT]   raw TCP (AppSocket), port 9100 by default
//   parallel:/dev/lp0      a character device with a back channel
//   usb:/dev/usb/lp0       the same, for a USB printer-class device
//   file:PATH              output written to PATH; nothing is ever read back
#pragma once

#include <string>
#include <string_view>

namespace langmon::host {

enum class DeviceKind { Sim, Socket, Parallel, Usb, File };

// The TCP port of a socket:// URI that names none (raw printing, AppSocket).
constexpr unsigned kDefaultSocketPort = 9100;

struct DeviceUri {
  DeviceKind kind = DeviceKind::Sim;
  std::string path;  // sim (objects file, may be empty), parallel, usb, file
  std::string host;  // socket
  unsigned port = kDefaultSocketPort;
  std::string text;  // the URI as given
};

// Parses a device URI. Returns false with a message naming what is wrong.
bool ParseDeviceUri(std::string_view text, DeviceUri& uri, std::string& error);

}  // namespace langmon::host
