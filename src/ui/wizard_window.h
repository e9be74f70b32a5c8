#pragma once
// The wizard road: the window, its loop and the desktop services around the
// wizard controller. Implemented by the windowing back end (gtk_wizard.cc),
// which only the patcher executable links.
#include "app/startup.h"
#include "install/install_state.h"

namespace velmo {

// Runs the wizard on the calling (main) thread and returns the process exit
// code: 0 when the last install succeeded, else 1 (also when no display can
// be opened, after one line on stderr).
int runWizard(Startup& startup, InstallState& install);

}  // namespace velmo
