// Writing PA30 RAW deltas: a greedy parse with one step of lazy matching
// over source and earlier output, split into parameter blocks that each get
// Huffman tables fitted to their own instructions.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "patch/pa30.h"
#include "patch/pa30_bits.h"
#include "patch/pa30_e8.h"
#include "patch/pa30_format.h"
#include "patch/pa30_hash.h"
#include "patch/pa30_header.h"
#include "patch/pa30_huffman.h"
#include "patch/pa30_params.h"
#include "velmo-pack/pa30_create.h"
#include "velmo-pack/pa30_matcher.h"

namespace velmo {

namespace {

// Matches at least this long are taken without looking one byte further.
constexpr uint32_t kLazyLimit = 32;
// After an edit, the source copy usually resumes at a slightly different
// offset (bytes were inserted or removed). When nothing this long turns up,
// offsets within kResyncReach of the last source offset are tried directly:
// in repetitive data the hash chains drown in look-alike candidates.
constexpr uint32_t kResyncBelow = 64;
constexpr int64_t kResyncReach = 64;
constexpr uint32_t kResyncAfterLiterals = 256;
// Only copies this long count as evidence of where the source lines up;
// shorter ones are often coincidences in repetitive data.
constexpr uint32_t kAnchorLength = 32;
// Literal runs longer than 2^kSkipShift bytes step over positions.
constexpr unsigned kSkipShift = 5;
constexpr uint32_t kMaxSkip = 8;
// Rough costs, in sixteenths of a bit, that steer the parse; the real ones
// depend on the tables built afterwards.
constexpr int64_t kMainSymbolCost = 8 * 16;
constexpr unsigned kEntropyChunkBits = 16;

// Order-0 entropy of each 64 KiB of data: what a literal roughly costs there.
std::vector<uint16_t> literalCosts(ByteView data) {
  std::vector<uint16_t> costs;
  for (size_t at = 0; at < data.size(); at += size_t(1) << kEntropyChunkBits) {
    size_t end = std::min(data.size(), at + (size_t(1) << kEntropyChunkBits));
    uint32_t counts[256] = {};
    for (size_t i = at; i < end; ++i) ++counts[data[i]];
    double bits = 0, total = double(end - at);
    for (uint32_t c : counts) {
      if (c != 0) bits -= double(c) / total * std::log2(double(c) / total);
    }
    costs.push_back(uint16_t(std::clamp(bits, 1.0, 8.0) * 16 + 0.5));
  }
  return costs;
}

struct Op {
  uint32_t literals;  // literal bytes before the match
  uint32_t length;    // 0: no match (the literals end a block)
  uint32_t param;     // near-slot field or distance
  uint8_t slot;       // 0 to 70
};

// How one match is written, field by field.
struct MatchCode {
  unsigned mainSymbol = 0;
  uint32_t ext = 0;
  unsigned extBits = 0;
  uint64_t low = 0;
  unsigned lowBits = 0;
  int aligned = -1;
  int lengthSymbol = -1;
  unsigned longZeros = 0;
  uint64_t longField = 0;
};

void describeMatch(const Op& op, MatchCode& code) {
  code = MatchCode();
  unsigned mainSlot = op.slot;
  if (op.slot < kPa30SlotSameOffset) {
    code.low = op.param;
    code.lowBits = kPa30NearSlots[op.slot].bits;
  } else if (op.slot >= kPa30FirstDistanceSlot) {
    if (op.slot >= 55) {
      code.ext = 0x3 | ((op.slot - 55u) << 2);
      code.extBits = 6;
    } else if (op.slot >= 47) {
      code.ext = 0x1 | ((op.slot - 47u) << 2);
      code.extBits = 5;
    } else if (op.slot >= 43) {
      code.ext = (op.slot - 43u) << 1;
      code.extBits = 3;
    }
    if (op.slot >= 43) mainSlot = kPa30SlotExtended;
    unsigned bits = pa30DistanceExtraBits(op.slot);
    uint64_t low = op.param - pa30DistanceBase(op.slot);
    if (bits < 4) {
      code.low = low;
      code.lowBits = bits;
    } else {
      code.low = low >> 4;
      code.lowBits = bits - 4;
      code.aligned = int(low & 15);
    }
  }
  unsigned ls = 0;
  if (op.length <= 8) {
    ls = op.length - 1;
  } else if (op.length <= 263) {
    code.lengthSymbol = int(op.length - 8);
  } else {
    code.lengthSymbol = 0;
    uint64_t v = op.length - 8;
    code.longZeros = unsigned(std::bit_width(v)) - 9;
    code.longField = v - (uint64_t(1) << (code.longZeros + 8));
  }
  code.mainSymbol = 256 + mainSlot * 8 + ls;
}

int64_t lengthCost(uint32_t length) {
  if (length <= 8) return 0;
  if (length <= 263) return 6 * 16;
  return (8 + 2 * int64_t(std::bit_width(length))) * 16;
}

struct Choice {
  uint32_t length = 0;
  uint32_t param = 0;
  uint64_t delta = 0;
  int64_t gain = 0;
  uint8_t slot = 0;
};

struct BlockTables {
  uint8_t lengths[kPa30BlockLengths];
  uint16_t mainCodes[kPa30MainSymbols];
  uint16_t lengthCodes[kPa30LengthSymbols];
  uint16_t alignedCodes[kPa30AlignedSymbols];
};

struct Encoder {
  ByteView source;
  ByteView target;
  uint64_t s = 0;
  uint64_t n = 0;
  uint32_t blockSize = 0;
  Pa30MatchFinder finder;
  std::vector<Pa30Candidate> candidates;
  std::vector<uint16_t> literalCost;
  uint64_t repeat[3] = {0, 0, 0};

