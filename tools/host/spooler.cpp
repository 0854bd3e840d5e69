#include "spooler.h"

#include <algorithm>

#include "pjl/pjl.h"
#include "plumbing.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

// Several Spoolers may live at once, each driving its own port on its own
// thread (a fleet worker reads eighteen printers at once). The seams are
// installed while any lives; a seam call reaches the Spooler of the thread
// that made the call into the monitor, or the only one alive (a test that
// drives one Spooler from a second thread).
std::mutex g_liveLock;
std::vector<Spooler*> g_live;  // guarded by g_liveLock
SpoolerSeams g_savedSeams{};   // written under g_liveLock while none lives
thread_local Spooler* t_spooler = nullptr;

Spooler* Current() {
  if (t_spooler) return t_spooler;
  std::lock_guard<std::mutex> guard(g_liveLock);
  return g_live.size() == 1 ? g_live.front() : nullptr;
}

// The registry root the spooler hands the monitor: the monitor only checks
// that it is not empty.
constexpr char16_t kMonitorRoot[] = u"System\\CurrentControlSet\\Control\\Print\\Monitors\\langmon";

// DOC_INFO_1W, the document information of level 1.
struct DocInfo1 {
  LPWSTR pDocName;
  LPWSTR pOutputFile;
  LPWSTR pDatatype;
};

constexpr DWORD kJobChunk = 16 * 1024;
// A port that keeps taking nothing is given up on after this many tries.
constexpr int kStalledWrites = 3;

BOOL WINAPI HostOpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
  Spooler* spooler = Current();
  return spooler ? spooler->OnOpenPrinter(name, printer) : FALSE;
}

BOOL WINAPI HostSetJob(HANDLE printer, DWORD jobId, DWORD, LPBYTE, DWORD command) {
  Spooler* spooler = Current();
  return spooler ? spooler->OnSetJob(printer, jobId, command) : FALSE;
}

BOOL WINAPI HostClosePrinter(HANDLE printer) {
  Spooler* spooler = Current();
  return spooler ? spooler->OnClosePrinter(printer) : FALSE;
}

DWORD WINAPI HostGetTickCount() {
  Spooler* spooler = Current();
  return spooler ? spooler->OnGetTickCount() : g_savedSeams.GetTickCount();
}

}  // namespace

Spooler::Spooler(std::u16string printerName) : printerName_(std::move(printerName)) {
  std::lock_guard<std::mutex> guard(g_liveLock);
  if (g_live.empty()) {
    g_savedSeams = g_Seams;
    g_Seams.OpenPrinter = &HostOpenPrinter;
    g_Seams.SetJob = &HostSetJob;
    g_Seams.ClosePrinter = &HostClosePrinter;
    g_Seams.GetTickCount = &HostGetTickCount;
  }
  g_live.push_back(this);
  t_spooler = this;
}

Spooler::~Spooler() {
  ClosePort();
  if (t_spooler == this) t_spooler = nullptr;
  std::lock_guard<std::mutex> guard(g_liveLock);
  g_live.erase(std::find(g_live.begin(), g_live.end(), this));
  if (g_live.empty()) g_Seams = g_savedSeams;
}

