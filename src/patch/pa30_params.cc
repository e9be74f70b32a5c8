#include "patch/pa30_params.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmo {

namespace {

// Lengths for the trees of a block when the parameters say "default": with
// B = bits needed for symbols - 1, the first 2^B - symbols get B - 1, the
// rest B.
void defaultLengths(unsigned symbols, uint8_t* lengths) {
  if (symbols <= 2) {
    std::fill(lengths, lengths + symbols, 1);
    return;
  }
  unsigned bits = unsigned(std::bit_width(symbols - 1));
  unsigned shorter = (1u << bits) - symbols;
  for (unsigned i = 0; i < symbols; ++i) lengths[i] = uint8_t(i < shorter ? bits - 1 : bits);
}

// Integer codes of the rift table: a Huffman code over 252 symbols whose
// lengths are partly explicit, partly filled with a default.
bool readIntFormat(Pa30BitReader& reader, Pa30HuffmanDecoder& decoder) {
  uint64_t positive = 0, negative = 0, filled = 0, field = 0;
  if (!reader.readBits(8, positive) || !reader.readBits(8, negative) || !reader.readBits(8, filled)) {
    return false;
  }
  if (positive > 126 || negative > 126 || filled > kPa30IntFormatSymbols - positive - negative) return false;
  uint8_t lengths[kPa30IntFormatSymbols] = {};
  for (uint64_t i = 0; i < positive; ++i) {
    if (!reader.readBits(4, field)) return false;
    lengths[i] = uint8_t(field + 1);
  }
  for (uint64_t i = 0; i < negative; ++i) {
    if (!reader.readBits(4, field)) return false;
    lengths[126 + i] = uint8_t(field + 1);
  }
  if (!reader.readBits(4, field)) return false;
  uint8_t fill = uint8_t(field + 1);
  uint64_t rank = 0;
  auto assign = [&](unsigned symbol) { lengths[symbol] = uint8_t(rank++ < filled ? fill : fill - 1); };
  for (unsigned symbol = unsigned(positive); symbol < 126; ++symbol) assign(symbol);
  for (unsigned symbol = 126 + unsigned(negative); symbol < kPa30IntFormatSymbols; ++symbol) assign(symbol);
  return decoder.build(lengths, kPa30IntFormatSymbols, kPa30MaxCodeLength);
}

bool readInt(Pa30BitReader& reader, const Pa30HuffmanDecoder& decoder, uint64_t& value) {
  unsigned symbol = 0;
  if (!decoder.decode(reader, symbol)) return false;
  unsigned m = symbol < 126 ? symbol : symbol - 126;
  uint64_t magnitude = m;
  if (m > 3) {
    unsigned bits = (m >> 1) - 1;
    uint64_t low = 0;
    if (!reader.readBits(bits, low)) return false;
    magnitude = (uint64_t(2 + (m & 1)) << bits) + low;
  }
  value = symbol < 126 ? magnitude : ~magnitude;  // -(magnitude + 1)
  return true;
}

bool readRunLength(Pa30BitReader& reader, unsigned c, unsigned& run) {
  if (c < 3) {
    run = c + 1;
    return true;
  }
  uint64_t field = 0;
  if (!reader.readBits(c - 1, field)) return false;
  run = (1u << (c - 1)) + unsigned(field);
  return true;
}

bool checkBlockTrees(const uint8_t* lengths) {
  bool empty = false;
  return pa30CheckCodeLengths(lengths, kPa30MainSymbols, kPa30MaxCodeLength, empty) &&
         pa30CheckCodeLengths(lengths + kPa30MainSymbols, kPa30LengthSymbols, kPa30MaxCodeLength, empty) &&
         pa30CheckCodeLengths(lengths + kPa30MainSymbols + kPa30LengthSymbols, kPa30AlignedSymbols,
                              kPa30MaxCodeLength, empty);
}

}  // namespace

