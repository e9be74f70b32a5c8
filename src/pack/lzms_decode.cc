#include "pack/lzms_decode.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GNUC__)
#define LZMS_INLINE inline __attribute__((always_inline))
#define LZMS_LIKELY(x) __builtin_expect(!!(x), 1)
#define LZMS_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define LZMS_INLINE inline
#define LZMS_LIKELY(x) (x)
#define LZMS_UNLIKELY(x) (x)
#endif

namespace velmo {
namespace {

// Slot tables from their runs of (extra bits, number of slots): each base is
// the previous one plus 2^extra.
struct Run {
  uint8_t extra;
  uint16_t count;
};
constexpr Run kOffsetRuns[] = {{0, 8},   {2, 9},   {3, 7},   {4, 10},  {5, 15}, {6, 15}, {7, 20},
                               {8, 20},  {9, 30},  {10, 33}, {11, 40}, {12, 42}, {13, 45}, {14, 60},
                               {15, 73}, {16, 80}, {17, 85}, {18, 95}, {19, 105}, {20, 6}, {30, 1}};
constexpr Run kLengthRuns[] = {{0, 26}, {1, 4}, {2, 6}, {3, 4}, {4, 5}, {5, 2}, {6, 1},
                               {7, 1},  {8, 1}, {9, 1}, {10, 1}, {16, 1}, {30, 1}};

template <size_t N, size_t R>
constexpr std::array<uint8_t, N> extraFromRuns(const Run (&runs)[R]) {
  std::array<uint8_t, N> extra{};
  size_t at = 0;
  for (const Run& r : runs) {
    for (uint16_t i = 0; i < r.count; ++i) extra[at++] = r.extra;
  }
  return extra;
}
template <size_t N>
constexpr std::array<uint32_t, N + 1> baseFromExtra(const std::array<uint8_t, N>& extra) {
  std::array<uint32_t, N + 1> base{};
  base[0] = 1;
  for (size_t i = 0; i < N; ++i) base[i + 1] = base[i] + (uint32_t(1) << extra[i]);
  return base;
}

constexpr uint32_t kMaxCodeLength = 15;

}  // namespace

constexpr std::array<uint8_t, kLzmsOffsetSlots> kLzmsOffsetExtra = extraFromRuns<kLzmsOffsetSlots>(kOffsetRuns);
constexpr std::array<uint32_t, kLzmsOffsetSlots + 1> kLzmsOffsetBase = baseFromExtra(kLzmsOffsetExtra);
constexpr std::array<uint8_t, kLzmsLengthSlots> kLzmsLengthExtra = extraFromRuns<kLzmsLengthSlots>(kLengthRuns);
constexpr std::array<uint32_t, kLzmsLengthSlots + 1> kLzmsLengthBase = baseFromExtra(kLzmsLengthExtra);
static_assert(kLzmsOffsetBase[kLzmsOffsetSlots] == 0x465BE4A5u);
static_assert(kLzmsLengthBase[kLzmsLengthSlots] == 0x400108ABu);

namespace {

// One adaptive bit model: the last 64 bits decoded with it (newest in bit 0)
// and how many of them are zeros.
struct BitModel {
  uint64_t history;
  uint32_t zeros;
};
// The probability of a zero, in 64ths, that a count of zeros gives: the count
// itself, kept within 1..63.
constexpr std::array<uint8_t, 65> kZeroProbability = [] {
  std::array<uint8_t, 65> p{};
  for (uint32_t z = 0; z <= 64; ++z) p[z] = uint8_t(z == 0 ? 1 : z == 64 ? 63 : z);
  return p;
}();
constexpr uint64_t kInitialHistory = 0x0000000055555555ull;
constexpr uint32_t kInitialZeros = 48;

// The decision classes, each with 2^k models chosen by its own last k bits.
enum Decision { Main, Match, Lz, LzRep0, LzRep1, Delta, DeltaRep0, DeltaRep1, kDecisions };
constexpr uint32_t kDecisionModels[kDecisions] = {16, 32, 64, 64, 64, 64, 64, 64};
constexpr uint32_t kTotalModels = 16 + 32 + 6 * 64;

// An adaptive Huffman code with its decode table: codes up to tableBits long
// resolve in one lookup (entry = symbol << 4 | length), longer ones through
// the canonical first-code walk (entry 0).
struct Code {
  static constexpr uint32_t kMaxTableBits = 10;
  uint32_t symbols = 0;
  uint32_t period = 0;
  uint32_t tableBits = 0;
  uint32_t first[kMaxCodeLength + 2] = {};
  uint32_t count[kMaxCodeLength + 2] = {};
  uint32_t start[kMaxCodeLength + 2] = {};
  uint32_t freq[kLzmsOffsetSlots] = {};
  uint16_t sorted[kLzmsOffsetSlots] = {};
  uint16_t table[1u << kMaxTableBits] = {};
};

}  // namespace

struct LzmsWorkspace {
  BitModel models[kTotalModels];
  Code literal, lzOffset, length, deltaOffset, power;
  // Each code as every block starts it (all counts 1), built once.
  Code initial[5];
  LzmsX86Table x86;
};

void LzmsWorkspaceDeleter::operator()(LzmsWorkspace* workspace) const { delete workspace; }

LzmsWorkspacePtr lzmsNewWorkspace() { return LzmsWorkspacePtr(new LzmsWorkspace); }

uint32_t lzmsOffsetSlotCount(uint64_t size) {
  if (size < 2) return 0;
  uint64_t last = size - 1;
  // The largest slot whose base is at most the largest offset.
  const uint32_t* end = kLzmsOffsetBase.data() + kLzmsOffsetSlots;
  const uint32_t* above = std::upper_bound(kLzmsOffsetBase.data(), end, last > 0xFFFFFFFFu ? 0xFFFFFFFFu : last);
  return uint32_t(above - kLzmsOffsetBase.data());
}

namespace {

// The code lengths, and how many symbols have each length (count[1..15]).
void codeLengths(const uint32_t* freq, uint32_t n, uint8_t* lengths, uint32_t* count) {
  std::fill(count, count + kMaxCodeLength + 1, 0u);
  if (n == 0) return;
  if (n == 1) {
    lengths[0] = 1;
    count[1] = 1;
    return;
  }
  // Symbols by (frequency, symbol): a stable radix sort on the frequency
  // over symbols taken in increasing order, 6 bits a pass. Frequencies stay
  // below 2^12 in use (the symbols since the last halving plus half the
  // previous counts); any larger ones are sorted by a comparison sort.
  uint32_t bufferA[kLzmsOffsetSlots], bufferB[kLzmsOffsetSlots];
  uint32_t* keys = bufferA;
  uint32_t low[65] = {}, high[65] = {};
  uint32_t maxFreq = 0;
  for (uint32_t s = 0; s < n; ++s) {
    uint32_t f = freq[s];
    bufferA[s] = (f << 10) | s;
    ++low[(f & 63) + 1];
    ++high[((f >> 6) & 63) + 1];
    maxFreq |= f;
  }
  if (maxFreq < (1u << 12)) {
    for (uint32_t d = 1; d < 65; ++d) low[d] += low[d - 1];
    for (uint32_t i = 0; i < n; ++i) bufferB[low[(bufferA[i] >> 10) & 63]++] = bufferA[i];
    keys = bufferB;
    if (maxFreq >= 64) {
      for (uint32_t d = 1; d < 65; ++d) high[d] += high[d - 1];
      for (uint32_t i = 0; i < n; ++i) bufferA[high[(bufferB[i] >> 16) & 63]++] = bufferB[i];
      keys = bufferA;
    }
  } else {
    std::sort(bufferA, bufferA + n);
  }

  // Two queues: leaves in that order, internal nodes as they are made. Each
  // ends in a weight no real one reaches, so neither needs an emptiness test
  // (the node being made stands as the end of the second).
  uint32_t leafWeight[kLzmsOffsetSlots + 1];
  for (uint32_t i = 0; i < n; ++i) leafWeight[i] = keys[i] >> 10;
  leafWeight[n] = 0xFFFFFFFFu;
  uint32_t nodeWeight[kLzmsOffsetSlots];
  uint16_t parent[kLzmsOffsetSlots];
  uint32_t leaf = 0, next = 0;
  for (uint32_t made = 0; made < n - 1; ++made) {
    nodeWeight[made] = 0xFFFFFFFFu;
    uint32_t sum = 0;
    for (int k = 0; k < 2; ++k) {
      if (leafWeight[leaf] <= nodeWeight[next]) {
        sum += leafWeight[leaf++];
      } else {
        parent[next] = uint16_t(made);
        sum += nodeWeight[next++];
      }
    }
    nodeWeight[made] = sum;
  }

  // Depths of the internal nodes (root last, at 0), then the leaves per
  // depth, a node at depth 15 or more pushing its leaves up to the deepest
  // level below 15 that still has one.
  uint16_t depth[kLzmsOffsetSlots];
  std::fill(count, count + kMaxCodeLength + 1, 0u);
  const uint32_t root = n - 2;
  depth[root] = 0;
  count[1] = 2;
  for (uint32_t i = root; i-- > 0;) {
    uint32_t d = depth[parent[i]] + 1u;
    depth[i] = uint16_t(d);
    uint32_t l = d;
    if (l >= kMaxCodeLength) {
      l = kMaxCodeLength - 1;
      while (count[l] == 0) --l;
    }
    count[l] -= 1;
    count[l + 1] += 2;
  }
  // Longest codes to the rarest symbols.
  uint32_t at = 0;
  for (uint32_t l = kMaxCodeLength; l >= 1; --l) {
    for (uint32_t k = 0; k < count[l]; ++k) lengths[keys[at++] & 1023] = uint8_t(l);
  }
}

}  // namespace

void lzmsCodeLengths(const uint32_t* freq, uint32_t n, uint8_t* lengths) {
  uint32_t count[kMaxCodeLength + 1];
  codeLengths(freq, n, lengths, count);
}

namespace {

void buildCode(Code& c) {
  uint8_t lengths[kLzmsOffsetSlots];
  std::fill(std::begin(c.count), std::end(c.count), 0u);
  codeLengths(c.freq, c.symbols, lengths, c.count);
  uint32_t code = 0, pos = 0;
  for (uint32_t l = 1; l <= kMaxCodeLength; ++l) {
    c.first[l] = code;
    c.start[l] = pos;
    code = (code + c.count[l]) << 1;
    pos += c.count[l];
  }
  uint32_t fill[kMaxCodeLength + 1];
  std::copy(std::begin(c.start), std::begin(c.start) + kMaxCodeLength + 1, fill);
  for (uint32_t s = 0; s < c.symbols; ++s) c.sorted[fill[lengths[s]]++] = uint16_t(s);

  // Short codes fill the front of the table in canonical order; the rest of
  // it is prefixes of long codes (or, for a one-symbol code, unused).
  const uint32_t bits = c.tableBits;
  uint16_t* t = c.table;
  uint32_t filled = 0;
  for (uint32_t l = 1; l <= bits; ++l) {
    const uint32_t span = 1u << (bits - l);
    const uint16_t* symbol = c.sorted + c.start[l];
    if (span >= 4) {
      // Four entries a store.
      for (uint32_t k = 0; k < c.count[l]; ++k) {
        uint64_t four = uint64_t((symbol[k] << 4) | l) * 0x0001000100010001ull;
        for (uint32_t i = 0; i < span; i += 4) std::memcpy(t + filled + i, &four, 8);
        filled += span;
      }
    } else {
      for (uint32_t k = 0; k < c.count[l]; ++k) {
        uint16_t entry = uint16_t((symbol[k] << 4) | l);
        for (uint32_t i = 0; i < span; ++i) t[filled + i] = entry;
        filled += span;
      }
    }
  }
  std::fill(t + filled, t + (1u << bits), uint16_t(0));
}

// Starts a code afresh: every count 1. That code only depends on the
// alphabet, so it is built once and copied after.
void resetCode(Code& c, Code& initial, uint32_t symbols, uint32_t period, uint32_t tableBits) {
  if (initial.symbols != symbols || initial.period != period || initial.tableBits != tableBits) {
    initial.symbols = symbols;
    initial.period = period;
    initial.tableBits = tableBits;
    std::fill(initial.freq, initial.freq + symbols, 1u);
    buildCode(initial);
  }
  c = initial;
}

// After each symbol: count it, and every `period` symbols rebuild the code
// from the counts, then halve them. The countdown is the caller's local,
// kept out of memory the output bytes might alias.
LZMS_INLINE void countSymbol(Code& c, uint32_t symbol, uint32_t& countdown) {
  ++c.freq[symbol];
  if (LZMS_UNLIKELY(--countdown == 0)) {
    buildCode(c);
    for (uint32_t s = 0; s < c.symbols; ++s) c.freq[s] = (c.freq[s] >> 1) + 1;
    countdown = c.period;
  }
}

LZMS_INLINE uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The backward bit stream: u16 units from the last one down, each most
// significant bit first, then zeros for ever. `bits` holds `avail` bits at
// its top.
struct BackwardBits {
  uint64_t bits;
  uint32_t avail;
  const uint8_t* next;  // one past the next unit to take
  const uint8_t* begin;

