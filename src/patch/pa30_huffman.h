#pragma once
// Canonical Huffman codes as PA30 defines them: the longest codes take the
// numerically smallest values, and a code's most significant bit is the
// first bit in the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "patch/pa30_bits.h"

namespace velmo {

constexpr unsigned kPa30MaxCodeLength = 16;

// True when no length exceeds maxLength and the used lengths form a complete
// code (or no symbol is used at all, which reports empty).
bool pa30CheckCodeLengths(const uint8_t* lengths, size_t count, unsigned maxLength, bool& empty);

struct Pa30HuffmanDecoder {
  // Codes up to this many bits resolve with one table look-up; longer ones
  // (rare by construction) walk the canonical ranges bit by bit.
  static constexpr unsigned kTableBits = 10;

  uint16_t table[1u << kTableBits] = {};  // (symbol << 5) | length; 0 = longer code
  uint32_t count[kPa30MaxCodeLength + 1] = {};
  uint32_t first[kPa30MaxCodeLength + 1] = {};
  uint32_t offset[kPa30MaxCodeLength + 1] = {};
  std::vector<uint16_t> sorted;  // symbols by length, then by number
  unsigned maxLength = 0;        // 0: no symbol is used
  bool empty = true;

  // Validates lengths (complete, or all zero) and builds the tables.
  bool build(const uint8_t* lengths, size_t symbols, unsigned maxAllowed);

  bool decode(Pa30BitReader& reader, unsigned& symbol) const {
    uint64_t bits = reader.peek();
    uint16_t entry = table[bits & ((1u << kTableBits) - 1)];
    if (entry != 0) {
      unsigned length = entry & 31;
      if (length > reader.limit - reader.pos) return false;
      reader.pos += length;
      symbol = entry >> 5;
      return true;
    }
    return decodeLong(reader, bits, symbol);
  }

 private:
  bool decodeLong(Pa30BitReader& reader, uint64_t bits, unsigned& symbol) const;
};

// Code lengths for the given symbol frequencies, no longer than maxLength,
// forming a complete code with at least two used symbols (unused symbols are
// drawn in when fewer than two have a frequency). symbols must be at least 2.
void pa30BuildCodeLengths(const uint64_t* freqs, size_t symbols, unsigned maxLength, uint8_t* lengths);

// The codes for lengths, bit-reversed so that writing one as a field of its
// length puts its most significant bit first.
void pa30BuildCodes(const uint8_t* lengths, size_t symbols, uint16_t* codes);

}  // namespace velmo
