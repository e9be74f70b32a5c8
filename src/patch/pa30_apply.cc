// Applying PA30 RAW deltas: header checks, then the instruction stream
// decoded against a virtual buffer of source followed by output, then the
// optional x86 post-filter and the target hash.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "patch/pa30.h"
#include "patch/pa30_bits.h"
#include "patch/pa30_e8.h"
#include "patch/pa30_format.h"
#include "patch/pa30_hash.h"
#include "patch/pa30_header.h"
#include "patch/pa30_params.h"

namespace velmo {

namespace {

// Copies within the output where the source start lies dist bytes back;
// overlapping copies repeat the period, doubling it as the run grows.
inline void copyBack(uint8_t* dst, uint64_t dist, uint64_t length) {
  if (dist >= length) {
    if (length <= 16 && dist >= 16) {
      std::memcpy(dst, dst - dist, 16);  // the caller leaves slack past the end
    } else {
      std::memcpy(dst, dst - dist, length);
    }
    return;
  }
  if (dist == 1) {
    std::memset(dst, dst[-1], length);
    return;
  }
  while (length > 0) {
    uint64_t chunk = std::min(dist, length);
    std::memcpy(dst, dst - dist, chunk);
    dst += chunk;
    length -= chunk;
    dist *= 2;
  }
}

// Decoding leaves this much writable room past the output so that short
// copies can move 16 bytes at once.
constexpr size_t kSlack = 16;
// The output buffer starts at most this large and grows as output is really
// produced, so a short delta claiming a huge size costs little.
constexpr uint64_t kInitialOutput = uint64_t(32) << 20;

struct Decoder {
  ByteView source;
  Bytes* output = nullptr;
  uint8_t* out = nullptr;
  uint64_t capacity = 0;  // output bytes allocated, not counting the slack
  uint64_t s = 0;  // source size
  uint64_t n = 0;  // target size
  uint64_t t = 0;  // output produced
  const ProgressFn* progress = nullptr;
  uint64_t reported = 0;  // output progress has heard of
  uint64_t repeat[3] = {0, 0, 0};
  Pa30BitReader reader;
  Pa30RiftMap rift;
  Pa30ParamReader params;
  Pa30BlockCodes codes;

  void reserve(uint64_t needed) {
    uint64_t grown = std::min(n, std::max(needed, capacity * 2));
    output->resize(size_t(grown) + kSlack);
    out = output->data();
    capacity = grown;
  }

  // Copies length bytes from virtual position a to the output at t.
  bool copyFrom(uint64_t a, uint64_t length) {
    uint64_t p = s + t;
    if (a >= p) return false;
    uint8_t* dst = out + t;
    if (a < s) {
      uint64_t part = std::min(length, s - a);
      std::memcpy(dst, source.data() + a, part);
      dst += part;
      length -= part;
      if (length == 0) return true;
      a = s;
      p += part;
    }
    copyBack(dst, p - a, length);
    return true;
  }

  // Slot 3 follows the rift map through every segment the match covers.
  bool copySameOffset(uint64_t length) {
    uint64_t p = s + t;
    uint64_t saved = t;
    while (length > 0) {
      int64_t offset = 0;
      uint64_t nextKey = 0;
      rift.lookup(p, offset, nextKey);
      uint64_t piece = std::min(length, nextKey - p);
      if (!copyFrom(p + uint64_t(offset), piece)) return false;
      t += piece;
      p += piece;
      length -= piece;
    }
    t = saved;
    return true;
  }

  bool readLength(unsigned ls, uint64_t& length) {
    if (ls != 0) {
      length = ls + 1;
      return true;
    }
    unsigned symbol = 0;
    if (!codes.length.decode(reader, symbol)) return false;
    if (symbol != 0) {
      length = symbol + 8;
      return true;
    }
    unsigned zeros = 0;
    uint64_t field = 0;
    if (!reader.readZeroRun(kPa30MaxLongLengthZeros, zeros) || !reader.readBits(zeros + 8, field)) return false;
    length = (uint64_t(1) << (zeros + 8)) + field + 8;
    return true;
  }

  bool readDistance(unsigned slot, uint64_t& distance) {
    if (slot == kPa30SlotExtended) {
      unsigned bit = 0;
      uint64_t field = 0;
      if (!reader.readBit(bit)) return false;
      if (bit == 0) {
        if (!reader.readBits(2, field)) return false;
        slot = 43 + unsigned(field);
      } else {
        if (!reader.readBit(bit)) return false;
        if (bit == 0) {
          if (!reader.readBits(3, field)) return false;
          slot = 47 + unsigned(field);
        } else {
          if (!reader.readBits(4, field)) return false;
          slot = 55 + unsigned(field);
        }
      }
    }
    unsigned bits = pa30DistanceExtraBits(slot);
    uint64_t low = 0;
    if (bits < 4) {
      if (!reader.readBits(bits, low)) return false;
    } else {
      unsigned alignedSymbol = 0;
      if (!reader.readBits(bits - 4, low) || !codes.aligned.decode(reader, alignedSymbol)) return false;
      low = (low << 4) | alignedSymbol;
    }
    distance = pa30DistanceBase(slot) + low;
    return true;
  }