  uint64_t shifts[2] = {0, 0};  // distances of the latest copies from the source

  std::vector<Op> ops;  // of the block being parsed
  uint32_t pendingLiterals = 0;
  uint32_t blockStart = 0;
  std::vector<uint64_t> starts;
  std::vector<uint8_t> allLengths;
  Pa30BitWriter instructions;

  void consider(uint32_t t, uint64_t address, uint32_t length, Choice& best) {
    if (length < 2) return;
    uint64_t p = s + t;
    uint64_t delta = p - address;
    Choice c;
    c.length = length;
    c.delta = delta;
    int64_t offsetCost = 0;
    if (delta == repeat[0] || delta == repeat[1] || delta == repeat[2]) {
      c.slot = uint8_t(kPa30SlotRepeat0 + (delta == repeat[0] ? 0 : delta == repeat[1] ? 1 : 2));
    } else if (address == t && address + length <= s) {
      c.slot = kPa30SlotSameOffset;
    } else {
      int64_t d = int64_t(t) - int64_t(address);
      bool near = false;
      if (address < s && address + length <= s) {
        for (unsigned slot = 0; slot < 3; ++slot) {
          const Pa30NearSlot& ns = kPa30NearSlots[slot];
          if (d < ns.minDelta || d > ns.maxDelta) continue;
          c.slot = uint8_t(slot);
          c.param = uint32_t(d + (d < 0 ? ns.negativeBias : ns.positiveBias));
          offsetCost = ns.bits;
          near = true;
          break;
        }
      }
      if (!near) {
        c.slot = uint8_t(pa30DistanceSlot(delta));
        c.param = uint32_t(delta);
        offsetCost = pa30DistanceExtraBits(c.slot);
        if (c.slot >= 43) offsetCost += c.slot >= 55 ? 6 : c.slot >= 47 ? 5 : 3;
      }
    }
    c.gain = int64_t(literalCost[t >> kEntropyChunkBits]) * length -
             (kMainSymbolCost + offsetCost * 16 + lengthCost(length));
    if (c.gain > best.gain) best = c;
  }

  void evaluate(uint32_t t, Choice& best) {
    best = Choice();
    uint64_t p = s + t;
    uint32_t maxLength = uint32_t(n - t);
    if (maxLength < 2) return;
    const uint8_t* here = target.data() + t;
    if (t < s) {
      uint32_t limit = uint32_t(std::min<uint64_t>(maxLength, s - t));
      consider(t, t, pa30CommonPrefix(source.data() + t, here, limit), best);
    }
    for (uint64_t r : repeat) {
      if (r == 0 || r > p) continue;
      consider(t, p - r, finder.matchLength(p - r, t, maxLength), best);
    }
    for (uint64_t shift : shifts) {
      if (shift == 0 || shift > p || shift == repeat[0] || shift == repeat[1] || shift == repeat[2]) continue;
      consider(t, p - shift, finder.matchLength(p - shift, t, maxLength), best);
    }
    candidates.clear();
    finder.find(t, candidates);
    for (const Pa30Candidate& c : candidates) consider(t, c.address, c.length, best);
    if (best.length < kResyncBelow && shifts[0] != 0 && pendingLiterals < kResyncAfterLiterals && maxLength >= 4) {
      resync(t, best);
    }
  }

