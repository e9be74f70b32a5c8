#include "install/install_job.h"

#include <climits>
#include <thread>
#include <vector>

#include "common/progress.h"
#include "common/size_text.h"
#include "install/build_pipeline.h"
#include "install/folder_ops.h"
#include "platform/folder_tree.h"
#include "platform/platform.h"

namespace velmo {

bool skippedByOptions(const PackEntry& e, const InstallOptions& options) {
  if (e.kind != PackFile) return false;
  return (!options.useStripArt && e.name == kStripArtName) || (!options.createLauncher && e.name == kLauncherName);
}

bool isInstallable(uint32_t kind) {
  return kind == PackFile || kind == ArchiveCopy || kind == FileDelta || kind == BundlePatch;
}

uint32_t parseCancelAfter(const std::wstring& value) {
  if (value.size() >= 32) return 0;
  size_t i = 0;
  while (i < value.size() && (value[i] == L' ' || value[i] == L'\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
  long long n = 0;
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    n = n * 10 + (value[i] - L'0');
    if (n > INT_MAX) n = INT_MAX + 1LL;  // saturates like the C runtime
  }
  long long v = negative ? -n : n;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return uint32_t(int32_t(v));
}

uint64_t planInstallBytes(const PatchPack& pack, const InstallOptions& options) {
  uint64_t total = 0;
  for (const auto& e : pack.entries) {
    if (!isInstallable(e.kind) || skippedByOptions(e, options)) continue;
    // Saturates, so a huge claimed size fails the free-space check instead
    // of wrapping past it.
    total = e.size > UINT64_MAX - total ? UINT64_MAX : total + e.size;
  }
  return total;
}

void cleanupAfterFailure(InstallContext& job, bool destinationCreated) {
  if (!job.stagingPath.empty()) removeTree(job.stagingPath);
  job.stagingPath.clear();
  const std::wstring& dest = job.options->destinationFolder;
  if (destinationCreated && platform().pathExists(dest) && isDirectoryEmpty(dest)) platform().removeDirectory(dest);
}

bool runInstallJob(InstallContext& job) {
  InstallState& state = *job.state;
  const InstallOptions& options = *job.options;
  const PlatformOps& os = platform();
  const std::wstring& dest = options.destinationFolder;

  // The state was reset for this job before it started (beginInstallJob),
  // so a Cancel pressed right after Install is not lost.

  bool created = !os.pathExists(dest);
  if (!createDirectoryChain(dest)) return setErrorText(state, L"Could not create the folder\n" + dest);
  auto failWith = [&](const std::wstring& text) {
    cleanupAfterFailure(job, created);
    return setErrorText(state, text);
  };

  uint64_t available = 0;
  uint64_t total = state.bytesTotal;
  if (os.freeSpace(dest, available) && (total > UINT64_MAX - kFreeSpaceMargin || available < total + kFreeSpaceMargin)) {
    return failWith(L"Not enough free space on that drive.\nVELMO needs " + formatSize(total) + L"; " +
                    formatSize(available) + L" are free.");
  }

  // The staging folder must be this run's own: a leftover is removed (a link
  // itself, never what it points to), and one that cannot be is not reused.
  job.stagingPath = joinPath(dest, kStagingFolderName);
  if (os.pathExists(job.stagingPath)) removeTree(job.stagingPath);
  bool stagingExisted = false;
  if (!os.createDirectory(job.stagingPath, stagingExisted)) return failWith(L"Could not create the staging folder.");

  std::wstring cancelText;
  uint32_t cancelAfter = os.getEnvironment(kCancelAfterEnv, cancelText) ? parseCancelAfter(cancelText) : 0;

  std::wstring message;
  if (!buildEntries(job, cancelAfter, pipelineLimits(), message)) return failWith(message);
  if (state.cancelRequested) return failWith(kCancelledText);

  // Every staged file reaches the disk before anything is moved (the move
  // flushes the folders it changed), so that a crash right after success
  // cannot leave empty or torn files behind.
  if (!flushTree(job.stagingPath) || !moveTreeInto(job.stagingPath, dest)) {
    return failWith(L"Could not move the finished files into place.");
  }
  os.removeDirectory(job.stagingPath);
  job.stagingPath.clear();
  state.bytesDone = state.bytesTotal.load();
  return true;
}

void installThreadProc(InstallContext& job) {
  bool ok = runInstallJob(job);
  job.state->jobRunning = false;
  job.state->exitCode = ok ? 0 : 1;
  if (job.jobFinished) job.jobFinished(ok);
}

bool startInstallThread(InstallContext& job) {
  try {
    std::thread(installThreadProc, std::ref(job)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace velmo
