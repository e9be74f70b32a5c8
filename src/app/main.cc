// Process entry: start-up shared by both roads, then the wizard or the
// unattended run.
#include <string>
#include <vector>

#include "app/auto_mode.h"
#include "app/startup.h"
#include "common/utf8.h"
#include "install/install_state.h"
#include "ui/wizard_window.h"

int main(int argc, char** argv) {
  using namespace velmo;
  std::vector<std::wstring> args;
  // Paths arrive as bytes; they must reach the file system unchanged.
  for (int i = 0; i < argc; ++i) args.push_back(pathFromBytes(argv[i]));

  // Process-wide objects, alive until exit.
  static Startup startup;
  static InstallState state;
  runStartup(args, startup);
  if (startup.commandLine.autoMode) return runAutoMode(startup, state);
  return runWizard(startup, state);
}
