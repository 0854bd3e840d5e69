#include "device_uri.h"

#include <gtest/gtest.h>

#include <vector>

namespace langmon::host {
namespace {

struct Good {
  const char* text;
  DeviceKind kind;
  const char* path;
  const char* host;
  unsigned port;
};

TEST(DeviceUri, AcceptsEveryForm) {
  const std::vector<Good> cases = {
      {"sim:", DeviceKind::Sim, "", "", 9100},
      {"SIM:objects.json", DeviceKind::Sim, "objects.json", "", 9100},
      {"socket://printer.example", DeviceKind::Socket, "", "printer.example", 9100},
      {"socket://127.0.0.1:9101", DeviceKind::Socket, "", "127.0.0.1", 9101},
      {"socket://127.0.0.1:65535/", DeviceKind::Socket, "", "127.0.0.1", 65535},
      {"SOCKET://host:1/", DeviceKind::Socket, "", "host", 1},
      {"socket://[::1]", DeviceKind::Socket, "", "::1", 9100},
      {"socket://[::1]:631", DeviceKind::Socket, "", "::1", 631},
      {"parallel:/dev/lp0", DeviceKind::Parallel, "/dev/lp0", "", 9100},
      {"usb:/dev/usb/lp0", DeviceKind::Usb, "/dev/usb/lp0", "", 9100},
      {"file:out.prn", DeviceKind::File, "out.prn", "", 9100},
      {"file:/tmp/out.prn", DeviceKind::File, "/tmp/out.prn", "", 9100},
      {"file:///tmp/out.prn", DeviceKind::File, "/tmp/out.prn", "", 9100},
  };
  for (const Good& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceUri uri;
    std::string error;
    ASSERT_TRUE(ParseDeviceUri(c.text, uri, error)) << error;
    EXPECT_EQ(uri.kind, c.kind);
    EXPECT_EQ(uri.path, c.path);
    EXPECT_EQ(uri.host, c.host);
    EXPECT_EQ(uri.port, c.port);
    EXPECT_EQ(uri.text, c.text);
  }
}

struct Bad {
  const char* text;
  const char* reason;
};

TEST(DeviceUri, RefusesMalformedUrisNamingTheFault) {
  const std::vector<Bad> cases = {
      {"", "expected one of"},
      {"printer", "expected one of"},
      {":9100", "expected one of"},
      {"ipp://host/printer", "unknown scheme \"ipp\""},
      {"socket:host", "socket://HOST[:PORT]"},
      {"socket://", "no host name"},
      {"socket://:9100", "no host name"},
      {"socket://host:", "empty port number"},
      {"socket://host:0", "1 to 65535"},
      {"socket://host:65536", "1 to 65535"},
      {"socket://host:91x0", "1 to 65535"},
      {"socket://host:9100/queue", "1 to 65535"},
      {"socket://::1", "brackets"},
      {"socket://[::1", "unterminated"},
      {"socket://[::1]x", "unexpected text"},
      {"socket://user@host", "invalid host name"},
      {"parallel:", "absolute path"},
      {"parallel:lp0", "absolute path"},
      {"usb://Maker/Model", "absolute path"},
      {"file:", "needs a path"},
      {"file://server/share", "with a host"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceUri uri;
    uri.host = "untouched";
    std::string error;
    EXPECT_FALSE(ParseDeviceUri(c.text, uri, error));
    EXPECT_EQ(error.rfind("bad device URI \"" + std::string(c.text) + "\": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(uri.host, "untouched");
  }
}

}  // namespace
}  // namespace langmon::host
