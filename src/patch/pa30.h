#pragma once
// Binary deltas in the "PA30" format (file type RAW): applying them to a
// source buffer. Writing them is the pack tool's (velmo-pack/pa30_create.h).
#include <cstdint>

#include "common/bytes.h"
#include "common/progress.h"

namespace velmo {

// Applies a PA30 delta of file type RAW to source. Returns false, leaving
// target empty, for anything it cannot apply exactly: other signatures (PA19, PA31),
// non-RAW file types, malformed or truncated data, a target hash mismatch, or a
// claimed target size above maxTargetSize (checked before any large allocation).
// A delta with the x86 CALL post-filter whose output is a 32-bit x86 PE image
// is applied only when it carries a hash, which settles the filter's scan limit.
bool pa30Apply(ByteView source, ByteView delta, uint64_t maxTargetSize, Bytes& target,
               const ProgressFn& progress = {});

// Output bytes between two calls of pa30Apply's progress, which may stop it.
constexpr uint64_t kPa30ProgressStep = uint64_t(1) << 20;

}  // namespace velmo
