// The pack container and directory, and unpacking of every item it lists.
// The digest is computed from the input, so mutations reach the parser.
#include <cstdint>

#include "pack/pack_items.h"
#include "pack/pack_loader.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView container(data, size);
  uint8_t digest[32];
  if (!sha256(container, digest)) return 0;
  PatchPack pack;
  if (!loadPatchPackFrom(container, ByteView(digest, 32), pack)) return 0;
  for (const auto& e : pack.entries) {
    // Claimed sizes are not trusted for plain items beyond the container.
    if (e.size > (uint64_t(1) << 24)) continue;
    Bytes out;
    if (e.kind == FileDelta || e.kind == BundlePatch) {
      readDeltaBlob(pack, e, out);
    } else {
      unpackToMemory(pack, e, out);
    }
  }
  readAsset(pack, L"xapk_info");
  return 0;
}