  void resync(uint32_t t, Choice& best) {
    uint64_t p = s + t;
    uint32_t maxLength = uint32_t(n - t);
    uint32_t head;
    std::memcpy(&head, target.data() + t, 4);
    for (int64_t k = -kResyncReach; k <= kResyncReach; ++k) {
      uint64_t shift = shifts[0] + uint64_t(k);
      if (k == 0 || shift == 0 || shift > p) continue;
      uint64_t a = p - shift;
      if (a + 4 > s) continue;
      uint32_t there;
      std::memcpy(&there, source.data() + a, 4);
      if (there == head) consider(t, a, finder.matchLength(a, t, maxLength), best);
    }
  }

  void takeMatch(uint32_t t, const Choice& c) {
    ops.push_back({pendingLiterals, c.length, c.param, c.slot});
    pendingLiterals = 0;
    if (c.length >= kAnchorLength && s + t - c.delta < s && c.delta != shifts[0]) {
      shifts[1] = shifts[0];
      shifts[0] = c.delta;
    }
    if (c.delta != repeat[0]) {
      if (c.delta == repeat[1]) {
        std::swap(repeat[0], repeat[1]);
      } else {
        repeat[2] = repeat[1];
        repeat[1] = repeat[0];
        repeat[0] = c.delta;
      }
    }
  }

  void buildTables(BlockTables& tables) {
    std::vector<uint64_t> mainFreq(kPa30MainSymbols), lengthFreq(kPa30LengthSymbols), alignedFreq(kPa30AlignedSymbols);
    uint32_t t = blockStart;
    MatchCode code;
    for (const Op& op : ops) {
      for (uint32_t i = 0; i < op.literals; ++i) ++mainFreq[target[t + i]];
      t += op.literals;
      if (op.length == 0) continue;
      describeMatch(op, code);
      ++mainFreq[code.mainSymbol];
      if (code.lengthSymbol >= 0) ++lengthFreq[size_t(code.lengthSymbol)];
      if (code.aligned >= 0) ++alignedFreq[size_t(code.aligned)];
      t += op.length;
    }
    pa30BuildCodeLengths(mainFreq.data(), kPa30MainSymbols, kPa30MaxCodeLength, tables.lengths);
    pa30BuildCodeLengths(lengthFreq.data(), kPa30LengthSymbols, kPa30MaxCodeLength, tables.lengths + kPa30MainSymbols);
    pa30BuildCodeLengths(alignedFreq.data(), kPa30AlignedSymbols, kPa30MaxCodeLength,
                         tables.lengths + kPa30MainSymbols + kPa30LengthSymbols);
    pa30BuildCodes(tables.lengths, kPa30MainSymbols, tables.mainCodes);
    pa30BuildCodes(tables.lengths + kPa30MainSymbols, kPa30LengthSymbols, tables.lengthCodes);
    pa30BuildCodes(tables.lengths + kPa30MainSymbols + kPa30LengthSymbols, kPa30AlignedSymbols, tables.alignedCodes);
  }

  // Codes the parsed instructions of the current block with tables fitted
  // to them, and starts the next block at target offset end.
  void flushBlock(uint32_t end) {
    if (pendingLiterals > 0) {
      ops.push_back({pendingLiterals, 0, 0, 0});
      pendingLiterals = 0;
    }
    BlockTables tables;
    buildTables(tables);
    starts.push_back(s + blockStart);
    allLengths.insert(allLengths.end(), tables.lengths, tables.lengths + kPa30BlockLengths);

    const uint8_t* mainLengths = tables.lengths;
    const uint8_t* lengthLengths = tables.lengths + kPa30MainSymbols;
    const uint8_t* alignedLengths = lengthLengths + kPa30LengthSymbols;
    Pa30BitWriter& w = instructions;
    uint32_t t = blockStart;
    MatchCode code;
    for (const Op& op : ops) {
      for (uint32_t i = 0; i < op.literals; ++i) {
        uint8_t b = target[t + i];
        w.writeBits(tables.mainCodes[b], mainLengths[b]);
      }
      t += op.literals;
      if (op.length == 0) continue;
      describeMatch(op, code);
      w.writeBits(tables.mainCodes[code.mainSymbol], mainLengths[code.mainSymbol]);
      w.writeBits(code.ext, code.extBits);
      w.writeBits(code.low, code.lowBits);
      if (code.aligned >= 0) w.writeBits(tables.alignedCodes[code.aligned], alignedLengths[code.aligned]);
      if (code.lengthSymbol >= 0) {
        w.writeBits(tables.lengthCodes[code.lengthSymbol], lengthLengths[code.lengthSymbol]);
        if (code.lengthSymbol == 0) {
          w.writeBits(uint64_t(1) << code.longZeros, code.longZeros + 1);
          w.writeBits(code.longField, code.longZeros + 8);
        }
      }
      t += op.length;
    }
    ops.clear();
    blockStart = end;
  }

