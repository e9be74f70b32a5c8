#include "common/crc32.h"

#include <cstring>

namespace velmo {
namespace {

// Slicing-by-8: table[0] is the classic byte table; table[k] advances a byte
// that sits k positions earlier, so eight bytes fold in per step.
uint32_t gTable[8][256];
bool gTableReady = false;

}  // namespace

void crc32InitTable() {
  if (gTableReady) return;
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
    gTable[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int t = 1; t < 8; ++t) gTable[t][i] = (gTable[t - 1][i] >> 8) ^ gTable[0][gTable[t - 1][i] & 0xFF];
  }
  gTableReady = true;
}

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) {
  if (!gTableReady) crc32InitTable();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  while (length >= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    lo = __builtin_bswap32(lo);
    hi = __builtin_bswap32(hi);
#endif
    lo ^= c;
    c = gTable[7][lo & 0xFF] ^ gTable[6][(lo >> 8) & 0xFF] ^ gTable[5][(lo >> 16) & 0xFF] ^
        gTable[4][lo >> 24] ^ gTable[3][hi & 0xFF] ^ gTable[2][(hi >> 8) & 0xFF] ^
        gTable[1][(hi >> 16) & 0xFF] ^ gTable[0][hi >> 24];
    p += 8;
    length -= 8;
  }
  while (length--) c = gTable[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

}  // namespace velmo
