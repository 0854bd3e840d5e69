// A port monitor for raw TCP printers (AppSocket, socket://HOST[:PORT]).
//
// The spooler stand-in hands this table to the monitor's OpenPortEx with the
// printer's port name ("LPT1:"), so the network target cannot travel in the
// name: the host binds a target to the port name with SetSocketTarget before
// OpenPortEx. OpenPort only records the target; the connection is opened on
// the first WritePort or ReadPort after OpenPort or StartDocPort, and closed
// at EndDocPort and ClosePort. Between documents the monitor writes its own
// PJL requests without StartDocPort; they open a connection of their own.
//
// Every failure sets the thread's last error to a Win32 code and leaves a
// human-readable message for SocketPortLastMessage().
#pragma once

#include <string>

#include "platform/platform.h"

namespace langmon::net {

// Win32 codes this port monitor reports (winerror.h values).
constexpr DWORD kErrorNetnameDeleted = 64;  // connection reset
constexpr DWORD kErrorBadNetName = 67;      // host name not found
constexpr DWORD kErrorBrokenPipe = 109;     // peer gone while sending
constexpr DWORD kErrorConnectionRefused = 1225;
constexpr DWORD kErrorGracefulDisconnect = 1226;  // printer closed the connection
constexpr DWORD kErrorNetworkUnreachable = 1231;
constexpr DWORD kErrorHostUnreachable = 1232;
constexpr DWORD kErrorConnectionAborted = 1236;  // lost earlier in this document
constexpr DWORD kErrorTimeout = 1460;
constexpr DWORD kErrorNotSupported = 50;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorGenFailure = 31;

constexpr unsigned kDefaultSocketPort = 9100;

struct SocketTarget {
  std::string host;  // name or address
  unsigned port = kDefaultSocketPort;
  DWORD connectTimeoutMs = 10000;
  // How long closing a connection waits for the printer to close its side.
  DWORD closeDrainMs = 2000;
};

// Parses "socket://HOST[:PORT]" (IPv6 literals in brackets). False with a
// message when the text is no such URI.
bool ParseSocketUri(const std::string& uri, SocketTarget& target, std::string& error);

// Binds a target to a port name (compared without regard to letter case).
// An empty name binds the target used for any port without one of its own.
void SetSocketTarget(const std::string& portName, const SocketTarget& target);
void ClearSocketTargets();

// The port-monitor table: OpenPort, StartDocPort, WritePort, ReadPort,
// EndDocPort, ClosePort, GetPrinterDataFromPort (always fails:
// ERROR_NOT_SUPPORTED, raw TCP has no device ID) and SetPortTimeOuts.
MONITOR SocketPortMonitorTable();

// Read time-out of a port whose SetPortTimeOuts was never called, and the
// write time-out used when the port's write time-outs are both 0.
constexpr DWORD kDefaultReadTimeoutMs = 10;
constexpr DWORD kDefaultWriteTimeoutMs = 60000;

// The message of the last failure on the calling thread ("" when none).
const char* SocketPortLastMessage();

}  // namespace langmon::net
