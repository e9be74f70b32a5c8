#include "app/auto_mode.h"

#include "common/utf8.h"
#include "install/install_driver.h"
#include "platform/platform.h"

namespace velmo {

void writeAutoLog(const std::wstring& exeDirectory, const std::wstring& text) {
  const PlatformOps& os = platform();
  const std::wstring path = joinPath(exeDirectory, kAutoLogName);
  FileHandle f = os.createFile(path);
  if (f == kInvalidFile) return;
  std::string bytes = toUtf8(text);
  bool whole = os.writeFile(f, bytes.data(), bytes.size());
  os.closeFile(f);
  // A result cut short (a full disk) would be read as another; the exit
  // code alone tells it then.
  if (!whole) os.deleteFile(path);
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
  // A failed open or check leaves no temporary folder or partial copies.
  if (!openAndCheckXapk(source, startup.pack, cl.xapkPath, text)) return finish(text, 1);
  InstallOptions options;
  options.destinationFolder = cl.destinationFolder;
  InstallContext job;
  bindInstallJob(job, startup.pack, source, options, state);
  bool ok = runInstallHere(job);
  writeAutoLog(startup.exeDirectory, ok ? std::wstring(L"OK") : copyErrorText(state));
  closeXapk(source);
  return ok ? 0 : 1;
}

}  // namespace velmo
