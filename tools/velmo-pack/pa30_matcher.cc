#include "velmo-pack/pa30_matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmo {

namespace {

constexpr unsigned kNearRingBits = 19;    // about 256 KiB either side of the target offset
constexpr unsigned kRecentRingBits = 21;  // the last 2 MiB of output
constexpr unsigned kFarTableBits = 22;

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline uint32_t hash4(const uint8_t* p, unsigned shift) { return (load32(p) * 2654435761u) >> shift; }
// The far table keys on long runs: in repetitive data shorter keys recur
// all over the source, and only the last occurrence of each is kept.
constexpr uint32_t kFarKey = 64;
inline uint32_t hashFar(const uint8_t* p, unsigned shift) {
  uint64_t h = 0;
  for (uint32_t i = 0; i < kFarKey; i += 8) h = (h + load64(p + i)) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  return uint32_t((h * 0xBF58476D1CE4E5B9ull) >> shift);
}

unsigned bitsFor(uint64_t size, unsigned low, unsigned high) {
  return std::clamp(unsigned(std::bit_width(size)), low, high);
}

void insertRange(Pa30RingChain& chain, const uint8_t* data, uint64_t from, uint64_t to) {
  uint64_t ring = uint64_t(chain.ringMask) + 1;
  if (to > ring) from = std::max(from, to - ring);
  for (uint64_t pos = from; pos < to; ++pos) {
    uint32_t h = hash4(data + pos, chain.hashShift);
    chain.prev[pos & chain.ringMask] = chain.head[h];
    chain.head[h] = uint32_t(pos + 1);
  }
  chain.inserted = std::max(chain.inserted, to);
}

// Walks one chain for the bytes at target offset t, reporting candidates
// that beat the longest so far. base turns chain positions into virtual
// addresses; data is what the chain's positions index.
template <typename LengthFn>
void walkChain(const Pa30RingChain& chain, uint32_t h, uint32_t depth, uint64_t base, LengthFn length,
               std::vector<Pa30Candidate>& out) {
  uint32_t best = 3;
  constexpr uint32_t kNiceLength = 256;  // long enough: stop looking
  uint32_t link = chain.head[h];
  uint64_t ring = uint64_t(chain.ringMask) + 1;
  while (link != 0 && depth-- > 0) {
    uint32_t pos = link - 1;
    uint32_t len = length(pos, best);
    if (len > best) {
      out.push_back({base + pos, len});
      best = len;
      if (len >= kNiceLength) break;
    }
    if (uint64_t(pos) + ring < chain.inserted) break;  // its link was overwritten
    uint32_t next = chain.prev[pos & chain.ringMask];
    if (next == 0 || next - 1 >= pos) break;
    link = next;
  }
}

}  // namespace

uint32_t pa30CommonPrefix(const uint8_t* x, const uint8_t* y, uint32_t limit) {
  uint32_t i = 0;
  while (i + 8 <= limit) {
    uint64_t diff = load64(x + i) ^ load64(y + i);
    if (diff != 0) return i + unsigned(std::countr_zero(diff)) / 8;
    i += 8;
  }
  while (i < limit && x[i] == y[i]) ++i;
  return i;
}

void Pa30RingChain::init(unsigned hashBits, unsigned ringBits) {
  head.assign(size_t(1) << hashBits, 0);
  prev.assign(size_t(1) << ringBits, 0);
  ringMask = (uint32_t(1) << ringBits) - 1;
  hashShift = 32 - hashBits;
  inserted = 0;
}

void Pa30MatchFinder::init(ByteView sourceBytes, ByteView targetBytes) {
  source = sourceBytes;
  target = targetBytes;
  unsigned nearBits = bitsFor(source.size(), 10, kNearRingBits);
  nearSource.init(nearBits, nearBits);
  unsigned recentBits = bitsFor(target.size(), 10, kRecentRingBits);
  recent.init(std::min(recentBits, 20u), recentBits);
  farTable.clear();
  if (source.size() >= kFarKey && target.size() >= kFarKey) {
    unsigned farBits = bitsFor(source.size(), 10, kFarTableBits);
    farShift = 64 - farBits;
    farTable.assign(size_t(1) << farBits, 0);
    for (size_t j = 0; j + kFarKey <= source.size(); ++j) {
      farTable[hashFar(source.data() + j, farShift)] = uint32_t(j + 1);
    }
  }
}

void Pa30MatchFinder::advanceTo(uint32_t t) {
  uint64_t n = target.size();
  uint64_t recentEnd = std::min<uint64_t>(t, n >= 4 ? n - 3 : 0);
  if (recentEnd > recent.inserted) insertRange(recent, target.data(), recent.inserted, recentEnd);

  uint64_t s = source.size();
  uint64_t half = (uint64_t(nearSource.ringMask) + 1) / 2;
  uint64_t nearEnd = std::min<uint64_t>(uint64_t(t) + half, s >= 4 ? s - 3 : 0);
  if (nearEnd > nearSource.inserted) insertRange(nearSource, source.data(), nearSource.inserted, nearEnd);
}

void Pa30MatchFinder::find(uint32_t t, std::vector<Pa30Candidate>& out) const {
  uint64_t n = target.size();
  uint64_t s = source.size();
  if (uint64_t(t) + 4 > n) return;
  uint32_t maxLength = uint32_t(n - t);
  const uint8_t* here = target.data() + t;
  const uint8_t* src = source.data();
  const uint8_t* tgt = target.data();

  if (nearSource.inserted > 0) {
    walkChain(nearSource, hash4(here, nearSource.hashShift), chainDepth, 0,
              [&](uint32_t j, uint32_t best) -> uint32_t {
                uint32_t limit = uint32_t(std::min<uint64_t>(maxLength, s - j));
                if (limit <= best || src[j + best] != here[best]) return 0;
                return pa30CommonPrefix(src + j, here, limit);
              },
              out);
  }
  if (recent.inserted > 0) {
    walkChain(recent, hash4(here, recent.hashShift), chainDepth, s,
              [&](uint32_t pos, uint32_t best) -> uint32_t {
                if (pos >= t || tgt[pos + best] != here[best] || maxLength <= best) return 0;
                return pa30CommonPrefix(tgt + pos, here, maxLength);
              },
              out);
  }
  if (!farTable.empty() && maxLength >= kFarKey) {
    uint32_t link = farTable[hashFar(here, farShift)];
    if (link != 0) {
      uint32_t j = link - 1;
      uint32_t len = pa30CommonPrefix(src + j, here, uint32_t(std::min<uint64_t>(maxLength, s - j)));
      if (len >= kFarKey) out.push_back({j, len});
    }
  }
}

uint32_t Pa30MatchFinder::matchLength(uint64_t a, uint32_t t, uint32_t maxLength) const {
  uint64_t s = source.size();
  const uint8_t* here = target.data() + t;
  uint32_t len = 0;
  if (a < s) {
    uint32_t limit = uint32_t(std::min<uint64_t>(maxLength, s - a));
    len = pa30CommonPrefix(source.data() + a, here, limit);
    if (len < limit || len == maxLength) return len;
    a = s;
  }
  return len + pa30CommonPrefix(target.data() + (a - s), here + len, maxLength - len);
}

}  // namespace velmo
