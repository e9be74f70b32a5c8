// The trailer that locates the pack and its digest at the end of the
// executable image.
#include <cstdint>
#include <cstdlib>

#include "pack/pack_loader.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView image(data, size), container, digest;
  if (!findEmbeddedPack(image, container, digest)) return 0;
  // Both views lie inside the image, back to back before the trailer.
  const uint8_t* end = data + size;
  if (container.data() < data || digest.data() != container.data() + container.size() ||
      digest.data() + digest.size() > end) {
    std::abort();
  }
  PatchPack pack;
  loadPatchPackFrom(container, digest, pack);
  return 0;
}
