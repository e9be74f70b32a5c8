#pragma once
// Process-wide start-up: the CRC table, the command line and the pack
// context, shared by both roads.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "install/install_driver.h"

namespace velmo {

extern const wchar_t kUsageText[];

// The pack context and the command line that chose the road.
struct Startup : PackContext {
  CommandLine commandLine;
};

// Runs the shared start-up steps. loadPack is the pack loader to use (the
// embedded one in the program; tests pass their own).
void runStartup(const std::vector<std::wstring>& args, Startup& startup, bool (*loadPack)(PatchPack&) = loadPatchPack);

}  // namespace velmo
