#include "app/auto_mode.h"

#include "common/utf8.h"
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
  // Installing comes with the XAPK reader and the install job.
  (void)state;
  return finish(L"This build cannot install yet.", 1);
}

}  // namespace velmo
