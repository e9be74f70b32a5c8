#pragma once
// Process-wide start-up: the CRC table, the program's folder, the command
// line and the patch pack, shared by both roads.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "pack/pack_loader.h"

namespace velmo {

extern const wchar_t kPackDamagedText[];     // the wizard's two-line form
extern const wchar_t kPackDamagedLogText[];  // the auto log's one-line form
extern const wchar_t kUsageText[];

struct Startup {
  std::wstring exeDirectory;
  CommandLine commandLine;
  PatchPack pack;
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;
};

// The full path up to, not including, its last separator.
std::wstring exeDirectoryOf(const std::wstring& exePath);

// Runs the shared start-up steps. loadPack is the pack loader to use (the
// embedded one in the program; tests pass their own).
void runStartup(const std::vector<std::wstring>& args, Startup& startup, bool (*loadPack)(PatchPack&) = loadPatchPack);

// Applies a pack load result: on failure packOk false and the message; then
// packHasBundles from the directory.
void notePackLoaded(Startup& startup, bool loaded);

}  // namespace velmo
