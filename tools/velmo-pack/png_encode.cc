#include "velmo-pack/png_encode.h"

#include <zlib.h>

#include "common/crc32.h"

namespace velmo {
namespace {

void appendChunk(Bytes& out, const char* type, ByteView data) {
  appendBe32(out, uint32_t(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  appendBe32(out, crc32Update(0, out.data() + start, out.size() - start));
}

}  // namespace

Bytes encodeRgbaPng(uint32_t width, uint32_t height, ByteView rgba) {
  const size_t rowBytes = size_t(width) * 4;
  if (width == 0 || height == 0 || rgba.size() / rowBytes != height || rgba.size() % rowBytes) return {};
  // Each row: filter type 0 (none), then the row as it stands.
  Bytes raw;
  raw.reserve(size_t(height) * (rowBytes + 1));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    ByteView row = rgba.subspan(y * rowBytes, rowBytes);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  Bytes packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6) != Z_OK) return {};
  packed.resize(packedSize);

  Bytes header;
  appendBe32(header, width);
  appendBe32(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes out(kSignature, kSignature + 8);
  appendChunk(out, "IHDR", header);
  appendChunk(out, "IDAT", packed);
  appendChunk(out, "IEND", {});
  return out;
}

}  // namespace velmo