  // Afterwards at least `need` (at most 48) bits are held.
  LZMS_INLINE void ensure(uint32_t need) {
    if (avail >= need) return;
    if (LZMS_LIKELY(next - begin >= 8)) {
      // Going down, the stream's next 64 bits are the little-endian u64
      // ending at `next`; take as many whole units as fit.
      uint32_t units = (64 - avail) >> 4;
      uint64_t v = load64(next - 8);
      bits |= (v >> (64 - 16 * units)) << (64 - avail - 16 * units);
      next -= 2 * units;
      avail += 16 * units;
      return;
    }
    while (avail <= 48) {
      if (next > begin) {
        next -= 2;
        bits |= uint64_t(readLe16(next)) << (48 - avail);
      }
      avail += 16;  // past the first unit the stream is zeros, already there
    }
  }
  LZMS_INLINE uint32_t peek(uint32_t n) const { return uint32_t((bits >> 1) >> (63 - n)); }
  LZMS_INLINE void skip(uint32_t n) {
    bits <<= n;
    avail -= n;
  }
  LZMS_INLINE uint32_t take(uint32_t n) {
    uint32_t v = peek(n);
    skip(n);
    return v;
  }
};

// The range decoder over the forward stream of u16 units (zeros past the end).
struct RangeDecoder {
  uint32_t range;
  uint32_t code;
  const uint8_t* next;
  const uint8_t* end;

