#include "patch/pa30_huffman.h"

#include <algorithm>
#include <cstring>

namespace velmo {

static uint32_t reverseBits(uint32_t code, unsigned length) {
  uint32_t out = 0;
  for (unsigned i = 0; i < length; ++i) {
    out = (out << 1) | (code & 1);
    code >>= 1;
  }
  return out;
}

// first[L] for every length: the longest codes start at 0, and each shorter
// length continues above the halved end of the next longer one.
static void canonicalFirst(const uint32_t* count, unsigned maxLength, uint32_t* first) {
  uint32_t c = 0;
  for (unsigned length = maxLength; length >= 1; --length) {
    first[length] = c;
    c = (c + count[length]) >> 1;
  }
}

bool pa30CheckCodeLengths(const uint8_t* lengths, size_t count, unsigned maxLength, bool& empty) {
  uint64_t sum = 0;
  empty = true;
  for (size_t i = 0; i < count; ++i) {
    unsigned length = lengths[i];
    if (length == 0) continue;
    if (length > maxLength) return false;
    empty = false;
    sum += uint64_t(1) << (maxLength - length);
  }
  return empty || sum == (uint64_t(1) << maxLength);
}

bool Pa30HuffmanDecoder::build(const uint8_t* lengths, size_t symbols, unsigned maxAllowed) {
  if (maxAllowed > kPa30MaxCodeLength) return false;
  bool isEmpty = true;
  if (!pa30CheckCodeLengths(lengths, symbols, maxAllowed, isEmpty)) return false;
  std::memset(table, 0, sizeof(table));
  std::memset(count, 0, sizeof(count));
  std::memset(first, 0, sizeof(first));
  std::memset(offset, 0, sizeof(offset));
  empty = isEmpty;
  maxLength = 0;
  sorted.clear();
  if (empty) return true;

  for (size_t i = 0; i < symbols; ++i) {
    unsigned length = lengths[i];
    if (length == 0) continue;
    ++count[length];
    maxLength = std::max(maxLength, length);
  }
  canonicalFirst(count, maxLength, first);
  uint32_t next[kPa30MaxCodeLength + 1] = {};
  uint32_t running = 0;
  for (unsigned length = 1; length <= maxLength; ++length) {
    offset[length] = running;
    next[length] = running;
    running += count[length];
  }
  sorted.resize(running);
  for (size_t i = 0; i < symbols; ++i) {
    unsigned length = lengths[i];
    if (length == 0) continue;
    uint32_t index = next[length]++;
    sorted[index] = uint16_t(i);
    if (length > kTableBits) continue;
    uint32_t code = first[length] + (index - offset[length]);
    uint32_t reversed = reverseBits(code, length);
    uint16_t entry = uint16_t((i << 5) | length);
    for (uint32_t j = reversed; j < (1u << kTableBits); j += 1u << length) table[j] = entry;
  }
  return true;
}

bool Pa30HuffmanDecoder::decodeLong(Pa30BitReader& reader, uint64_t bits, unsigned& symbol) const {
  uint32_t value = 0;
  for (unsigned length = 1; length <= maxLength; ++length) {
    value = (value << 1) | uint32_t((bits >> (length - 1)) & 1);
    if (count[length] != 0 && value >= first[length]) {
      if (length > reader.limit - reader.pos) return false;
      reader.pos += length;
      symbol = sorted[offset[length] + (value - first[length])];
      return true;
    }
  }
  return false;  // no symbol is used
}

void pa30BuildCodeLengths(const uint64_t* freqs, size_t symbols, unsigned maxLength, uint8_t* lengths) {
  std::vector<uint64_t> weight(freqs, freqs + symbols);
  size_t used = 0;
  for (uint64_t w : weight) used += w != 0;
  for (size_t i = 0; i < symbols && used < 2; ++i) {
    if (weight[i] == 0) weight[i] = 1, ++used;
  }
  std::memset(lengths, 0, symbols);

  std::vector<uint32_t> leaves;
  for (size_t i = 0; i < symbols; ++i) {
    if (weight[i] != 0) leaves.push_back(uint32_t(i));
  }
  std::stable_sort(leaves.begin(), leaves.end(),
                   [&](uint32_t a, uint32_t b) { return weight[a] < weight[b]; });

  // Package-merge: level 0 holds the leaves alone; each higher level merges
  // the leaves with pairs packaged from the level below. Taking the 2m - 2
  // cheapest items of the top level and following packages down gives each
  // leaf its code length (the number of levels it is taken in).
  struct Item {
    uint64_t weight;
    int32_t leaf;  // -1 for a package
  };
  std::vector<std::vector<Item>> levels(maxLength);
  for (uint32_t leaf : leaves) levels[0].push_back({weight[leaf], int32_t(leaf)});
  for (unsigned level = 1; level < maxLength; ++level) {
    const std::vector<Item>& below = levels[level - 1];
    std::vector<Item>& merged = levels[level];
    merged.reserve(leaves.size() + below.size() / 2);
    size_t li = 0, pi = 0;
    size_t packages = below.size() / 2;
    while (li < leaves.size() || pi < packages) {
      uint64_t packageWeight = pi < packages ? below[2 * pi].weight + below[2 * pi + 1].weight : 0;
      if (li < leaves.size() && (pi >= packages || weight[leaves[li]] <= packageWeight)) {
        merged.push_back({weight[leaves[li]], int32_t(leaves[li])});
        ++li;
      } else {
        merged.push_back({packageWeight, -1});
        ++pi;
      }
    }
  }
  size_t take = 2 * leaves.size() - 2;
  for (unsigned level = maxLength; level-- > 0;) {
    size_t packagesTaken = 0;
    const std::vector<Item>& items = levels[level];
    for (size_t i = 0; i < take && i < items.size(); ++i) {
      if (items[i].leaf >= 0) {
        ++lengths[items[i].leaf];
      } else {
        ++packagesTaken;
      }
    }
    take = 2 * packagesTaken;
  }
}

void pa30BuildCodes(const uint8_t* lengths, size_t symbols, uint16_t* codes) {
  uint32_t count[kPa30MaxCodeLength + 1] = {};
  uint32_t first[kPa30MaxCodeLength + 1] = {};
  unsigned maxLength = 0;
  for (size_t i = 0; i < symbols; ++i) {
    if (lengths[i] == 0) continue;
    ++count[lengths[i]];
    maxLength = std::max<unsigned>(maxLength, lengths[i]);
  }
  if (maxLength > 0) canonicalFirst(count, maxLength, first);
  uint32_t rank[kPa30MaxCodeLength + 1] = {};
  for (size_t i = 0; i < symbols; ++i) {
    unsigned length = lengths[i];
    if (length == 0) {
      codes[i] = 0;
      continue;
    }
    codes[i] = uint16_t(reverseBits(first[length] + rank[length]++, length));
  }
}

}  // namespace velmo
