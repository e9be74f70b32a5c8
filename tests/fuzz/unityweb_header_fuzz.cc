// Bundle header parsing, then a capped decode of the level and reassembly,
// as the bundle patcher would run them on a bundle from the OBB.
#include <cstddef>
#include <cstdint>

#include "patch/lzma_raw.h"
#include "patch/unityweb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmo::ByteView bytes(data, size);
  velmo::UnityWebHeader header;
  if (!velmo::parseUnityWebHeader(bytes, header)) return 0;
  velmo::Bytes decoded;
  const velmo::LzmaDecodeResult result =
      velmo::lzmaDecodeRaw(velmo::unityWebLzmaData(bytes, header), header.dictionarySize, header.lc,
                           header.lp, header.pb, 1 << 20, decoded);
  if (result != velmo::LzmaDecodeResult::Ok) return 0;
  velmo::Bytes rebuilt;
  const velmo::UnityWebTarget target{header.headerSize, header.fileInfoHeaderSize, decoded.size()};
  if (velmo::assembleUnityWebBundle(bytes, header, target, velmo::unityWebLzmaData(bytes, header),
                                    rebuilt)) {
    // Reassembled from its own level data, the bundle must read back.
    velmo::UnityWebHeader reread;
    if (!velmo::parseUnityWebHeader(rebuilt, reread) || reread.headerSize != header.headerSize) {
      __builtin_trap();
    }
  }
  return 0;
}
