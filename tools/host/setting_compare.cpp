#include "setting_compare.h"

#include "setting_values.h"

namespace langmon::host {

SettingAgreement CompareSetting(const ConfigRecord& record, ConfigSource source,
                                const Setting& setting, DWORD stored) {
  SettingAgreement a;
  a.expected = ReadBackValue(setting, stored);
  a.found = RecordValue(record, setting.Position);
  switch (AnswerOf(record, source, setting)) {
    case Answer::Answered:
      a.agreement = a.found == a.expected ? Agreement::Same : Agreement::Differs;
      break;
    case Answer::NotAsked:
      a.agreement = Agreement::NotAsked;
      break;
    case Answer::NotAnswered:
    case Answer::Unknown:
      a.agreement = Agreement::NotAnswered;
      break;
  }
  return a;
}

}  // namespace langmon::host
