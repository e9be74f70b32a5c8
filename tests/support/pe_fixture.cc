#include "support/pe_fixture.h"

#include <cstring>

namespace velmo::test {
namespace {

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void put16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }

}  // namespace

Bytes tinyPe(uint32_t sizeOfHeaders) {
  Bytes b(0x400, 0);
  b[0] = 'M', b[1] = 'Z';
  put32(b, 0x3C, 0x40);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  size_t coff = 0x44, opt = coff + 20;
  put16(b, coff, 0x8664);
  put16(b, coff + 2, 1);
  put16(b, coff + 16, 240);
  put16(b, opt, 0x20B);
  put32(b, opt + 32, 0x1000);
  put32(b, opt + 36, 0x200);
  put32(b, opt + 56, 0x2000);
  put32(b, opt + 60, sizeOfHeaders);
  put32(b, opt + 108, 16);
  size_t sec = opt + 240;
  std::memcpy(&b[sec], ".text", 5);
  put32(b, sec + 8, 0x100);
  put32(b, sec + 12, 0x1000);
  put32(b, sec + 16, 0x200);
  put32(b, sec + 20, 0x200);
  return b;
}

}  // namespace velmo::test
