#pragma once
// Byte counts as the user reads them in messages and on the progress line.
#include <cstdint>
#include <string>

namespace velmo {

// "%.1f GB" from 2^30 bytes, "%.0f MB" from 2^20, else "%.0f KB".
std::wstring formatSize(uint64_t bytes);

}  // namespace velmo
