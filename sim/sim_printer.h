// A simulated PJL laser printer: the device at the far end of the port.
//
// The printer is a byte-stream device that does not care how it is reached.
// A host opens a SimChannel on it (one per connection or open port), writes
// the bytes it would send to a real printer and reads back what the printer
// answers on the back channel. The printer parses PJL lines (after a UEL,
// "@PJL ..." lines ending in LF or CR LF), answers "@PJL ECHO" and
// "@PJL DMINFO" queries, applies "@PJL DMCMD" set lines to its
// device-management objects, records "@PJL SET TESTPAGE=" and counts
// everything else as job bytes.
//
// Objects, fault knobs and the records of what was received are shared by
// all channels of one printer; each channel has its own parser state and
// its own queue of output. Every member is safe to call from any thread.
//
// The printer can also be driven as a port monitor: MonitorTable() returns a
// MONITOR whose OpenPort opens a channel on this printer and whose ReadPort
// waits up to the port's read time-out for output.
//
// The pieces: request_parser.h reads the input, object_store.h holds the
// objects' wire form, sim_printer.cpp keeps the records and answers with the
// faults applied, sim_port_monitor.cpp is the port-monitor table.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "object_store.h"
#include "platform/platform.h"
#include "port_monitor_table.h"
#include "request_parser.h"

namespace langmon::sim {

// A complete reply that matches no request the monitor sends: a late answer
// to an object nobody asks for. Used by the stale-reply knob.
extern const char* const kStaleReply;

// How a DMINFO query for an object the printer does not hold is answered.
enum class UnknownObjectReply {
  Empty,   // the query line repeated and a form feed, without a value record
  Silent,  // nothing at all
};

// Faults the printer can be told to show. They apply to ECHO and DMINFO
// replies (DMCMD and other lines are never answered).
struct SimFaults {
  // Every reply becomes readable only this long after its query was parsed.
  DWORD replyDelayMs = 0;
  // When not empty, each reply (with its noise and stale reply) is cut into
  // pieces of these sizes, the last size repeating, and no read returns
  // bytes of two pieces. Zero sizes are ignored.
  std::vector<std::size_t> splitSizes;
  // Bytes put in front of every reply (e.g. the tail of an earlier one).
  std::string noise;
  // A complete reply put in front of every reply (after the noise); empty
  // for none. kStaleReply is the usual choice.
  std::string staleReply;
  // Answer nothing at all.
  bool silent = false;
  // Identifiers (any letter case) whose DMINFO queries are not answered.
  std::set<std::string> silentObjects;
  // Answer this many replies (counted over the printer's life, from the
  // last ClearRecords), then nothing. Negative: no limit.
  long long silentAfterReplies = -1;
  UnknownObjectReply unknown = UnknownObjectReply::Empty;
};

// Bounds of the fault knobs, the same in an objects file and on
// langmon-printer's command line. A longer delay than an hour is silence,
// which "silent" says plainly; a piece larger than any reply is no split.
constexpr DWORD kMaxReplyDelayMs = 3600000;
constexpr std::size_t kMaxSplitSize = 65536;

class SimChannel;

class SimPrinter {
 public:
  SimPrinter();  // DefaultObjects(), kDefaultDeviceId, no faults
  ~SimPrinter();
  SimPrinter(const SimPrinter&) = delete;
  SimPrinter& operator=(const SimPrinter&) = delete;

  // ---- objects -------------------------------------------------------------
  void SetObjects(SimObjectMap objects);  // replaces all
  SimObjectMap Objects() const;
  // Adds or replaces one object. The identifier may be given in any case.
  void SetNumber(const std::string& objectId, ValueType type, DWORD value);
  void SetString(const std::string& objectId, ValueType type, const std::string& value);
  void RemoveObject(const std::string& objectId);
  bool FindObject(const std::string& objectId, SimObject* out) const;
  // Number held by an object (0 when absent or a string).
  DWORD Number(const std::string& objectId) const;

  // ---- device ID and faults --------------------------------------------------
  void SetDeviceId(const std::string& deviceId);
  std::string DeviceId() const;
  void SetFaults(const SimFaults& faults);
  SimFaults Faults() const;

