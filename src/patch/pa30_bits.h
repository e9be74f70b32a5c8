#pragma once
// Bit streams of PA30 deltas: bits are taken from each byte least
// significant first, a stream's low three bits count the zero padding at the
// top of its last byte, and fields are assembled least significant bit first.
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

struct Pa30BitReader {
  const uint8_t* data = nullptr;
  size_t size = 0;     // bytes of the stream; buffers are bounded by these
  uint64_t limit = 0;  // end of the usable bits
  uint64_t pos = 0;    // never above limit

  // The next 57 or more bits from pos, zero past the end of the bytes. Bits
  // past the usable limit may show up here; callers check before consuming.
  uint64_t peek() const {
    size_t byte = size_t(pos >> 3);
    uint64_t w;
    if (byte + 8 <= size) {
      w = readLe64(data + byte);
    } else {
      w = 0;
      for (size_t i = 0; byte + i < size; ++i) w |= uint64_t(data[byte + i]) << (8 * i);
    }
    return w >> (pos & 7);
  }
  uint64_t bitsLeft() const { return limit - pos; }
  bool consume(unsigned n) {
    if (n > limit - pos) return false;
    pos += n;
    return true;
  }
  // A field of n bits, n up to 64.
  bool readBits(unsigned n, uint64_t& value) {
    if (n > limit - pos) return false;
    if (n <= 56) {
      value = n == 0 ? 0 : peek() & ((uint64_t(1) << n) - 1);
      pos += n;
      return true;
    }
    uint64_t low = peek() & 0xFFFFFFFFu;
    pos += 32;
    uint64_t high = peek() & ((uint64_t(1) << (n - 32)) - 1);
    pos += n - 32;
    value = low | (high << 32);
    return true;
  }
  bool readBit(unsigned& bit) {
    if (pos >= limit) return false;
    bit = unsigned(peek() & 1);
    ++pos;
    return true;
  }
  // Counts zero bits up to and including the first one bit; fails when more
  // than maxZeros zeros come first.
  bool readZeroRun(unsigned maxZeros, unsigned& zeros);
};

// Opens bytes as a stream: checks the padding count and positions the
// reader after it.
bool pa30OpenStream(ByteView bytes, Pa30BitReader& reader);

// Variable-length numbers: a unary width prefix, then 4 * (k + 1) bits.
// 64-bit numbers are signed (only the widest form can be negative).
bool pa30ReadNumber64(Pa30BitReader& reader, int64_t& value);
bool pa30ReadNumber32(Pa30BitReader& reader, uint32_t& value);

// A length-prefixed run of whole bytes inside the stream's bytes.
bool pa30ReadBuffer(Pa30BitReader& reader, ByteView& buffer);

struct Pa30BitWriter {
  Bytes bytes;
  uint64_t acc = 0;
  unsigned accBits = 0;

  uint64_t bitCount() const { return uint64_t(bytes.size()) * 8 + accBits; }
  // A field of n bits, n up to 64.
  void writeBits(uint64_t value, unsigned n) {
    if (n > 32) {
      writeBits(value & 0xFFFFFFFFu, 32);
      writeBits(value >> 32, n - 32);
      return;
    }
    if (n < 64) value &= (uint64_t(1) << n) - 1;
    acc |= value << accBits;
    accBits += n;
    while (accBits >= 8) {
      bytes.push_back(uint8_t(acc));
      acc >>= 8;
      accBits -= 8;
    }
  }
  void writeNumber(uint64_t value);  // smallest width; a negative int64 takes the widest
  void alignZero() {
    if (accBits & 7) writeBits(0, 8 - (accBits & 7));
  }
  void writeBuffer(ByteView buffer);
  // Appends every bit another writer holds.
  void append(const Pa30BitWriter& other);
  // Pads with zeros to a byte boundary and records the pad count in the low
  // three bits of byte 0, which the stream must have left zero.
  Bytes finishStream();
};

}  // namespace velmo
