#pragma once
// Match finding for the PA30 writer. Copies may come from anywhere in the
// virtual buffer (source, then target), but what pays off in deltas is
// narrower, so three indexes cover it: source positions near the current
// target offset (content shifted by edits), recent target output (repeats
// inside the new data), and a sparse table over the whole source (moved
// blocks).
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace velmo {

struct Pa30Candidate {
  uint64_t address;  // virtual position: source offset, or s + target offset
  uint32_t length;
};

// A hash chain whose links live in a ring, so it only remembers the last
// ring-size positions inserted.
struct Pa30RingChain {
  std::vector<uint32_t> head;  // position + 1 per hash, 0 when empty
  std::vector<uint32_t> prev;  // ring of links, indexed by position
  uint32_t ringMask = 0;
  unsigned hashShift = 0;
  uint64_t inserted = 0;  // positions below this have been inserted

  void init(unsigned hashBits, unsigned ringBits);
};

struct Pa30MatchFinder {
  ByteView source;
  ByteView target;
  uint32_t chainDepth = 8;

  Pa30RingChain nearSource;  // source positions around the target offset
  Pa30RingChain recent;      // target positions just behind the current one
  std::vector<uint32_t> farTable;  // source position + 1 by hash of the next 64 bytes
  unsigned farShift = 0;

  void init(ByteView sourceBytes, ByteView targetBytes);
  // Brings the indexes up to target offset t (recent output below t, source
  // positions up to half a ring ahead of t).
  void advanceTo(uint32_t t);
  // Candidates of at least 4 bytes for target offset t, each longer than the
  // previous one found by the same index. Source candidates stop at the end
  // of the source.
  void find(uint32_t t, std::vector<Pa30Candidate>& out) const;
  // Bytes from virtual position a that equal the target from offset t, at
  // most maxLength.
  uint32_t matchLength(uint64_t a, uint32_t t, uint32_t maxLength) const;
};

// Length of the common prefix of x and y, at most limit.
uint32_t pa30CommonPrefix(const uint8_t* x, const uint8_t* y, uint32_t limit);

}  // namespace velmo