  // ---- records ---------------------------------------------------------------
  // Every byte written by hosts on any channel, in arrival order, up to
  // TranscriptLimit() bytes (the rest is counted in BytesWritten only).
  std::string Written() const;
  std::uint64_t BytesWritten() const;
  void SetTranscriptLimit(std::size_t bytes);  // default 16 MiB
  // Also hands every byte written on any channel to `sink` as it arrives,
  // whatever the limit, in arrival order: the sink is called with the
  // printer's lock held, so it must not call back into the printer. An
  // empty function removes it.
  using TranscriptSink = std::function<void(const char* data, std::size_t size)>;
  void SetTranscriptSink(TranscriptSink sink);
  // Every PJL command line received, without its line end.
  std::vector<std::string> PjlLines() const;
  // Identifiers of the DMINFO queries received, as written.
  std::vector<std::string> Queries() const;
  std::vector<SimSetRecord> Sets() const;
  // Names from "@PJL SET TESTPAGE=<name>", in order.
  std::vector<std::string> TestPages() const;
  // Bytes of print data and of PJL lines that are neither answered nor
  // recorded above (UELs excluded).
  std::uint64_t JobBytes() const;
  std::uint64_t EchoCount() const;
  // Replies queued (ECHO and DMINFO; noise and stale replies not counted).
  std::uint64_t RepliesSent() const;
  // Port-monitor operations seen through MonitorTable(), e.g. "OpenPort",
  // "StartDocPort", "EndDocPort", "ClosePort", "SetPortTimeOuts".
  std::vector<std::string> PortOps() const;
  // Read time-outs last set through SetPortTimeOuts on any port.
  COMMTIMEOUTS LastTimeouts() const;
  // Clears every record above and the reply count used by
  // silentAfterReplies; objects, faults and the device ID stay.
  void ClearRecords();

  // ---- the default channel -----------------------------------------------------
  // A channel that the printer owns, for hosts that need only one.
  SimChannel& Channel();
  // Shorthands for Channel().Write / Channel().Read.
  void Write(const void* data, std::size_t size);
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  std::size_t Read(void* buffer, std::size_t capacity, std::chrono::milliseconds timeout);
  // Everything readable within `timeout` (stops at the first quiet wait).
  std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

  // A new channel with its own parser state and output queue. Channels must
  // be destroyed before the printer.
  std::unique_ptr<SimChannel> OpenChannel();

  // ---- port monitor ------------------------------------------------------------
  // A port-monitor table bound to this printer: OpenPort (any name) opens a
  // channel; WritePort, ReadPort, StartDocPort, EndDocPort, ClosePort,
  // SetPortTimeOuts and GetPrinterDataFromPort act on it; the other slots
  // are null. ReadPort waits up to ReadTotalTimeoutConstant plus
  // ReadTotalTimeoutMultiplier per byte asked for (default kDefaultReadTimeoutMs;
  // a total of 0 does not wait) and succeeds with 0 bytes when nothing came.
  // GetPrinterDataFromPort answers IOCTL_PAR_QUERY_DEVICE_ID with the device
  // ID behind a 2-byte big-endian length that counts itself (IEEE 1284) and
  // fails with ERROR_NOT_SUPPORTED otherwise. The table is made with
  // PortMonitorTable: with every OpenPort slot of the process taken,
  // pfnOpenPort is null. Ports still open when the printer is destroyed fail
  // every later call except ClosePort.
  const MONITOR& MonitorTable() const { return table_->Table(); }
  static constexpr DWORD kDefaultReadTimeoutMs = 10;
  // Ports opened through MonitorTable() and not yet closed.
  int OpenPortCount() const;

  // Internal state, shared with the channels and ports (sim_printer.cpp).
  struct State;
  State* InternalState() const { return state_.get(); }

 private:
  std::unique_ptr<State> state_;
  std::unique_ptr<SimChannel> channel_;
  std::unique_ptr<portmonitor::PortMonitorTable> table_;
};

// One connection to the printer: an input parser and an output queue.
class SimChannel {
 public:
  ~SimChannel();
  SimChannel(const SimChannel&) = delete;
  SimChannel& operator=(const SimChannel&) = delete;

  // Hands bytes to the printer; replies are queued at once (readable after
  // the reply delay).
  void Write(const void* data, std::size_t size);
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  // Waits up to `timeout` for readable output and copies at most `capacity`
  // bytes of it; returns the number copied (0 when nothing became readable).
  std::size_t Read(void* buffer, std::size_t capacity, std::chrono::milliseconds timeout);
  // Bytes queued, readable or not yet.
  std::size_t Pending() const;
  // When the first queued byte is (or was) readable; time_point::max() when
  // nothing is queued.
  std::chrono::steady_clock::time_point ReadyAt() const;
  // Replies queued on this channel so far.
  std::uint64_t Replies() const;
  // Drops queued output and any partial input line; back to PJL mode.
  void Reset();

  // Internal: use SimPrinter::OpenChannel.
  explicit SimChannel(SimPrinter::State* state);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Encodes the value record of a DMINFO reply: "800000", the identifier, the
// type/length word and the value digits in lowercase hex (no quotes).
std::string EncodeRecord(const std::string& objectId, const SimObject& object);

}  // namespace langmon::sim
