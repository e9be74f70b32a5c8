// Our LZMS block decoder on arbitrary input: [u32 output size][block]. The
// size is cut to 20 bits so memory stays bounded; the decoder's own state is
// fixed. Where wimlib is at hand, both decoders must give the same verdict
// and, on success, the same bytes (outputs of 2 bytes or less are left out:
// wimlib's codes are undefined there).
#include <cstdint>
#include <cstdlib>

#include "pack/lzms_decode.h"

#ifndef _WIN32
#include <wimlib.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmo;
  if (size < 4) return 0;
  const size_t outSize = velmo::readLe32(data) & 0xFFFFF;
  ByteView block(data + 4, size - 4);
  static LzmsWorkspacePtr workspace = lzmsNewWorkspace();
  Bytes ours(outSize);
  bool ok = lzmsDecodeBlock(*workspace, block, ours);
#ifndef _WIN32
  if (outSize <= 2) return 0;
  wimlib_decompressor* decompressor = nullptr;
  if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, outSize, &decompressor) != 0) std::abort();
  Bytes theirs(outSize);
  bool theirsOk = wimlib_decompress(block.data(), block.size(), theirs.data(), outSize, decompressor) == 0;
  wimlib_free_decompressor(decompressor);
  if (ok != theirsOk || (ok && ours != theirs)) std::abort();
#else
  (void)ok;
#endif
  return 0;
}
