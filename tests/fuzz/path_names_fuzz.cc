// Names that come from the file system: any bytes must map into a wide
// string and back unchanged, and read as a temporary folder name without
// harm.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/utf8.h"
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
  toUtf8(name);
  return 0;
}
