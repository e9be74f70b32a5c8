#pragma once
// Writing PA30 RAW deltas, for the pack tool (the patcher only applies them).
#include <cstdint>

#include "common/bytes.h"

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

// Writes a valid PA30 RAW delta turning source into target, and proves it by
// applying it before returning. Fails for inputs of 2 GiB or more and for
// the unappliable post-filter case above.
bool pa30Create(ByteView source, ByteView target, const Pa30CreateOptions& options, Bytes& delta);

}  // namespace velmo