  bool run() {
    if (!params.buildCodes(codes)) return false;
    while (t < n) {
      if (t - reported >= kPa30ProgressStep) {
        if (!keepGoing(*progress, t - reported)) return false;
        reported = t;
      }
      uint64_t p = s + t;
      if (p >= params.nextStart) {
        bool changed = false;
        if (!params.advance(p, changed)) return false;
        if (changed && !params.buildCodes(codes)) return false;
      }
      unsigned symbol = 0;
      if (!codes.main.decode(reader, symbol)) return false;
      if (symbol < 256) {
        if (t >= capacity) reserve(t + 1);
        out[t++] = uint8_t(symbol);
        continue;
      }
      unsigned slot = (symbol - 256) >> 3;
      unsigned ls = (symbol - 256) & 7;
      uint64_t delta = 0;  // the match's distance, two's complement
      bool sameOffset = false;
      if (slot < kPa30SlotSameOffset) {
        const Pa30NearSlot& near = kPa30NearSlots[slot];
        uint64_t u = 0;
        if (!reader.readBits(near.bits, u)) return false;
        int64_t d = int64_t(u) - (u < near.split ? near.negativeBias : near.positiveBias);
        int64_t offset = 0;
        uint64_t nextKey = 0;
        rift.lookup(p, offset, nextKey);
        delta = uint64_t(d) - uint64_t(offset);
      } else if (slot == kPa30SlotSameOffset) {
        int64_t offset = 0;
        uint64_t nextKey = 0;
        rift.lookup(p, offset, nextKey);
        delta = uint64_t(0) - uint64_t(offset);
        sameOffset = true;
      } else if (slot < kPa30SlotExtended) {
        delta = repeat[slot - kPa30SlotRepeat0];
      } else if (!readDistance(slot, delta)) {
        return false;
      }
      uint64_t length = 0;
      if (!readLength(ls, length) || length > n - t) return false;
      bool segmented = sameOffset && rift.entries.size() > 1;
      if (!segmented && p - delta >= p) return false;  // checked before growing the output
      if (t + length > capacity) reserve(t + length);

      if (delta != repeat[0]) {
        if (delta == repeat[1]) {
          std::swap(repeat[0], repeat[1]);
        } else {
          repeat[2] = repeat[1];
          repeat[1] = repeat[0];
          repeat[0] = delta;
        }
      }
      if (segmented) {
        if (!copySameOffset(length)) return false;
      } else if (!copyFrom(p - delta, length)) {
        return false;
      }
      t += length;
    }
    return true;
  }
};

bool hashMatches(uint32_t algId, ByteView expected, ByteView data) {
  Bytes digest;
  return pa30ComputeHash(algId, data, digest) && digest.size() == expected.size() &&
         std::equal(digest.begin(), digest.end(), expected.begin());
}

bool applyDelta(ByteView source, ByteView delta, uint64_t maxTargetSize, Bytes& target, const ProgressFn& progress) {
  Pa30Header header;
  if (!pa30ReadHeader(delta, header)) return false;
  if (header.fileType != kPa30FileTypeRaw || (header.fileTypeSet & kPa30FileTypeSetReverse) != 0 ||
      (header.fileTypeSet & kPa30FileTypeRaw) == 0) {
    return false;
  }
  if (header.targetSize < 0 || uint64_t(header.targetSize) > maxTargetSize) return false;
  if (header.hashAlgId == kPa30HashNone) {
    if (!header.hash.empty()) return false;
  } else {
    size_t hashSize = 0;
    if (!pa30HashSize(header.hashAlgId, hashSize) || header.hash.size() != hashSize) return false;
  }
  if (!header.preprocess.empty()) return false;

  uint64_t n = uint64_t(header.targetSize);
  uint64_t s = source.size();
  if (n > UINT64_MAX / 2 - s || n > SIZE_MAX - kSlack) return false;
  if (header.patch.empty()) {
    if (n != 0) return false;
    target.clear();
  } else {
    auto decoder = std::make_unique<Decoder>();
    Decoder& d = *decoder;
    d.source = source;
    d.s = s;
    d.n = n;
    if (!pa30OpenStream(header.patch, d.reader) || !pa30ReadRiftTable(d.reader, s, n, d.rift) ||
        !d.params.open(d.reader)) {
      return false;
    }
    d.output = &target;
    d.progress = &progress;
    d.reserve(std::min(n, kInitialOutput));
    if (!d.run()) return false;
    target.resize(size_t(n));
  }

  if ((header.flags & kPa30FlagE8) != 0 && pa30IsI386Image(target)) {
    // The filter's scan limit is not settled; only a hash can tell which
    // one the delta was made with.
    if (header.hashAlgId == kPa30HashNone) return false;
    size_t resume = pa30E8Decode(target.data(), target.size(), 0, pa30E8ShortLimit(target.size()));
    if (hashMatches(header.hashAlgId, header.hash, target)) return true;
    pa30E8Decode(target.data(), target.size(), resume, pa30E8LongLimit(target.size()));
  }
  if (header.hashAlgId != kPa30HashNone && !hashMatches(header.hashAlgId, header.hash, target)) return false;
  return true;
}

}  // namespace

bool pa30Apply(ByteView source, ByteView delta, uint64_t maxTargetSize, Bytes& target, const ProgressFn& progress) {
  target.clear();
  Bytes out;
  try {
    if (!applyDelta(source, delta, maxTargetSize, out, progress)) return false;
  } catch (const std::bad_alloc&) {
    return false;  // a size within the caller's limit that memory cannot hold
  }
  target = std::move(out);
  return true;
}

}  // namespace velmo
