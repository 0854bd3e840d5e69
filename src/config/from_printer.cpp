// The configuration read from a printer that answers: one DMINFO query per
// step of the read-step table, each answer mapped into the driver's encoding.
#include "config/config.h"
#include "pjl/pjl.h"

namespace langmon {

namespace {

constexpr std::size_t kQueryTextSize = 256;

// The decoder reads the reply as zero-terminated text, so a zero goes right
// behind it. A reply that fills the whole buffer leaves no room for it; such
// a reply may have been cut short, so its value is not taken and the step
// counts as unanswered.
BOOL TerminateReply(char* reply, DWORD length, DWORD capacity) {
  if (length >= capacity) return FALSE;
  reply[length] = '\0';
  return TRUE;
}

// One query for one object. TRUE with the decoded printer value when the
// printer answered it; the value starts from 0, as a zeroed record field
// would, because the decoder may write only part of it.
BOOL AskPrinter(PortEntry* entry, const char* objectId, DWORD* value) {
  char query[kQueryTextSize];
  if (!BuildQueryLine(query, objectId)) return FALSE;
  char reply[kReplyBufferSize];
  DWORD length = 0;
  if (!ExchangeQuery(entry, query, reply, &length)) return FALSE;
  if (!TerminateReply(reply, length, kReplyBufferSize)) return FALSE;
  DWORD decoded = 0;
  if (!ReadReplyValue(reply, objectId, &decoded, sizeof decoded)) return FALSE;
  *value = decoded;
  return TRUE;
}

// Whether a step's parent lets it run: the parent was answered and, for a
// gated step, the parent's value in the record is not the stopping value.
bool StepMayRun(const ReadStep& step, const bool* answered, const ConfigRecord& record) {
  if (step.Parent == kUnconditional) return true;
  if (!answered[step.Parent]) return false;
  if (!step.Gated) return true;
  const Setting& parent = SettingAt(kPrinterReadSteps[step.Parent].Position);
  return record.*parent.Field != step.SkipWhen;
}

}  // namespace

void GetConfigFromPrinter(PortEntry* entry, ConfigRecord* record) {
  *record = ConfigRecord{};
  bool answered[kPrinterReadStepCount] = {};
  for (std::size_t i = 0; i < kPrinterReadStepCount; ++i) {
    const ReadStep& step = kPrinterReadSteps[i];
    if (!StepMayRun(step, answered, *record)) continue;
    const Setting& setting = SettingAt(step.Position);
    DWORD value = 0;
    if (!AskPrinter(entry, setting.ObjectId, &value)) continue;
    record->*setting.Field = setting.ToDriver(value);
    record->CfgFlags |= setting.PresenceBit;
    answered[i] = true;
  }
}

}  // namespace langmon
