#pragma once
// What both roads, the unattended run and the wizard, do to install: the
// pack they work with, opening and checking the player's XAPK, and starting
// a job. Neither road builds or starts a job by hand.
#include <string>

#include "install/install_job.h"
#include "install/install_state.h"
#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo {

extern const wchar_t kPackDamagedText[];     // the wizard's two-line form
extern const wchar_t kPackDamagedLogText[];  // the auto log's one-line form

// The program's folder and its patch pack, fixed at start-up and read-only
// afterwards.
struct PackContext {
  std::wstring exeDirectory;
  PatchPack pack;
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;
};

// The full path up to, not including, its last separator.
std::wstring exeDirectoryOf(const std::wstring& exePath);

// Finds the program's folder and loads the pack with loadPack (the embedded
// one in the program; tests pass their own).
void openPackContext(PackContext& context, bool (*loadPack)(PatchPack&) = loadPatchPack);

// Applies a pack load result: on failure packOk false and the message; then
// packHasBundles from the directory.
void notePackLoaded(PackContext& context, bool loaded);

// Opens the chosen XAPK and checks it. A source that fails either step is
// closed again at once, so no temporary copies outlive a failure. text is
// the failure, or the check's own line on success.
bool openAndCheckXapk(XapkSource& source, const PatchPack& pack, const std::wstring& path, std::wstring& text);

// Points a job at what it works on. Done once per job object: the worker of
// an earlier job may still read it for a moment after it cleared jobRunning.
void bindInstallJob(InstallContext& job, const PatchPack& pack, XapkSource& source, const InstallOptions& options,
                    InstallState& state);

// The one place a job's start is written into the shared state: no error,
// no cancel yet, running, the clock started, nothing done of the planned
// bytes. A Cancel pressed after this, even before the job runs, is kept.
void beginInstallJob(InstallContext& job);

// Begins the job and runs it on the calling thread (auto mode); jobRunning
// stays set afterwards, as nobody reads it there.
bool runInstallHere(InstallContext& job);

// Begins the job and starts it on its own detached worker (installThreadProc);
// false when no thread could be started, and the state then shows no job.
bool startInstallWorker(InstallContext& job);

}  // namespace velmo
