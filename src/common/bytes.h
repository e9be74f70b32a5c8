#pragma once
// Byte buffers and little-/big-endian readers and writers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmo {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t readLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t readLe64(const uint8_t* p) { return readLe32(p) | (uint64_t(readLe32(p + 4)) << 32); }

inline uint16_t readBe16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t readBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t readBe64(const uint8_t* p) { return (uint64_t(readBe32(p)) << 32) | readBe32(p + 4); }

inline void appendLe16(Bytes& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void appendLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void appendLe64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void appendBe32(Bytes& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void appendBe64(Bytes& out, uint64_t v) {
  for (int i = 7; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// A bounds-checked forward reader over outside bytes: every read reports
// whether it fitted, and a failed read leaves the cursor where it was.
struct ByteReader {
  ByteView data;
  size_t pos = 0;

  size_t remaining() const { return data.size() - pos; }
  bool readU8(uint8_t& v) {
    if (remaining() < 1) return false;
    v = data[pos++];
    return true;
  }
  bool readU16(uint16_t& v) {
    if (remaining() < 2) return false;
    v = readLe16(data.data() + pos);
    pos += 2;
    return true;
  }
  bool readU32(uint32_t& v) {
    if (remaining() < 4) return false;
    v = readLe32(data.data() + pos);
    pos += 4;
    return true;
  }
  bool readU64(uint64_t& v) {
    if (remaining() < 8) return false;
    v = readLe64(data.data() + pos);
    pos += 8;
    return true;
  }
  bool readBytes(size_t n, ByteView& v) {
    if (remaining() < n) return false;
    v = data.subspan(pos, n);
    pos += n;
    return true;
  }
};

}  // namespace velmo
