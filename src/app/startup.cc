#include "app/startup.h"

#include "common/crc32.h"
#include "xapk/xapk_source.h"

namespace velmo {

const wchar_t kUsageText[] = L"usage: VELMO Patcher.exe /auto <xapk> <dest>";

void runStartup(const std::vector<std::wstring>& args, Startup& startup, bool (*loadPack)(PatchPack&)) {
  // DPI awareness and COM have no meaning here; the CRC table comes first,
  // before any other thread exists.
  crc32InitTable();
  startup.commandLine = parseCommandLine(args);
  openPackContext(startup, loadPack);
  // A run that was killed leaves its copies of the APK and OBB behind.
  removeStaleXapkTempFolders();
}

}  // namespace velmo
