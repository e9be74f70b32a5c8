#pragma once
// The front of a PA30 patch stream: the base rift table and the composite
// compression parameters (block starts, pre-tree, each block's code lengths).
#include <cstdint>
#include <utility>
#include <vector>

#include "patch/pa30_bits.h"
#include "patch/pa30_format.h"
#include "patch/pa30_huffman.h"

namespace velmo {

// Maps a virtual position to the offset of its corresponding source byte.
// Holds only the keys that can matter for an output of the given size: the
// implicit (s, -s) entry first, then keys inside the output, ascending.
struct Pa30RiftMap {
  std::vector<std::pair<uint64_t, int64_t>> entries;
  size_t cursor = 0;

  // Offset in force at p, and the next key above p (UINT64_MAX if none).
  // Positions must be asked for in increasing order.
  void lookup(uint64_t p, int64_t& offset, uint64_t& nextKey) {
    while (cursor + 1 < entries.size() && entries[cursor + 1].first <= p) ++cursor;
    offset = entries[cursor].second;
    nextKey = cursor + 1 < entries.size() ? entries[cursor + 1].first : UINT64_MAX;
  }
};

bool pa30ReadRiftTable(Pa30BitReader& reader, uint64_t sourceSize, uint64_t targetSize, Pa30RiftMap& map);

struct Pa30BlockCodes {
  Pa30HuffmanDecoder main;
  Pa30HuffmanDecoder length;
  Pa30HuffmanDecoder aligned;
};

// Walks the parameter blocks as decoding moves forward. Everything is
// validated when opened, but only the block in force is kept: a delta can
// declare very many blocks cheaply, so their lengths are decoded again, in
// order, when the output reaches them.
struct Pa30ParamReader {
  bool isDefault = true;
  uint32_t blockCount = 1;
  uint32_t current = 0;
  uint64_t nextStart = UINT64_MAX;  // virtual position where block current + 1 begins
  Pa30BitReader starts;             // at the start delta of block current + 2
  Pa30BitReader blockLengths;       // at the lengths of block current + 1
  Pa30HuffmanDecoder preTree;
  uint8_t lengths[kPa30BlockLengths] = {};

  // Reads the parameters and leaves reader at the first instruction.
  bool open(Pa30BitReader& reader);
  // Moves to the block in force at virtual position p; changed tells whether
  // the code tables need rebuilding.
  bool advance(uint64_t p, bool& changed);
  bool buildCodes(Pa30BlockCodes& codes) const;
};

// Decodes one block's 872 code lengths, coded against the previous block's.
bool pa30ReadBlockLengths(Pa30BitReader& reader, const Pa30HuffmanDecoder& preTree, const uint8_t* prev,
                          uint8_t* lengths);

// Writes explicit parameters: isDefault 0, the block starts (virtual
// positions, non-decreasing), the pre-tree and every block's lengths
// (kPa30BlockLengths per block, each tree complete).
void pa30WriteParams(Pa30BitWriter& writer, const std::vector<uint64_t>& starts, const std::vector<uint8_t>& lengths);

}  // namespace velmo