bool pa30ReadRiftTable(Pa30BitReader& reader, uint64_t sourceSize, uint64_t targetSize, Pa30RiftMap& map) {
  map.entries.clear();
  map.cursor = 0;
  map.entries.push_back({sourceSize, -int64_t(sourceSize)});
  unsigned present = 0;
  if (!reader.readBit(present)) return false;
  if (!present) return true;

  Pa30HuffmanDecoder keyFormat, valueFormat;
  if (!readIntFormat(reader, keyFormat) || !readIntFormat(reader, valueFormat)) return false;
  int64_t count = 0;
  if (!pa30ReadNumber64(reader, count) || count < 0 || uint64_t(count) > reader.bitsLeft()) return false;

  // Keys at or below s lose to the implicit entry, keys at or past the end
  // of the output are never consulted; only the rest is kept.
  std::vector<std::pair<uint64_t, int64_t>> kept;
  uint64_t key = 0, value = 0, end = sourceSize + targetSize;
  for (int64_t i = 0; i < count; ++i) {
    uint64_t keyStep = 0, valueStep = 0;
    if (!readInt(reader, keyFormat, keyStep) || !readInt(reader, valueFormat, valueStep)) return false;
    key += keyStep;
    value += valueStep;
    int64_t signedKey = int64_t(key);
    if (signedKey > int64_t(sourceSize) && uint64_t(signedKey) < end) kept.push_back({key, int64_t(value)});
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < kept.size(); ++i) {
    // Of equal keys the last one read wins.
    if (i + 1 < kept.size() && kept[i + 1].first == kept[i].first) continue;
    map.entries.push_back(kept[i]);
  }
  return true;
}

bool pa30ReadBlockLengths(Pa30BitReader& reader, const Pa30HuffmanDecoder& preTree, const uint8_t* prev,
                          uint8_t* lengths) {
  unsigned i = 0;
  while (i < kPa30BlockLengths) {
    unsigned symbol = 0;
    if (!preTree.decode(reader, symbol)) return false;
    if (symbol <= 16) {
      lengths[i] = uint8_t(symbol);
      ++i;
    } else if (symbol <= 22) {
      int value = symbol <= 19 ? prev[i] + int(symbol - 16) : prev[i] - int(symbol - 19);
      if (value < 0 || value > 16) return false;
      lengths[i] = uint8_t(value);
      ++i;
    } else {
      bool fill = symbol <= 30;
      unsigned run = 0;
      if (!readRunLength(reader, fill ? symbol - 23 : symbol - 31, run)) return false;
      // A run may not produce the last length.
      if (i + run > kPa30BlockLengths - 1) return false;
      if (fill) {
        if (i == 0) return false;
        std::memset(lengths + i, lengths[i - 1], run);
      } else {
        std::memcpy(lengths + i, prev + i, run);
      }
      i += run;
    }
  }
  return true;
}

bool Pa30ParamReader::open(Pa30BitReader& reader) {
  unsigned defaultBit = 0;
  if (!reader.readBit(defaultBit)) return false;
  isDefault = defaultBit != 0;
  current = 0;
  nextStart = UINT64_MAX;
  if (isDefault) {
    blockCount = 1;
    defaultLengths(kPa30MainSymbols, lengths);
    defaultLengths(kPa30LengthSymbols, lengths + kPa30MainSymbols);
    defaultLengths(kPa30AlignedSymbols, lengths + kPa30MainSymbols + kPa30LengthSymbols);
    return true;
  }

  if (!pa30ReadNumber32(reader, blockCount) || blockCount == 0 || blockCount > reader.bitsLeft()) return false;
  Pa30BitReader startsAt = reader;
  uint64_t start = 0;
  for (uint32_t j = 0; j < blockCount; ++j) {
    int64_t step = 0;
    if (!pa30ReadNumber64(reader, step) || step < 0) return false;
    if (uint64_t(step) > uint64_t(INT64_MAX) - start) return false;
    start += uint64_t(step);
  }

  uint8_t preLengths[kPa30PreTreeSymbols];
  for (unsigned i = 0; i < kPa30PreTreeSymbols; ++i) {
    uint64_t field = 0;
    if (!reader.readBits(4, field)) return false;
    preLengths[i] = uint8_t(field);
  }
  if (!preTree.build(preLengths, kPa30PreTreeSymbols, kPa30PreTreeMaxLength) || preTree.empty) return false;

  // Validate every block now, so that a bad one fails before any output.
  Pa30BitReader lengthsAt = reader;
  uint8_t prev[kPa30BlockLengths] = {};
  for (uint32_t j = 0; j < blockCount; ++j) {
    if (!pa30ReadBlockLengths(reader, preTree, prev, lengths) || !checkBlockTrees(lengths)) return false;
    std::memcpy(prev, lengths, kPa30BlockLengths);
  }

  // Rewind to block 0 for decoding.
  std::memset(prev, 0, sizeof(prev));
  blockLengths = lengthsAt;
  if (!pa30ReadBlockLengths(blockLengths, preTree, prev, lengths)) return false;
  starts = startsAt;
  int64_t step = 0;
  if (!pa30ReadNumber64(starts, step)) return false;
  nextStart = uint64_t(step);
  if (blockCount > 1) {
    if (!pa30ReadNumber64(starts, step)) return false;
    nextStart += uint64_t(step);
  } else {
    nextStart = UINT64_MAX;
  }
  return true;
}