  LZMS_INLINE uint32_t bit(BitModel& m) {
    if (range < 0x10000) {
      range <<= 16;
      uint32_t unit = 0;
      if (LZMS_LIKELY(next < end)) {
        unit = readLe16(next);
        next += 2;
      }
      code = (code << 16) | unit;
    }
    uint32_t bound = (range >> 6) * kZeroProbability[m.zeros];
    uint32_t b;
    if (code < bound) {
      range = bound;
      b = 0;
    } else {
      range -= bound;
      code -= bound;
      b = 1;
    }
    m.zeros = m.zeros + uint32_t(m.history >> 63) - b;
    m.history = (m.history << 1) | b;
    return b;
  }
};

// Decodes one symbol; false for a bit pattern that is no codeword (only
// possible in codes of fewer than two symbols). Needs 15 bits held.
template <uint32_t kTableBits>
LZMS_INLINE bool decodeSymbol(Code& c, BackwardBits& in, uint32_t& symbol, uint32_t& countdown) {
  uint32_t entry = c.table[in.peek(kTableBits)];
  if (LZMS_LIKELY(entry & 15)) {
    in.skip(entry & 15);
    symbol = entry >> 4;
  } else {
    uint32_t bits15 = in.peek(kMaxCodeLength);
    uint32_t l = kTableBits + 1;
    for (;; ++l) {
      if (l > kMaxCodeLength) return false;
      uint32_t offset = (bits15 >> (kMaxCodeLength - l)) - c.first[l];
      if (offset < c.count[l]) {
        symbol = c.sorted[c.start[l] + offset];
        break;
      }
    }
    in.skip(l);
  }
  countSymbol(c, symbol, countdown);
  return true;
}

// Moves entry j of a repeat queue to its front.
template <typename T>
LZMS_INLINE T toFront(T* queue, uint32_t j) {
  T v = queue[j];
  for (uint32_t k = j; k > 0; --k) queue[k] = queue[k - 1];
  queue[0] = v;
  return v;
}

enum Kind : uint32_t { LiteralItem, LzItem, DeltaItem };

// Decode table sizes: each code's common lengths fit; the power code's 8
// symbols never need more than 7 bits.
constexpr uint32_t kLiteralTableBits = 10, kLzOffsetTableBits = 10, kLengthTableBits = 9,
                   kDeltaOffsetTableBits = 9, kPowerTableBits = 7;

}  // namespace

void lzmsX86Filter(std::span<uint8_t> block, bool forward, LzmsX86Table& table) {
  if (block.size() <= 17 || block.size() > kLzmsMaxBlockSize) return;
  uint8_t* const out = block.data();
  const uint32_t size = uint32_t(block.size());
  // Positions are stored as base + position; each block's base lies 65536
  // beyond everything stored before, so old entries are never near enough.
  if (table.base < 65536 || uint64_t(table.base) + size + 65536 > 0xFFFFFFFFu) {
    std::fill(std::begin(table.lastUse), std::end(table.lastUse), 0u);
    table.base = 65536;
  }
  const uint32_t base = table.base;
  table.base += size + 65536;
  uint32_t* const lastUse = table.lastUse;
  int32_t lastX86 = -1024;
  const int32_t end = int32_t(size) - 16;
  int32_t i = 1;
  while (i < end) {
#if defined(__SSE2__)
    {
      // Most bytes open no instruction: skip 16 at a time to the next that
      // might (i + 16 < size, so the load stays inside the block).
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
      __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x48)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x4C)));
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(char(0xF0))));
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(char(0xFF))));
      // E8 and E9 differ only in bit 0.
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(1)), _mm_set1_epi8(char(0xE9))));
      uint32_t mask = uint32_t(_mm_movemask_epi8(hit));
      if (mask == 0) {
        i += 16;
        continue;
      }
      i += __builtin_ctz(mask);
      if (i >= end) break;
    }
