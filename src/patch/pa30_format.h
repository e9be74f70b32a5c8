#pragma once
// Constants and small codings shared by the PA30 reader and writer.
#include <bit>
#include <cstdint>

namespace velmo {

constexpr uint8_t kPa30Signature[4] = {'P', 'A', '3', '0'};
constexpr int64_t kPa30FileTypeRaw = 0x1;
constexpr int64_t kPa30FileTypeSetReverse = 0x100;
constexpr int64_t kPa30FlagE8 = 0x1;
constexpr int64_t kPa30FlagIgnoreFileSizeLimit = 0x20000;
constexpr uint64_t kPa30DefaultSizeLimit = uint64_t(32) << 20;

constexpr uint32_t kPa30HashNone = 0;
constexpr uint32_t kPa30HashCrc32 = 0x20;
constexpr uint32_t kPa30HashMd5 = 0x8003;
constexpr uint32_t kPa30HashSha1 = 0x8004;
constexpr uint32_t kPa30HashSha256 = 0x800C;
constexpr size_t kPa30MaxHashSize = 32;

// Tree sizes of one parameter block; their code lengths are stored as one
// run of 872 values in this order.
constexpr unsigned kPa30MainSymbols = 600;
constexpr unsigned kPa30LengthSymbols = 256;
constexpr unsigned kPa30AlignedSymbols = 16;
constexpr unsigned kPa30BlockLengths = kPa30MainSymbols + kPa30LengthSymbols + kPa30AlignedSymbols;
constexpr unsigned kPa30PreTreeSymbols = 39;
constexpr unsigned kPa30PreTreeMaxLength = 15;
constexpr unsigned kPa30LongestRun = 127;
constexpr unsigned kPa30IntFormatSymbols = 252;

// Offset slots of the instruction stream.
constexpr unsigned kPa30SlotSameOffset = 3;
constexpr unsigned kPa30SlotRepeat0 = 4;
constexpr unsigned kPa30SlotExtended = 7;
constexpr unsigned kPa30FirstDistanceSlot = 8;
constexpr unsigned kPa30MaxSlot = 70;
constexpr unsigned kPa30MaxLongLengthZeros = 23;

// Near-source deltas (slots 0 to 2): field width and the bias taken off the
// field for each sign.
struct Pa30NearSlot {
  unsigned bits;
  int64_t negativeBias;  // d = u - negativeBias while u < split
  int64_t positiveBias;  // d = u - positiveBias from split on
  uint32_t split;
  int64_t minDelta;
  int64_t maxDelta;
};
constexpr Pa30NearSlot kPa30NearSlots[3] = {
    {14, 0x2000, 0x2000, 0x4000, -8192, 8191},
    {16, 0xA000, 0x6000, 0x8000, -40960, 40959},
    {18, 0x2A000, 0x16000, 0x20000, -172032, 172031},
};

// Distance slots 8 to 70: slot for a distance and the low bits it carries.
inline unsigned pa30DistanceSlot(uint64_t distance) {
  if (distance < 4) return unsigned(7 + distance);
  unsigned high = unsigned(std::bit_width(distance)) - 1;
  unsigned second = unsigned((distance >> (high - 1)) & 1);
  return 2 * high + second + 7;
}
inline unsigned pa30DistanceExtraBits(unsigned slot) { return slot < 11 ? 0 : ((slot - 7) >> 1) - 1; }
inline uint64_t pa30DistanceBase(unsigned slot) {
  if (slot < 11) return slot - 7;
  unsigned x = slot - 7;
  return uint64_t(2 + (x & 1)) << ((x >> 1) - 1);
}

}  // namespace velmo
