#include "app/auto_mode.h"

#include "common/utf8.h"
#include "install/install_job.h"
#include "xapk/xapk_extract.h"
#include "platform/platform.h"

namespace velmo {

void writeAutoLog(const std::wstring& exeDirectory, const std::wstring& text) {
  const PlatformOps& os = platform();
  FileHandle f = os.createFile(joinPath(exeDirectory, kAutoLogName));
  if (f == kInvalidFile) return;
  std::string bytes = toUtf8(text);
  os.writeFile(f, bytes.data(), bytes.size());
  os.closeFile(f);
}

int runAutoMode(Startup& startup, InstallState& state) {
  auto finish = [&](const std::wstring& text, int code) {
    writeAutoLog(startup.exeDirectory, text);
    return code;
  };
  if (!startup.packOk) return finish(kPackDamagedLogText, 1);
  const CommandLine& cl = startup.commandLine;
  if (cl.xapkPath.empty() || cl.destinationFolder.empty()) return finish(kUsageText, 1);
  static XapkSource source;
  std::wstring text;
  if (!openXapk(source, startup.pack, cl.xapkPath, text)) {
    // A failed open can leave its temporary folder and partial copies;
    // nothing else will remove them before the process ends.
    closeXapk(source);
    return finish(text, 1);
  }
  if (!verifyXapkFingerprint(source, startup.pack, text)) {
    writeAutoLog(startup.exeDirectory, text);
    closeXapk(source);
    return 1;
  }
  InstallOptions options;
  options.xapkPath = cl.xapkPath;
  options.destinationFolder = cl.destinationFolder;
  InstallContext job;
  job.pack = &startup.pack;
  job.source = &source;
  job.options = &options;
  job.state = &state;
  state.cancelRequested = false;
  bool ok = runInstallJob(job);
  writeAutoLog(startup.exeDirectory, ok ? std::wstring(L"OK") : copyErrorText(state));
  closeXapk(source);
  return ok ? 0 : 1;
}

}  // namespace velmo
