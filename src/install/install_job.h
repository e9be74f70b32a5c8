#pragma once
// The install job: builds every installable pack entry into a staging folder
// inside the destination, in directory order, and moves the finished tree
// into place only when every file was built and proven.
#include <functional>
#include <string>

#include "install/install_state.h"
#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo {

constexpr uint64_t kFreeSpaceMargin = 268435456;  // 256 MiB
constexpr wchar_t kStagingFolderName[] = L".velmo-staging";
constexpr wchar_t kCancelAfterEnv[] = L"VELMO_CANCEL_MS";
constexpr wchar_t kStripArtName[] = L"VELMO_Data\\StreamingAssets\\bg.png";
constexpr wchar_t kLauncherName[] = L"VELMO-1080p.bat";

// What the job reads; the XAPK itself comes already opened and checked.
struct InstallOptions {
  std::wstring destinationFolder;
  bool useStripArt = true;
  bool createLauncher = true;
};

// What one job works on. stagingPath is set while a job runs.
struct InstallContext {
  const PatchPack* pack = nullptr;
  XapkSource* source = nullptr;
  const InstallOptions* options = nullptr;
  InstallState* state = nullptr;
  std::wstring stagingPath;
  // The worker's only message: called once at the end, after jobRunning was
  // cleared, with the job's result. May be empty.
  std::function<void(bool ok)> jobFinished;
};

// A PackFile that the options leave out (strip art, launcher).
bool skippedByOptions(const PackEntry& entry, const InstallOptions& options);
// The kinds that produce an output file.
bool isInstallable(uint32_t kind);
// Bytes the job will produce with the given options.
uint64_t planInstallBytes(const PatchPack& pack, const InstallOptions& options);
// Runs a job whose shared state was reset for it (install_driver.h starts
// every job).
bool runInstallJob(InstallContext& job);
void cleanupAfterFailure(InstallContext& job, bool destinationCreated);
// The worker: runs the job, clears jobRunning, sets exitCode, announces the end.
void installThreadProc(InstallContext& job);
// Starts installThreadProc on its own, detached thread.
bool startInstallThread(InstallContext& job);

// "VELMO_CANCEL_MS" read as a decimal (leading blanks, optional sign,
// digits; anything else gives 0); values of 32 characters or more are unusable.
uint32_t parseCancelAfter(const std::wstring& value);

}  // namespace velmo
