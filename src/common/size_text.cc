#include "common/size_text.h"

#include <cwchar>

namespace velmo {

std::wstring formatSize(uint64_t bytes) {
  wchar_t buf[64];
  double value = double(bytes);
  if (bytes >= (uint64_t(1) << 30)) {
    std::swprintf(buf, 64, L"%.1f GB", value / double(uint64_t(1) << 30));
  } else if (bytes >= (uint64_t(1) << 20)) {
    std::swprintf(buf, 64, L"%.0f MB", value / double(uint64_t(1) << 20));
  } else {
    std::swprintf(buf, 64, L"%.0f KB", value / 1024.0);
  }
  return buf;
}

}  // namespace velmo