#endif
    const uint8_t* p = out + i;
    int32_t operand, reach;
    switch (p[0]) {
      case 0x48:
        if ((p[1] == 0x8D && (p[2] & 7) == 5) || (p[1] == 0x8B && (p[2] == 0x05 || p[2] == 0x0D))) {
          operand = 3, reach = 1023;
          break;
        }
        ++i;
        continue;
      case 0x4C:
        if (p[1] == 0x8D && (p[2] & 7) == 5) {
          operand = 3, reach = 1023;
          break;
        }
        ++i;
        continue;
      case 0xF0:
        if (p[1] == 0x83 && p[2] == 0x05) {
          operand = 3, reach = 1023;
          break;
        }
        ++i;
        continue;
      case 0xFF:
        if (p[1] == 0x15) {
          operand = 2, reach = 1023;
          break;
        }
        ++i;
        continue;
      case 0xE8:
        operand = 1, reach = 511;
        break;
      case 0xE9:
        i += 5;
        continue;
      default:
        ++i;
        continue;
    }
    uint8_t* q = out + i + operand;
    // The table is keyed by the original operand's low half: read before
    // translating forwards, after translating back.
    uint32_t target = (uint32_t(i) + readLe16(q)) & 0xFFFF;
    if (i - lastX86 <= reach) {
      uint32_t v = forward ? readLe32(q) + uint32_t(i) : readLe32(q) - uint32_t(i);
      q[0] = uint8_t(v), q[1] = uint8_t(v >> 8), q[2] = uint8_t(v >> 16), q[3] = uint8_t(v >> 24);
      if (!forward) target = (uint32_t(i) + readLe16(q)) & 0xFFFF;
    }
    int32_t last = i + operand + 3;
    uint32_t stamp = base + uint32_t(last);
    if (stamp - lastUse[target] <= 65535) lastX86 = last;
    lastUse[target] = stamp;
    i = last + 1;
  }
}

