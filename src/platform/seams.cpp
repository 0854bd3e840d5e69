#include "platform/platform.h"

namespace langmon {

SpoolerSeams DefaultSeams() {
  return SpoolerSeams{&::OpenPrinterW, &::SetJobW, &::ClosePrinter, &::GetTickCount};
}

SpoolerSeams g_Seams = DefaultSeams();

}  // namespace langmon
