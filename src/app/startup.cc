#include "app/startup.h"

#include "common/crc32.h"
#include "platform/platform.h"
#include "xapk/xapk_source.h"

namespace velmo {

const wchar_t kPackDamagedText[] =
    L"The patcher's embedded patch data is missing or damaged.\nDownload VELMO Patcher.exe again.";
const wchar_t kPackDamagedLogText[] =
    L"The patcher's embedded patch data is missing or damaged. Download VELMO Patcher.exe again.";
const wchar_t kUsageText[] = L"usage: VELMO Patcher.exe /auto <xapk> <dest>";

std::wstring exeDirectoryOf(const std::wstring& exePath) { return parentFolder(exePath); }

void notePackLoaded(Startup& startup, bool loaded) {
  if (!loaded) {
    startup.packOk = false;
    startup.packErrorText = kPackDamagedText;
  }
  startup.packHasBundles = false;
  for (const auto& e : startup.pack.entries) {
    if (e.kind == BundlePatch) {
      startup.packHasBundles = true;
      break;
    }
  }
}

void runStartup(const std::vector<std::wstring>& args, Startup& startup, bool (*loadPack)(PatchPack&)) {
  // DPI awareness and COM have no meaning here; the CRC table comes first,
  // before any other thread exists.
  crc32InitTable();
  startup.exeDirectory = exeDirectoryOf(platform().executablePath());
  startup.commandLine = parseCommandLine(args);
  resolveDestination(startup.commandLine);
  notePackLoaded(startup, loadPack(startup.pack));
  // A run that was killed leaves its copies of the APK and OBB behind.
  removeStaleXapkTempFolders();
}

}  // namespace velmo