bool Pa30ParamReader::advance(uint64_t p, bool& changed) {
  changed = false;
  while (current + 1 < blockCount && p >= nextStart) {
    uint8_t prev[kPa30BlockLengths];
    std::memcpy(prev, lengths, kPa30BlockLengths);
    if (!pa30ReadBlockLengths(blockLengths, preTree, prev, lengths)) return false;
    ++current;
    changed = true;
    if (current + 1 < blockCount) {
      int64_t step = 0;
      if (!pa30ReadNumber64(starts, step)) return false;
      nextStart += uint64_t(step);
    } else {
      nextStart = UINT64_MAX;
    }
  }
  return true;
}

bool Pa30ParamReader::buildCodes(Pa30BlockCodes& codes) const {
  return codes.main.build(lengths, kPa30MainSymbols, kPa30MaxCodeLength) &&
         codes.length.build(lengths + kPa30MainSymbols, kPa30LengthSymbols, kPa30MaxCodeLength) &&
         codes.aligned.build(lengths + kPa30MainSymbols + kPa30LengthSymbols, kPa30AlignedSymbols,
                             kPa30MaxCodeLength);
}

namespace {

struct PreSymbol {
  uint8_t symbol;
  uint8_t extraBits;
  uint8_t extra;
};

void addRun(std::vector<PreSymbol>& out, unsigned base, unsigned run) {
  if (run <= 3) {
    out.push_back({uint8_t(base + run - 1), 0, 0});
    return;
  }
  unsigned c = unsigned(std::bit_width(run));
  out.push_back({uint8_t(base + c), uint8_t(c - 1), uint8_t(run - (1u << (c - 1)))});
}

// Codes one block's lengths against the previous block's: copy runs where
// they agree, fill runs for repeats, small steps as deltas.
void codeBlockLengths(const uint8_t* prev, const uint8_t* cur, bool firstBlock, std::vector<PreSymbol>& out) {
  unsigned i = 0;
  while (i < kPa30BlockLengths) {
    unsigned maxRun = std::min<unsigned>(kPa30LongestRun, kPa30BlockLengths - 1 - i);
    unsigned copy = 0, fill = 0;
    while (copy < maxRun && cur[i + copy] == prev[i + copy]) ++copy;
    if (i > 0) {
      while (fill < maxRun && cur[i + fill] == cur[i - 1]) ++fill;
    }
    if (copy >= 2 || fill >= 2) {
      if (copy >= fill) {
        addRun(out, 31, copy);
        i += copy;
      } else {
        addRun(out, 23, fill);
        i += fill;
      }
      continue;
    }
    int diff = int(cur[i]) - int(prev[i]);
    if (!firstBlock && diff >= 1 && diff <= 3) {
      out.push_back({uint8_t(16 + diff), 0, 0});
    } else if (!firstBlock && diff <= -1 && diff >= -3) {
      out.push_back({uint8_t(19 - diff), 0, 0});
    } else {
      out.push_back({cur[i], 0, 0});
    }
    ++i;
  }
}

}  // namespace

void pa30WriteParams(Pa30BitWriter& writer, const std::vector<uint64_t>& starts, const std::vector<uint8_t>& lengths) {
  size_t blocks = starts.size();
  std::vector<PreSymbol> symbols;
  uint8_t zero[kPa30BlockLengths] = {};
  for (size_t j = 0; j < blocks; ++j) {
    const uint8_t* prev = j == 0 ? zero : &lengths[(j - 1) * kPa30BlockLengths];
    codeBlockLengths(prev, &lengths[j * kPa30BlockLengths], j == 0, symbols);
  }
  uint64_t freqs[kPa30PreTreeSymbols] = {};
  for (const PreSymbol& s : symbols) ++freqs[s.symbol];
  uint8_t preLengths[kPa30PreTreeSymbols];
  uint16_t preCodes[kPa30PreTreeSymbols];
  pa30BuildCodeLengths(freqs, kPa30PreTreeSymbols, kPa30PreTreeMaxLength, preLengths);
  pa30BuildCodes(preLengths, kPa30PreTreeSymbols, preCodes);

  writer.writeBits(0, 1);  // explicit parameters
  writer.writeNumber(blocks);
  uint64_t previous = 0;
  for (uint64_t start : starts) {
    writer.writeNumber(start - previous);
    previous = start;
  }
  for (uint8_t length : preLengths) writer.writeBits(length, 4);
  for (const PreSymbol& s : symbols) {
    writer.writeBits(preCodes[s.symbol], preLengths[s.symbol]);
    writer.writeBits(s.extra, s.extraBits);
  }
}

}  // namespace velmo
