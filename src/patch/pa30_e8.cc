#include "patch/pa30_e8.h"

namespace velmo {

bool pa30IsI386Image(ByteView data) {
  if (data.size() < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  uint64_t pe = readLe32(data.data() + 0x3C);
  if (pe + 26 > data.size()) return false;
  const uint8_t* h = data.data() + pe;
  return h[0] == 'P' && h[1] == 'E' && h[2] == 0 && h[3] == 0 && readLe16(h + 4) == 0x014C &&
         readLe16(h + 24) == 0x010B;
}

static void storeLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

size_t pa30E8Decode(uint8_t* data, size_t size, size_t start, size_t limit) {
  if (size < 5 || size >= (size_t(1) << 31)) return limit;
  int64_t n = int64_t(size);
  size_t i = start;
  while (i < limit) {
    if (data[i] != 0xE8) {
      ++i;
      continue;
    }
    int64_t v = int32_t(readLe32(data + i + 1));
    int64_t pos = int64_t(i);
    if (v >= -pos && v < n) storeLe32(data + i + 1, uint32_t(v >= 0 ? v - pos : v + n));
    i += 5;
  }
  return i;
}

void pa30E8Encode(uint8_t* data, size_t size, size_t limit) {
  if (size < 5 || size >= (size_t(1) << 31)) return;
  int64_t n = int64_t(size);
  size_t i = 0;
  while (i < limit) {
    if (data[i] != 0xE8) {
      ++i;
      continue;
    }
    int64_t w = int32_t(readLe32(data + i + 1));
    int64_t pos = int64_t(i);
    // Relative values in [-pos, n) map one to one onto [0, n) and [-pos, 0).
    if (w >= -pos && w < n) storeLe32(data + i + 1, uint32_t(w < n - pos ? w + pos : w - n));
    i += 5;
  }
}

}  // namespace velmo
