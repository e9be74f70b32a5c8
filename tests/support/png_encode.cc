#include "support/png_encode.h"

#include <zlib.h>


#include "common/crc32.h"

namespace velmo::test {

namespace {

void putBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void putChunk(Bytes& out, const char* type, const Bytes& data) {
  putBe32(out, uint32_t(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBe32(out, crc32Update(0, out.data() + start, out.size() - start));
}

}  // namespace

Bytes encodePng(const CanvasImage& image) {
  const int w = image.width(), h = image.height();
  if (w <= 0 || h <= 0) return {};
  // Each row: filter type 0 (none), then R, G, B, A per pixel.
  Bytes raw;
  raw.reserve(size_t(h) * (size_t(w) * 4 + 1));
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      Argb p = image.pixel(x, y);
      raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    }
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  Bytes packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6) != Z_OK) return {};
  packed.resize(packedSize);

  Bytes header;
  putBe32(header, uint32_t(w));
  putBe32(header, uint32_t(h));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter set, no interlace
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes out(kSignature, kSignature + 8);
  putChunk(out, "IHDR", header);
  putChunk(out, "IDAT", packed);
  putChunk(out, "IEND", {});
  return out;
}

}  // namespace velmo::test
