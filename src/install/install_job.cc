#include "install/install_job.h"

#include <climits>
#include <optional>
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

namespace {

// Removes everything in the staging folder but its lock; true when the
// folder was listed whole and all of it went. A listing cut short or a
// delete refused for a moment gets one more pass.
bool emptyStagingButLock(const std::wstring& staging) {
  const PlatformOps& os = platform();
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<DirEntry> entries;
    bool clean = os.listDirectory(staging, entries);
    for (const auto& e : entries) {
      if (e.name != kStagingLockName) clean = removeTree(joinPath(staging, e.name)) && clean;
    }
    if (clean) return true;
  }
  return false;
}

// Removes the folder if it is empty, giving a refusal one more try; one
// that is not (a staging folder another run took meanwhile holds that run's
// lock) stays.
void removeEmptyFolder(const std::wstring& path) {
  const PlatformOps& os = platform();
  if (!os.removeDirectory(path) && os.pathExists(path)) os.removeDirectory(path);
}

// Empties the staging folder but for its lock, lets go of the lock and
// removes the folder.
void releaseStaging(InstallContext& job) {
  const PlatformOps& os = platform();
  if (job.stagingLock == kInvalidFile) {
    removeTree(job.stagingPath);
  } else {
    emptyStagingButLock(job.stagingPath);
    os.unlockFile(job.stagingLock, joinPath(job.stagingPath, kStagingLockName));
    job.stagingLock = kInvalidFile;
    removeEmptyFolder(job.stagingPath);
  }
  job.stagingPath.clear();
}

// Makes the staging folder this run's own: creates it, takes its lock and
// removes whatever a killed earlier run left in it. False when another run
// holds it (nothing of that run's is touched), it cannot be made, or what
// was left in it cannot be removed (it would be moved into place).
bool takeStaging(InstallContext& job, const std::wstring& staging) {
  const PlatformOps& os = platform();
  // A link or a file at the name is no staging folder: removed as itself,
  // never entered.
  PathInfo info;
  if (os.pathInfo(staging, info) && info.type != EntryType::Directory) removeTree(staging);
  const std::wstring lockPath = joinPath(staging, kStagingLockName);
  FileHandle lock = kInvalidFile;
  bool made = false;
  // A run that is just finishing removes the folder under us; then again.
  for (int attempt = 0; attempt < 3 && lock == kInvalidFile; ++attempt) {
    bool existed = false;
    if (os.createDirectory(staging, existed)) made = true;
    else if (!existed) break;
    lock = os.lockFile(lockPath);
    if (lock == kInvalidFile && os.isDirectory(staging)) break;
  }
  if (lock == kInvalidFile) {
    // A folder this call made goes again; one another run holds stays.
    if (made) removeEmptyFolder(staging);
    return false;
  }
  job.stagingPath = staging;
  job.stagingLock = lock;
  return emptyStagingButLock(staging);
}

// Every file the job builds is in folder with its byte count: in staging
// before the move (a scanner, the user or a run of another version may have
// removed one), at its target after it.
bool holdsEveryEntry(const InstallContext& job, const std::wstring& folder) {
  const PlatformOps& os = platform();
  for (const auto& e : job.pack->entries) {
    if (!isInstallable(e.kind) || skippedByOptions(e, *job.options)) continue;
    PathInfo info;
    std::wstring path = joinPath(folder, nativeRelativePath(outputPathOf(e)));
    if (!os.pathInfo(path, info) || info.type != EntryType::File || info.size != e.size) return false;
  }
  return true;
}

}  // namespace

std::wstring pathTooLongMessage(const PatchPack& pack, const InstallOptions& options) {
  size_t fileLimit = 0, folderLimit = 0;
  if (!platform().pathLengthLimits(fileLimit, folderLimit)) return std::wstring();
  const std::wstring& dest = options.destinationFolder;
  if (dest.size() > folderLimit) return L"Could not create the folder\n" + dest;
  std::wstring staging = joinPath(dest, kStagingFolderName);
  if (staging.size() > folderLimit || joinPath(staging, kStagingLockName).size() > fileLimit) {
    return L"Could not create the staging folder.";
  }
  for (const auto& e : pack.entries) {
    if (!isInstallable(e.kind) || skippedByOptions(e, options)) continue;
    std::wstring path = joinPath(staging, nativeRelativePath(outputPathOf(e)));
    if (path.size() > fileLimit || parentFolder(path).size() > folderLimit) return L"Could not write\n" + path;
  }
  return std::wstring();
}

