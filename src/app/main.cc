// Process entry: start-up shared by both roads, then the wizard or the
// unattended run.
#include <csignal>
#include <string>
#include <vector>

#include "app/auto_mode.h"
#include "app/startup.h"
#include "install/install_state.h"
#include "platform/platform.h"
#include "ui/wizard_window.h"
#ifdef _WIN32
#include "platform/win32/system_dlls.h"
#endif

int main(int argc, char** argv) {
  using namespace velmo;
#ifdef _WIN32
  // Before anything can load a DLL: never from the program's own folder.
  restrictDllSearchToSystem32();
#endif
#ifdef SIGXFSZ
  // A file-size limit then fails the write, which the normal failure path
  // reports and cleans up, instead of killing the process mid-install.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  std::vector<std::wstring> args = processArguments(argc, argv);

  // Process-wide objects, alive until exit.
  static Startup startup;
  static InstallState state;
  runStartup(args, startup);
  if (startup.commandLine.autoMode) return runAutoMode(startup, state);
  return runWizard(startup, startup.commandLine.xapkPath, startup.commandLine.destinationFolder, state);
}
