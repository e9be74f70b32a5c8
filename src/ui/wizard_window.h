#pragma once
// The wizard road: the window, its loop and the desktop services around the
// wizard controller. Implemented by the windowing back end (ui/gtk/,
// ui/win32/), which only the patcher executable links.
#include <string>

#include "install/install_driver.h"
#include "install/install_state.h"

namespace velmo {

// Runs the wizard on the calling (main) thread with the paths "/xapk" and
// "/dest" pre-filled and returns the process exit code: 0 when the last
// install succeeded, else 1 (also when no display can be opened, after one
// line on stderr).
int runWizard(const PackContext& context, const std::wstring& xapkPath, const std::wstring& destinationFolder,
              InstallState& install);

}  // namespace velmo
