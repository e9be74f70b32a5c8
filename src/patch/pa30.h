#pragma once
// Binary deltas in the "PA30" format (file type RAW): applying them to a
// source buffer, and writing new ones.
#include <cstdint>

#include "common/bytes.h"
#include "common/progress.h"

namespace velmo {

enum class Pa30HashAlgorithm { None, Md5 };

struct Pa30CreateOptions {
  Pa30HashAlgorithm hash = Pa30HashAlgorithm::None;
  // Stored in the header as the target's time stamp; appliers ignore it.
  uint64_t fileTime = 0;
  // Bytes of target output per parameter block (each block carries its own
  // code tables). Large values give one block, small ones many.
  uint32_t blockSize = 512 * 1024;
  // Sets the x86 CALL post-filter flag and stores the target pre-translated.
  // Only changes the stored data when the target is a 32-bit x86 PE image;
  // such deltas can only be applied when they carry a hash (see pa30Apply),
  // so pa30Create refuses that combination without one.
  bool e8Filter = false;
};

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

// Writes a valid PA30 RAW delta turning source into target, and proves it by
// applying it before returning. Fails for inputs of 2 GiB or more and for
// the unappliable post-filter case above.
bool pa30Create(ByteView source, ByteView target, const Pa30CreateOptions& options, Bytes& delta);

}  // namespace velmo
