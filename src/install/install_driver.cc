#include "install/install_driver.h"

#include "platform/platform.h"
#include "xapk/xapk_extract.h"

namespace velmo {

const wchar_t kPackDamagedText[] =
    L"The patcher's embedded patch data is missing or damaged.\nDownload VELMO Patcher.exe again.";
const wchar_t kPackDamagedLogText[] =
    L"The patcher's embedded patch data is missing or damaged. Download VELMO Patcher.exe again.";

std::wstring exeDirectoryOf(const std::wstring& exePath) { return parentFolder(exePath); }

void notePackLoaded(PackContext& context, bool loaded) {
  if (!loaded) {
    context.packOk = false;
    context.packErrorText = kPackDamagedText;
  }
  context.packHasBundles = false;
  for (const auto& e : context.pack.entries) {
    if (e.kind == BundlePatch) {
      context.packHasBundles = true;
      break;
    }
  }
}

void openPackContext(PackContext& context, bool (*loadPack)(PatchPack&)) {
  context.exeDirectory = exeDirectoryOf(platform().executablePath());
  notePackLoaded(context, loadPack(context.pack));
}

bool openAndCheckXapk(XapkSource& source, const PatchPack& pack, const std::wstring& path, std::wstring& text) {
  bool ok = openXapk(source, pack, path, text) && verifyXapkFingerprint(source, pack, text);
  if (!ok) closeXapk(source);
  return ok;
}

void bindInstallJob(InstallContext& job, const PatchPack& pack, XapkSource& source, const InstallOptions& options,
                    InstallState& state) {
  job.pack = &pack;
  job.source = &source;
  job.options = &options;
  job.state = &state;
}

void beginInstallJob(InstallContext& job) {
  InstallState& state = *job.state;
  setErrorText(state, L"");
  state.cancelRequested = false;
  state.jobRunning = true;
  state.startTick = platform().tickCount();
  state.bytesTotal = planInstallBytes(*job.pack, *job.options);
  state.bytesDone = 0;
}

bool runInstallHere(InstallContext& job) {
  beginInstallJob(job);
  return runInstallJob(job);
}

bool startInstallWorker(InstallContext& job) {
  beginInstallJob(job);
  if (startInstallThread(job)) return true;
  job.state->jobRunning = false;
  return false;
}

}  // namespace velmo