  void parse() {
    finder.init(source, target);
    literalCost = literalCosts(target);
    uint32_t t = 0;
    Choice current, next;
    bool carried = false;
    while (t < n) {
      if (t - blockStart >= blockSize && (pendingLiterals > 0 || !ops.empty())) flushBlock(t);
      finder.advanceTo(t);
      if (!carried) evaluate(t, current);
      carried = false;
      if (current.gain > 0 && current.length < kLazyLimit && uint64_t(t) + 1 < n) {
        finder.advanceTo(t + 1);
        evaluate(t + 1, next);
        if (next.gain > current.gain) {
          ++pendingLiterals;
          ++t;
          current = next;
          carried = true;
          continue;
        }
      }
      if (current.gain > 0) {
        uint32_t back = extendBackwards(t, current);
        t -= back;
        pendingLiterals -= back;
        current.length += back;
        takeMatch(t, current);
        t += current.length;
      } else {
        // Long literal runs are searched more and more sparsely; a match
        // found late is extended back over the bytes skipped.
        uint32_t step = std::min<uint32_t>(1 + (pendingLiterals >> kSkipShift), kMaxSkip);
        step = uint32_t(std::min<uint64_t>(step, n - t));
        pendingLiterals += step;
        t += step;
      }
    }
    flushBlock(t);
  }

  uint8_t virtualByte(uint64_t a) const { return a < s ? source[a] : target[a - s]; }

  // How many of the literals just before t the match at t also covers.
  uint32_t extendBackwards(uint32_t t, const Choice& c) const {
    uint64_t a = s + t - c.delta;
    uint32_t back = 0;
    while (back < pendingLiterals && back < a && virtualByte(a - back - 1) == target[t - back - 1]) ++back;
    return back;
  }
};

Bytes writePatchStream(Encoder& encoder) {
  Pa30BitWriter w;
  w.writeBits(0, 3);  // padding count, set when finished
  w.writeBits(0, 1);  // no base rift table
  if (encoder.n == 0) {
    w.writeBits(1, 1);  // default tables, and no instructions
  } else {
    pa30WriteParams(w, encoder.starts, encoder.allLengths);
    w.append(encoder.instructions);
  }
  return w.finishStream();
}

}  // namespace

bool pa30Create(ByteView source, ByteView target, const Pa30CreateOptions& options, Bytes& delta) {
  delta.clear();
  constexpr uint64_t kMaxInput = (uint64_t(1) << 31) - 1;
  if (source.size() > kMaxInput || target.size() > kMaxInput) return false;

  Pa30Header header;
  header.fileTime = options.fileTime;
  header.fileTypeSet = kPa30FileTypeRaw;
  header.fileType = kPa30FileTypeRaw;
  header.targetSize = int64_t(target.size());
  if (source.size() > kPa30DefaultSizeLimit || target.size() > kPa30DefaultSizeLimit) {
    header.flags |= kPa30FlagIgnoreFileSizeLimit;
  }
  Bytes digest;
  if (options.hash == Pa30HashAlgorithm::Md5) {
    header.hashAlgId = kPa30HashMd5;
    if (!pa30ComputeHash(kPa30HashMd5, target, digest)) return false;
    header.hash = digest;
  }

  // With the post-filter the stored data is the target with CALL
  // displacements made absolute; the applier only undoes that on images
  // that pass its check, so the check decides what is stored.
  ByteView stored = target;
  Bytes translated;
  if (options.e8Filter) {
    translated.assign(target.begin(), target.end());
    pa30E8Encode(translated.data(), translated.size(), pa30E8ShortLimit(translated.size()));
    if (pa30IsI386Image(translated)) {
      if (options.hash == Pa30HashAlgorithm::None) return false;  // could never be applied
      stored = translated;
      header.flags |= kPa30FlagE8;
    } else if (!pa30IsI386Image(target)) {
      header.flags |= kPa30FlagE8;
    }
  }

  Encoder encoder;
  encoder.source = source;
  encoder.target = stored;
  encoder.s = source.size();
  encoder.n = stored.size();
  encoder.blockSize = std::max<uint32_t>(options.blockSize, 1);
  if (encoder.n > 0) encoder.parse();
  Bytes patch = writePatchStream(encoder);
  header.patch = patch;
  pa30WriteHeader(header, delta);

  // Never hand out a delta that does not reproduce the target.
  Bytes check;
  if (!pa30Apply(source, delta, target.size(), check) || check.size() != target.size() ||
      !std::equal(check.begin(), check.end(), target.begin())) {
    delta.clear();
    return false;
  }
  return true;
}

}  // namespace velmo
