// The spooler stand-in: drives the monitor through the table that
// InitializePrintMonitor hands out, exactly as the print spooler would, and
// supplies the spooler client calls (OpenPrinter, SetJob, ClosePrinter) the
// monitor makes back into the spooler, and the monitor's tick counter.
//
// Several Spoolers may live at once, each on its own thread with its own
// port: while any lives the spooler seams of the monitor are the stand-in's,
// and a call the monitor makes back reaches the Spooler made on the calling
// thread (or, from another thread, the only one alive).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "monitor/monitor_api.h"
#include "platform/platform.h"

namespace langmon::host {

// A spooler client call the monitor made.
struct ClientCall {
  std::string op;       // "OpenPrinter", "SetJob", "ClosePrinter"
  std::string printer;  // OpenPrinter: the name asked for
  DWORD jobId = 0;      // SetJob
  DWORD command = 0;    // SetJob
  bool ok = false;
};

// Reads the next piece of print data into the buffer; returns the number of
// bytes (0 at the end) or -1 when the source failed.
using JobSource = std::function<long(BYTE* buffer, DWORD capacity)>;

struct JobResult {
  bool started = false;       // StartDocPort accepted the document
  bool complete = false;      // every byte was taken by the port
  bool sourceFailed = false;  // the data could not be read
  unsigned long long bytesSent = 0;
  bool released = false;  // SetJob with JOB_CONTROL_CANCEL for the job arrived
  DWORD error = 0;        // last error of the call that failed
};

class Spooler {
 public:
  // `printerName` is the spooler printer the port serves.
  explicit Spooler(std::u16string printerName);
  ~Spooler();  // closes the port if still open and gives the seams back
  Spooler(const Spooler&) = delete;
  Spooler& operator=(const Spooler&) = delete;

  // Gets the monitor's table with InitializePrintMonitor.
  bool Initialize(std::string& error);
  const MONITOREX* Table() const { return table_; }

  // Opens the port through the table's OpenPortEx, handing in the port
  // monitor's table. False with the monitor's last error in `error`.
  bool OpenPort(const std::u16string& portName, MONITOR* portMonitor, DWORD& error);
  bool PortOpen() const { return port_ != nullptr; }
  void ClosePort();

  // The table's GetPrinterDataFromPort on the open port.
  BOOL GetPrinterData(const std::u16string& valueName, DWORD controlId, void* out, DWORD cbOut,
                      DWORD* returned);
  // "GetConfigObjects" into a record-sized buffer.
  BOOL GetConfigObjects(ConfigRecord& record);

  // One print job: StartDocPort, WritePort until the source is drained (a
  // short write continues with the rest), EndDocPort. EndDocPort runs
  // whenever StartDocPort succeeded, also after a failed write.
  JobResult PrintJob(DWORD jobId, const std::u16string& documentName, const JobSource& source);

  // Told of every client call as it happens, e.g. to print "job 7 released".
  void SetClientCallSink(std::function<void(const ClientCall&)> sink);
  std::vector<ClientCall> ClientCalls() const;
  // Printer handles the monitor holds open right now.
  int OpenPrinterHandles() const;

  const std::u16string& PrinterName() const { return printerName_; }

  // The monitor's tick counter is the real one until the end of the run
  // (the deadline), or until StopWaiting in a request. From then on every
  // reading is ahead of the one before by the exchange's whole time limit,
  // so that an exchange in progress ends at its next look at the clock and
  // every later one at its first: the monitor waits no longer for a printer
  // once the run's time is up, nor for a port that cannot deliver a reply.
  void SetDeadline(std::chrono::steady_clock::time_point deadline);
  // For the rest of the current request (until the next GetPrinterData).
  void StopWaiting() { stopWaiting_.store(true); }
  // Whether the monitor read the clock after the deadline.
  bool RanOutOfTime() const { return ranOutOfTime_.load(); }

  // Internal: the seams reach the live Spooler through these.
  BOOL OnOpenPrinter(LPWSTR name, LPHANDLE printer);
  BOOL OnSetJob(HANDLE printer, DWORD jobId, DWORD command);
  BOOL OnClosePrinter(HANDLE printer);
  DWORD OnGetTickCount();

 private:
  void Record(const ClientCall& call);

  std::u16string printerName_;
  const MONITOREX* table_ = nullptr;
  HANDLE port_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<ClientCall> calls_;
  std::function<void(const ClientCall&)> sink_;
  std::vector<HANDLE> openPrinters_;
  std::uintptr_t nextHandle_ = 0x5000;
  std::vector<DWORD> releasedJobs_;
  std::atomic<std::chrono::steady_clock::rep> deadline_{
      std::chrono::steady_clock::time_point::max().time_since_epoch().count()};
  std::atomic<DWORD> ahead_{0};
  std::atomic<bool> stopWaiting_{false};
  std::atomic<bool> ranOutOfTime_{false};
};

}  // namespace langmon::host