namespace {

// The flag that ends the clean-up's waits for held files: a Cancel pressed
// during it. After a cancel, the clean-up still has its own bounded wait,
// so that a scanner's moment does not leave the staging folder behind.
const std::atomic<bool>* cleanupStop(InstallContext& job) {
  if (!job.state || job.state->cancelRequested) return nullptr;
  return &job.state->cancelRequested;
}

}  // namespace

void cleanupAfterFailure(InstallContext& job, bool destinationCreated) {
  HeldFileRetryPhase cleaningUp(cleanupStop(job));
  if (!job.stagingPath.empty()) releaseStaging(job);
  job.stagingPath.clear();
  const std::wstring& dest = job.options->destinationFolder;
  if (destinationCreated && platform().pathExists(dest) && isDirectoryEmpty(dest)) removeEmptyFolder(dest);
}

bool runInstallJob(InstallContext& job) {
  InstallState& state = *job.state;
  const InstallOptions& options = *job.options;
  const PlatformOps& os = platform();
  const std::wstring& dest = options.destinationFolder;

  // The state was reset for this job before it started (beginInstallJob),
  // so a Cancel pressed right after Install is not lost.

  // Each phase of the job waits for files that others hold for a moment
  // within one budget, and a Cancel ends any wait.
  std::optional<HeldFileRetryPhase> phase;
  auto nextPhase = [&](const std::atomic<bool>* stop) {
    phase.reset();
    phase.emplace(stop);
  };
  nextPhase(&state.cancelRequested);

  // Too long a path would fail only after minutes of building.
  std::wstring tooLong = pathTooLongMessage(*job.pack, options);
  if (!tooLong.empty()) return setErrorText(state, tooLong);

  bool created = !os.pathExists(dest);
  if (!createDirectoryChain(dest)) return setErrorText(state, L"Could not create the folder\n" + dest);
  auto failWith = [&](const std::wstring& text) {
    phase.reset();
    state.movingIntoPlace = false;
    cleanupAfterFailure(job, created);
    return setErrorText(state, text);
  };

  uint64_t available = 0;
  uint64_t total = state.bytesTotal;
  if (os.freeSpace(dest, available) && (total > UINT64_MAX - kFreeSpaceMargin || available < total + kFreeSpaceMargin)) {
    return failWith(L"Not enough free space on that drive.\nVELMO needs " + formatSize(total) + L"; " +
                    formatSize(available) + L" are free.");
  }

  // The staging folder must be this run's own for the whole job: a second
  // run into the same folder fails here and leaves this one's alone.
  if (!takeStaging(job, joinPath(dest, kStagingFolderName))) return failWith(L"Could not create the staging folder.");

  std::wstring cancelText;
  uint32_t cancelAfter = os.getEnvironment(kCancelAfterEnv, cancelText) ? parseCancelAfter(cancelText) : 0;

  std::wstring message;
  nextPhase(&state.cancelRequested);
  if (!buildEntries(job, cancelAfter, pipelineLimits(), message)) return failWith(message);
  if (state.cancelRequested) return failWith(kCancelledText);

  // Each staged file was flushed by the handle that wrote it; the move
  // flushes the folders it changed, so a crash right after success cannot
  // leave empty or torn files behind.
  nextPhase(&state.cancelRequested);
  state.movingIntoPlace = true;
  // The same proof again where the files lie once moved, before the files
  // they replaced are let go: a move that missed one is put back.
  auto inPlace = [&] { return holdsEveryEntry(job, dest); };
  if (!holdsEveryEntry(job, job.stagingPath) || !moveTreeInto(job.stagingPath, dest, kStagingLockName, inPlace)) {
    // A cancel that ended a wait there put everything back.
    return failWith(state.cancelRequested ? kCancelledText : L"Could not move the finished files into place.");
  }
  state.movingIntoPlace = false;
  nextPhase(cleanupStop(job));
  releaseStaging(job);
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
