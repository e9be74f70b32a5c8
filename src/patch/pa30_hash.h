#pragma once
// Target digests a PA30 header can carry, identified by their algorithm ids.
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

// Digest size of an algorithm this code can compute; false for unknown ids
// (including the CRC id, whose exact variant is not known).
bool pa30HashSize(uint32_t algId, size_t& size);

bool pa30ComputeHash(uint32_t algId, ByteView data, Bytes& digest);

}  // namespace velmo
