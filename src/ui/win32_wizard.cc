// The Windows wizard road until its window exists: one message saying how
// to run the install unattended, and the failure exit code.
#include <windows.h>

#include "ui/wizard_window.h"

namespace velmo {

int runWizard(Startup& startup, InstallState& install) {
  MessageBoxW(nullptr,
              L"This build of VELMO Patcher has no wizard window yet.\n"
              L"Run it as: VELMO Patcher.exe /auto <xapk> <dest>",
              L"VELMO Patcher", MB_OK | MB_ICONINFORMATION);
  return 1;
}

}  // namespace velmo
