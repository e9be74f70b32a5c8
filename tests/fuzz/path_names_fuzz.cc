// Names that come from the file system or the command line: any bytes must
// map into a wide string and back unchanged, read as a temporary folder name
// without harm, and split into a root that lies within the path.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/utf8.h"
#include "platform/platform.h"
#include "xapk/xapk_source.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::wstring name = pathFromBytes(bytes);
  if (pathToBytes(name) != bytes) std::abort();
  uint32_t pid = 0;
  if (parseXapkTempFolderName(name, pid)) {
    // Only the very names this program writes: prefix, the id, 8 hex digits.
    std::wstring made = xapkTempFolderName(pid, 0);
    if (made.size() != name.size() || name.compare(0, made.size() - 8, made, 0, made.size() - 8) != 0) std::abort();
  }
  if (windowsRootLength(name) > name.size() || rootLength(name) > name.size()) std::abort();
  windowsVolumeLabel(windowsVolumeRoot(name));
  toUtf8(name);
  return 0;
}