bool Spooler::Initialize(std::string& error) {
  std::u16string root(kMonitorRoot);
  table_ = InitializePrintMonitor(root.data());
  if (!table_) {
    error = "InitializePrintMonitor failed: " + ports::Win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool Spooler::OpenPort(const std::u16string& portName, MONITOR* portMonitor, DWORD& error) {
  std::u16string port = portName, printer = printerName_;
  HANDLE handle = nullptr;
  if (!table_->Monitor.pfnOpenPortEx(port.data(), printer.data(), &handle, portMonitor)) {
    error = GetLastError();
    return false;
  }
  port_ = handle;
  return true;
}

void Spooler::ClosePort() {
  if (!port_) return;
  table_->Monitor.pfnClosePort(port_);
  port_ = nullptr;
}

BOOL Spooler::GetPrinterData(const std::u16string& valueName, DWORD controlId, void* out,
                             DWORD cbOut, DWORD* returned) {
  std::u16string name = valueName;
  stopWaiting_.store(false);
  DWORD count = 0;
  const BOOL ok = table_->Monitor.pfnGetPrinterDataFromPort(
      port_, controlId, name.data(), nullptr, 0, static_cast<LPWSTR>(out), cbOut, &count);
  if (returned) *returned = count;
  return ok;
}

BOOL Spooler::GetConfigObjects(ConfigRecord& record) {
  record = ConfigRecord{};
  return GetPrinterData(u"GetConfigObjects", 0, &record, sizeof record, nullptr);
}

JobResult Spooler::PrintJob(DWORD jobId, const std::u16string& documentName,
                            const JobSource& source) {
  JobResult result;
  std::u16string printer = printerName_, document = documentName, datatype = u"RAW";
  DocInfo1 info{document.data(), nullptr, datatype.data()};
  if (!table_->Monitor.pfnStartDocPort(port_, printer.data(), jobId, 1,
                                       reinterpret_cast<LPBYTE>(&info))) {
    result.error = GetLastError();
    return result;
  }
  result.started = true;

  std::vector<BYTE> buffer(kJobChunk);
  bool failed = false;
  while (!failed) {
    const long n = source(buffer.data(), kJobChunk);
    if (n < 0) {
      result.sourceFailed = true;
      break;
    }
    if (n == 0) {
      result.complete = true;
      break;
    }
    DWORD offset = 0;
    int stalls = 0;
    while (offset < static_cast<DWORD>(n)) {
      DWORD written = 0;
      const BOOL ok = table_->Monitor.pfnWritePort(port_, buffer.data() + offset,
                                                   static_cast<DWORD>(n) - offset, &written);
      written = std::min<DWORD>(written, static_cast<DWORD>(n) - offset);
      offset += written;
      result.bytesSent += written;
      if (!ok) {
        result.error = GetLastError();
        failed = true;
        break;
      }
      stalls = written ? 0 : stalls + 1;
      if (stalls == kStalledWrites) {
        result.error = ERROR_TIMEOUT;  // the port stopped taking data
        failed = true;
        break;
      }
    }
  }

  table_->Monitor.pfnEndDocPort(port_);
  std::lock_guard<std::mutex> guard(mutex_);
  result.released =
      std::find(releasedJobs_.begin(), releasedJobs_.end(), jobId) != releasedJobs_.end();
  return result;
}

void Spooler::SetDeadline(std::chrono::steady_clock::time_point deadline) {
  deadline_.store(deadline.time_since_epoch().count());
}

DWORD Spooler::OnGetTickCount() {
  const DWORD now = g_savedSeams.GetTickCount();
  const bool late = std::chrono::steady_clock::now().time_since_epoch().count() >= deadline_.load();
  if (late) ranOutOfTime_.store(true);
  if (!late && !stopWaiting_.load()) return now;
  // Unsigned arithmetic: the monitor compares differences, which a wrap
  // does not disturb.
  return now + ahead_.fetch_add(kExchangeTimeLimitMs) + kExchangeTimeLimitMs;
}

void Spooler::SetClientCallSink(std::function<void(const ClientCall&)> sink) {
  std::lock_guard<std::mutex> guard(mutex_);
  sink_ = std::move(sink);
}

std::vector<ClientCall> Spooler::ClientCalls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

int Spooler::OpenPrinterHandles() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int>(openPrinters_.size());
}

void Spooler::Record(const ClientCall& call) {
  std::function<void(const ClientCall&)> sink;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(call);
    sink = sink_;
  }
  if (sink) sink(call);
}

// The spooler knows one printer: the one the port serves. Printer names
// compare without regard to letter case, as the spooler's do.
BOOL Spooler::OnOpenPrinter(LPWSTR name, LPHANDLE printer) {
  ClientCall call{"OpenPrinter", name ? Utf16ToUtf8(name) : std::string(), 0, 0, false};
  try {
    if (printer) *printer = nullptr;
    if (!name || !printer || lstrcmpiW(name, printerName_.c_str()) != 0) {
      Record(call);
      SetLastError(ERROR_INVALID_PRINTER_NAME);
      return FALSE;
    }
    {
      std::lock_guard<std::mutex> guard(mutex_);
      *printer = reinterpret_cast<HANDLE>(nextHandle_++);
      openPrinters_.push_back(*printer);
    }
    call.ok = true;
    Record(call);
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL Spooler::OnSetJob(HANDLE printer, DWORD jobId, DWORD command) {
  ClientCall call{"SetJob", {}, jobId, command, false};
  try {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      call.ok = printer && std::find(openPrinters_.begin(), openPrinters_.end(), printer) !=
                               openPrinters_.end();
      if (call.ok && command == JOB_CONTROL_CANCEL) releasedJobs_.push_back(jobId);
    }
    Record(call);
  } catch (...) {
  }
  if (!call.ok) SetLastError(ERROR_INVALID_HANDLE);
  return call.ok ? TRUE : FALSE;
}

BOOL Spooler::OnClosePrinter(HANDLE printer) {
  ClientCall call{"ClosePrinter", {}, 0, 0, false};
  try {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto it = std::find(openPrinters_.begin(), openPrinters_.end(), printer);
      call.ok = it != openPrinters_.end();
      if (call.ok) openPrinters_.erase(it);
    }
    Record(call);
  } catch (...) {
  }
  if (!call.ok) SetLastError(ERROR_INVALID_HANDLE);
  return call.ok ? TRUE : FALSE;
}

}  // namespace langmon::host
