#include "pack/lzms_buffer.h"
#include "velmo-pack/pack_builder.h"

namespace velmo {

// One block per item up to this size, as the shipped pack does; larger items
// are split so each block stays a modest allocation for the reader.
constexpr size_t kMaxBlockRaw = 16 * 1024 * 1024;

bool encodeBlockStream(ByteView raw, Bytes& out, std::string& error) {
  out.clear();
  size_t pos = 0;
  do {
    size_t n = std::min(raw.size() - pos, kMaxBlockRaw);
    Bytes packed;
    if (!lzmsEncodeBuffer(raw.subspan(pos, n), packed)) {
      error = "the LZMS compressor could not be set up";
      return false;
    }
    appendLe32(out, uint32_t(n));
    appendLe32(out, uint32_t(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    pos += n;
  } while (pos < raw.size());
  return true;
}

}  // namespace velmo
