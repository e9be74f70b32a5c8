// Decodes arbitrary bytes as an LZMS buffer, sizing the output from the header
// claim (capped so a hostile claim cannot force a large allocation), with the
// system's coder and with ours, which must agree; re-encodes small successes
// to check the writers against the reader.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pack/lzms_buffer.h"

namespace {
constexpr uint64_t kMaxOutput = 1 << 20;
constexpr size_t kMaxRoundTrip = 1 << 14;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmo;
  ByteView packed(data, size);
  velmo::LzmsDecoder decoder;
  uint64_t claimed = 0;
  if (!lzmsBufferRawSize(packed, claimed)) {
    // A header the reader refuses must be refused by the decoder too.
    uint8_t scratch[64];
    if (lzmsDecodeBuffer(decoder, packed, std::span<uint8_t>(scratch, 0)) ||
        lzmsDecodeBuffer(decoder, packed, std::span<uint8_t>(scratch))) {
      std::abort();
    }
    return 0;
  }
  if (claimed > kMaxOutput) return 0;
  Bytes out(claimed), own(claimed);
  velmo::LzmsDecoder ownDecoder;
  ownDecoder.coder = LzmsCoder::Own;
  // (A compressed chunk is shorter than its output, so chunks of 2 bytes or
  // less, where wimlib's codes are undefined, are always stored or corrupt.)
  bool ok = lzmsDecodeBuffer(decoder, packed, out);
  if (lzmsDecodeBuffer(ownDecoder, packed, own) != ok) std::abort();
  if (!ok) return 0;
  if (own != out) std::abort();
  if (out.size() <= kMaxRoundTrip) {
    for (LzmsCoder writer : {lzmsSystemCoder(), LzmsCoder::Own}) {
      Bytes again, back(out.size());
      if (!lzmsEncodeBuffer(out, again, writer) || !lzmsDecodeBuffer(decoder, again, back) || back != out) {
        std::abort();
      }
    }
  }
  return 0;
}
