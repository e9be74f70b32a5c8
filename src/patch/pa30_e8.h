#pragma once
// The x86 CALL translation that PA30 deltas may ask for (flag E8): relative
// CALL displacements are stored as absolute positions, which match better
// between versions of a program, and turned back after decoding.
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

// The filter only runs on outputs that look like 32-bit x86 PE images.
bool pa30IsI386Image(ByteView data);

// Two scan limits are in circulation: positions below size - 10 (the older
// archive filter), or below size - 4 (every complete 5-byte group). A scan to
// the shorter limit followed by a continued scan to the longer one equals a
// scan to the longer limit, so an applier can try both without a copy.
inline size_t pa30E8ShortLimit(size_t size) { return size >= 10 ? size - 10 : 0; }
inline size_t pa30E8LongLimit(size_t size) { return size >= 4 ? size - 4 : 0; }

// Turns stored absolute displacements back into relative ones for opcode
// positions from start up to (excluding) limit; returns where a continued
// scan resumes. Does nothing (returns limit) unless 5 <= size < 2^31.
size_t pa30E8Decode(uint8_t* data, size_t size, size_t start, size_t limit);

// The inverse, applied by the writer before it encodes the data.
void pa30E8Encode(uint8_t* data, size_t size, size_t limit);

}  // namespace velmo
