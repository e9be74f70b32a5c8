#include "patch/pa30_bits.h"

#include <bit>

namespace velmo {

bool Pa30BitReader::readZeroRun(unsigned maxZeros, unsigned& zeros) {
  // Looks at up to 56 bits at a time; every prefix in the format is shorter.
  uint64_t avail = limit - pos;
  uint64_t window = peek();
  unsigned span = avail < 56 ? unsigned(avail) : 56;
  if (span < 64) window &= (uint64_t(1) << span) - 1;
  if (window == 0) return false;  // truncated, or longer than any valid prefix
  unsigned z = unsigned(std::countr_zero(window));
  if (z > maxZeros) return false;
  pos += z + 1;
  zeros = z;
  return true;
}

bool pa30OpenStream(ByteView bytes, Pa30BitReader& reader) {
  if (bytes.empty()) return false;
  uint64_t total = uint64_t(bytes.size()) * 8;
  uint64_t padding = bytes[0] & 7;
  if (total - padding < 3) return false;
  reader.data = bytes.data();
  reader.size = bytes.size();
  reader.limit = total - padding;
  reader.pos = 3;
  return true;
}

static bool readNumber(Pa30BitReader& reader, unsigned maxZeros, uint64_t& value) {
  unsigned k = 0;
  if (!reader.readZeroRun(maxZeros, k)) return false;
  return reader.readBits(4 * (k + 1), value);
}

bool pa30ReadNumber64(Pa30BitReader& reader, int64_t& value) {
  uint64_t raw = 0;
  if (!readNumber(reader, 15, raw)) return false;
  value = int64_t(raw);
  return true;
}

bool pa30ReadNumber32(Pa30BitReader& reader, uint32_t& value) {
  uint64_t raw = 0;
  if (!readNumber(reader, 7, raw)) return false;
  value = uint32_t(raw);
  return true;
}

bool pa30ReadBuffer(Pa30BitReader& reader, ByteView& buffer) {
  int64_t length = 0;
  if (!pa30ReadNumber64(reader, length) || length < 0) return false;
  uint64_t start = (reader.pos + 7) >> 3;
  if (start > reader.size || uint64_t(length) > reader.size - start) return false;
  buffer = ByteView(reader.data + start, size_t(length));
  reader.pos = (start + uint64_t(length)) * 8;
  // A buffer may end inside the padding of the last byte; nothing after it
  // is then readable.
  if (reader.pos > reader.limit) reader.limit = reader.pos;
  return true;
}

void Pa30BitWriter::writeNumber(uint64_t value) {
  unsigned k = 0;
  while (k < 15 && (value >> (4 * (k + 1))) != 0) ++k;
  writeBits(uint64_t(1) << k, k + 1);
  writeBits(value, 4 * (k + 1));
}

void Pa30BitWriter::writeBuffer(ByteView buffer) {
  writeNumber(buffer.size());
  alignZero();
  bytes.insert(bytes.end(), buffer.begin(), buffer.end());
}

void Pa30BitWriter::append(const Pa30BitWriter& other) {
  if (accBits == 0) {
    bytes.insert(bytes.end(), other.bytes.begin(), other.bytes.end());
  } else {
    for (uint8_t b : other.bytes) writeBits(b, 8);
  }
  writeBits(other.acc, other.accBits);
}

Bytes Pa30BitWriter::finishStream() {
  unsigned padding = (8 - (accBits & 7)) & 7;
  alignZero();
  Bytes out = std::move(bytes);
  bytes.clear();
  acc = 0;
  accBits = 0;
  if (!out.empty()) out[0] = uint8_t((out[0] & ~7u) | padding);
  return out;
}

}  // namespace velmo