bool lzmsDecodeBlock(LzmsWorkspace& ws, ByteView in, std::span<uint8_t> out) {
  const size_t c = in.size();
  if (c < 4 || c % 2 != 0) return false;
  if (out.size() > kLzmsMaxBlockSize) return false;
  const uint32_t size = uint32_t(out.size());
  if (size == 0) return true;

  RangeDecoder rd{0xFFFFFFFFu, (uint32_t(readLe16(in.data())) << 16) | readLe16(in.data() + 2), in.data() + 4,
                  in.data() + c};
  BackwardBits bits{0, 0, in.data() + c, in.data()};

  BitModel* models[kDecisions];
  uint32_t state[kDecisions] = {};
  {
    BitModel* m = ws.models;
    for (int d = 0; d < kDecisions; ++d) {
      models[d] = m;
      m += kDecisionModels[d];
    }
    for (BitModel& e : ws.models) e = {kInitialHistory, kInitialZeros};
  }
  auto decide = [&](Decision d) {
    uint32_t b = rd.bit(models[d][state[d]]);
    state[d] = ((state[d] << 1) | b) & (kDecisionModels[d] - 1);
    return b;
  };

  const uint32_t offsetSlots = lzmsOffsetSlotCount(size);
  resetCode(ws.literal, ws.initial[0], 256, 1024, kLiteralTableBits);
  resetCode(ws.lzOffset, ws.initial[1], offsetSlots, 1024, kLzOffsetTableBits);
  resetCode(ws.length, ws.initial[2], kLzmsLengthSlots, 512, kLengthTableBits);
  resetCode(ws.deltaOffset, ws.initial[3], offsetSlots, 1024, kDeltaOffsetTableBits);
  resetCode(ws.power, ws.initial[4], 8, 512, kPowerTableBits);
  uint32_t literalLeft = 1024, lzOffsetLeft = 1024, lengthLeft = 512, deltaOffsetLeft = 1024, powerLeft = 512;

  uint32_t lzQueue[4] = {1, 2, 3, 4};
  uint64_t deltaQueue[4] = {1 << 3, 2 << 3, 3 << 3, 4 << 3};  // raw offset << 3 | power
  uint32_t prev = LiteralItem;
  uint8_t* const o = out.data();
  uint32_t pos = 0;

  while (pos < size) {
    uint32_t symbol;
    if (!decide(Main)) {
      bits.ensure(kMaxCodeLength);
      if (!decodeSymbol<kLiteralTableBits>(ws.literal, bits, symbol, literalLeft)) return false;
      o[pos++] = uint8_t(symbol);
      prev = LiteralItem;
      continue;
    }
    if (!decide(Match)) {
      uint32_t offset;
      if (!decide(Lz)) {
        bits.ensure(kMaxCodeLength + 30);
        if (!decodeSymbol<kLzOffsetTableBits>(ws.lzOffset, bits, symbol, lzOffsetLeft)) return false;
        offset = kLzmsOffsetBase[symbol] + bits.take(kLzmsOffsetExtra[symbol]);
        lzQueue[3] = lzQueue[2], lzQueue[2] = lzQueue[1], lzQueue[1] = lzQueue[0], lzQueue[0] = offset;
      } else {
        uint32_t k = !decide(LzRep0) ? 0 : !decide(LzRep1) ? 1 : 2;
        offset = toFront(lzQueue, k + (prev == LzItem));
      }
      bits.ensure(kMaxCodeLength + 30);
      if (!decodeSymbol<kLengthTableBits>(ws.length, bits, symbol, lengthLeft)) return false;
      uint32_t length = kLzmsLengthBase[symbol] + bits.take(kLzmsLengthExtra[symbol]);
      if (offset > pos || length > size - pos) return false;
      uint8_t* dst = o + pos;
      const uint8_t* src = dst - offset;
      pos += length;
      if (offset >= 8 && size - pos >= 8) {
        // Eight bytes at a time: each source word is complete before it is read.
        uint8_t* stop = dst + length;
        do {
          std::memcpy(dst, src, 8);
          dst += 8, src += 8;
        } while (dst < stop);
      } else if (offset == 1) {
        std::memset(dst, src[0], length);
      } else {
        for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
      }
      prev = LzItem;
      continue;
    }
    uint64_t pair;
    if (!decide(Delta)) {
      bits.ensure(kMaxCodeLength);
      if (!decodeSymbol<kPowerTableBits>(ws.power, bits, symbol, powerLeft)) return false;
      uint32_t power = symbol;
      bits.ensure(kMaxCodeLength + 30);
      if (!decodeSymbol<kDeltaOffsetTableBits>(ws.deltaOffset, bits, symbol, deltaOffsetLeft)) return false;
      uint64_t raw = kLzmsOffsetBase[symbol] + bits.take(kLzmsOffsetExtra[symbol]);
      pair = raw << 3 | power;
      deltaQueue[3] = deltaQueue[2], deltaQueue[2] = deltaQueue[1], deltaQueue[1] = deltaQueue[0];
      deltaQueue[0] = pair;
    } else {
      uint32_t k = !decide(DeltaRep0) ? 0 : !decide(DeltaRep1) ? 1 : 2;
      pair = toFront(deltaQueue, k + (prev == DeltaItem));
    }
    bits.ensure(kMaxCodeLength + 30);
    if (!decodeSymbol<kLengthTableBits>(ws.length, bits, symbol, lengthLeft)) return false;
    uint32_t length = kLzmsLengthBase[symbol] + bits.take(kLzmsLengthExtra[symbol]);
    const uint32_t power = uint32_t(pair & 7);
    const uint64_t span = uint64_t(1) << power;
    const uint64_t offset = (pair >> 3) << power;
    if (offset >= (uint64_t(1) << 32) || offset + span >= (uint64_t(1) << 32) || offset + span > pos ||
        length > size - pos) {
      return false;
    }
    uint8_t* dst = o + pos;
    const uint8_t* back = dst - offset;
    const uint8_t* dstSpan = dst - span;
    const uint8_t* backSpan = back - span;
    for (uint32_t i = 0; i < length; ++i) dst[i] = uint8_t(back[i] + dstSpan[i] - backSpan[i]);
    pos += length;
    prev = DeltaItem;
  }
  lzmsX86Filter(out, false, ws.x86);
  return true;
}

}  // namespace velmo
