#include "pack/lzms_encode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "pack/lzms_decode.h"

namespace velmo {
namespace {

constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 2048;  // longer runs become several matches
constexpr uint32_t kMaxChain = 24;
constexpr uint32_t kHashBits = 15;
constexpr size_t kMaxRaw = size_t(64) << 20;

// The decoder's adaptive bit models, the encoding side.
struct BitModel {
  uint64_t history = 0x0000000055555555ull;
  uint32_t zeros = 48;
};

// Range encoder writing u16 units; a carry runs back into units already
// written, which are all still at hand.
struct RangeEncoder {
  uint64_t low = 0;
  uint32_t range = 0xFFFFFFFFu;
  std::vector<uint16_t> units;

  void bit(BitModel& m, uint32_t b) {
    if (range < 0x10000) {
      range <<= 16;
      units.push_back(uint16_t(low >> 16));
      low = (low & 0xFFFF) << 16;
    }
    uint32_t p0 = m.zeros + (m.zeros == 0) - (m.zeros == 64);
    uint32_t bound = (range >> 6) * p0;
    if (b == 0) {
      range = bound;
    } else {
      low += bound;
      range -= bound;
      if (low >> 32) {
        for (size_t i = units.size(); i-- > 0;) {
          if (++units[i] != 0) break;
        }
        low &= 0xFFFFFFFFu;
      }
    }
    m.zeros = m.zeros + uint32_t(m.history >> 63) - b;
    m.history = (m.history << 1) | b;
  }
  void flush() {
    units.push_back(uint16_t(low >> 16));
    units.push_back(uint16_t(low));
  }
};

// The bits the decoder reads backwards from the block's end, in the order it
// reads them.
struct BitWriter {
  uint64_t acc = 0;
  uint32_t count = 0;
  std::vector<uint16_t> units;

  void put(uint32_t value, uint32_t n) {  // n <= 30
    if (n == 0) return;
    acc = (acc << n) | value;
    count += n;
    while (count >= 16) {
      count -= 16;
      units.push_back(uint16_t(acc >> count));
    }
  }
  void flush() {
    if (count) units.push_back(uint16_t(acc << (16 - count)));
    count = 0;
  }
};

// An adaptive Huffman code kept in step with the decoder's.
struct Code {
  uint32_t symbols = 0, period = 0, countdown = 0;
  std::vector<uint32_t> freq;
  std::vector<uint16_t> word;
  std::vector<uint8_t> length;

  void reset(uint32_t n, uint32_t rebuildPeriod) {
    symbols = n, period = countdown = rebuildPeriod;
    freq.assign(n, 1);
    word.assign(n, 0);
    length.assign(n, 0);
    build();
  }
  void build() {
    lzmsCodeLengths(freq.data(), symbols, length.data());
    uint32_t count[17] = {}, next[17] = {};
    for (uint32_t s = 0; s < symbols; ++s) ++count[length[s]];
    uint32_t code = 0;
    for (uint32_t l = 1; l <= 15; ++l) {
      next[l] = code;
      code = (code + count[l]) << 1;
    }
    for (uint32_t s = 0; s < symbols; ++s) word[s] = uint16_t(next[length[s]]++);
  }
  void put(BitWriter& out, uint32_t symbol) {
    out.put(word[symbol], length[symbol]);
    ++freq[symbol];
    if (--countdown == 0) {
      build();
      for (uint32_t& f : freq) f = (f >> 1) + 1;
      countdown = period;
    }
  }
};

uint32_t slotOf(const uint32_t* base, uint32_t slots, uint32_t value) {
  return uint32_t(std::upper_bound(base, base + slots, value) - base) - 1;
}

uint32_t hash3(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

size_t lzmsCompressBlock(ByteView raw, uint8_t* out, size_t capacity) {
  const size_t size = raw.size();
  if (size < 4 || size > kMaxRaw) return 0;
  std::vector<uint8_t> data(raw.begin(), raw.end());
  {
    auto table = std::make_unique<LzmsX86Table>();
    lzmsX86Filter(data, true, *table);
  }

  BitModel mainModels[16], matchModels[32], lzModels[64];
  uint32_t mainState = 0, matchState = 0, lzState = 0;
  RangeEncoder rc;
  BitWriter bits;
  auto decide = [&](BitModel* models, uint32_t& state, uint32_t mask, uint32_t b) {
    rc.bit(models[state], b);
    state = ((state << 1) | b) & mask;
  };
  const uint32_t offsetSlots = lzmsOffsetSlotCount(size);
  Code literal, offsetCode, lengthCode;
  literal.reset(256, 1024);
  offsetCode.reset(offsetSlots, 1024);
  lengthCode.reset(kLzmsLengthSlots, 512);

  std::vector<int32_t> head(size_t(1) << kHashBits, -1), prev(size, -1);
  auto insert = [&](size_t at) {
    if (at + kMinMatch > size) return;
    uint32_t h = hash3(&data[at]);
    prev[at] = head[h];
    head[h] = int32_t(at);
  };

  size_t pos = 0;
  while (pos < size) {
    uint32_t bestLength = 0, bestOffset = 0;
    if (pos + kMinMatch <= size) {
      const uint32_t limit = uint32_t(std::min<size_t>(kMaxMatch, size - pos));
      int32_t candidate = head[hash3(&data[pos])];
      for (uint32_t chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
        const uint8_t* a = &data[pos];
        const uint8_t* b = &data[size_t(candidate)];
        uint32_t n = 0;
        while (n < limit && a[n] == b[n]) ++n;
        if (n > bestLength) {
          bestLength = n;
          bestOffset = uint32_t(pos - size_t(candidate));
          if (n == limit) break;
        }
        candidate = prev[size_t(candidate)];
      }
    }
    if (bestLength < kMinMatch) {
      decide(mainModels, mainState, 15, 0);
      literal.put(bits, data[pos]);
      insert(pos);
      ++pos;
      continue;
    }
    decide(mainModels, mainState, 15, 1);
    decide(matchModels, matchState, 31, 0);
    decide(lzModels, lzState, 63, 0);
    uint32_t slot = slotOf(kLzmsOffsetBase.data(), offsetSlots, bestOffset);
    offsetCode.put(bits, slot);
    bits.put(bestOffset - kLzmsOffsetBase[slot], kLzmsOffsetExtra[slot]);
    slot = slotOf(kLzmsLengthBase.data(), kLzmsLengthSlots, bestLength);
    lengthCode.put(bits, slot);
    bits.put(bestLength - kLzmsLengthBase[slot], kLzmsLengthExtra[slot]);
    for (uint32_t i = 0; i < bestLength; ++i) insert(pos + i);
    pos += bestLength;
  }
  rc.flush();
  bits.flush();

  // Range coder units from the front, the bit units from the back.
  const size_t total = 2 * (rc.units.size() + bits.units.size());
  if (total > capacity) return 0;
  uint8_t* p = out;
  for (uint16_t u : rc.units) *p++ = uint8_t(u), *p++ = uint8_t(u >> 8);
  for (size_t i = bits.units.size(); i-- > 0;) *p++ = uint8_t(bits.units[i]), *p++ = uint8_t(bits.units[i] >> 8);
  return total;
}

}  // namespace velmo
