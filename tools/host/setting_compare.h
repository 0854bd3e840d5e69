// How a setting of a configuration read stands against a value the driver
// stores for it: what `apply --verify` asks of each setting it sent, and
// what `audit` asks of each setting a baseline selects. A printer that
// holds the stored value answers it through the setting's maps (the value
// sent, ToPrinter, and answered again, ToDriver), so a value the maps fold
// (saver mode 5 goes out as 100 and reads back as 1) is compared as it
// reads back.
#pragma once

#include "config/settings.h"
#include "config_report.h"

namespace langmon::host {

enum class Agreement {
  Same,         // answered, and as the stored value reads back
  Differs,      // answered otherwise
  NotAnswered,  // asked and not answered, or no printer read at all
  NotAsked,     // the read did not ask it (an earlier answer ruled it out)
};

struct SettingAgreement {
  Agreement agreement = Agreement::NotAnswered;
  DWORD expected = 0;  // the stored value as a printer that holds it reads back
  DWORD found = 0;     // the record's value
};

SettingAgreement CompareSetting(const ConfigRecord& record, ConfigSource source,
                                const Setting& setting, DWORD stored);

}  // namespace langmon::host
