// Fuzz target for applying PA30 deltas. Input: a 2-byte little-endian
// source length, that many source bytes (fewer if the input ends), then the
// delta. Seeds are deltas made by our own writer against small sources.
#include <cstdint>
#include <cstdlib>

#include "patch/pa30.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t sourceLength = size_t(data[0]) | (size_t(data[1]) << 8);
  if (sourceLength > size - 2) sourceLength = size - 2;
  velmo::ByteView source(data + 2, sourceLength);
  velmo::ByteView delta(data + 2 + sourceLength, size - 2 - sourceLength);
  constexpr uint64_t kLimit = 1u << 20;
  velmo::Bytes target = {0xAA};
  bool ok = velmo::pa30Apply(source, delta, kLimit, target);
  // A failed apply leaves nothing behind; a successful one stays in bounds.
  if ((!ok && !target.empty()) || target.size() > kLimit) std::abort();
  return 0;
}
