#include "support/png_encode.h"

#include "velmo-pack/png_encode.h"

namespace velmo::test {

Bytes encodePng(const CanvasImage& image) {
  const int w = image.width(), h = image.height();
  if (w <= 0 || h <= 0) return {};
  Bytes rgba;
  rgba.reserve(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Argb p = image.pixel(x, y);
      rgba.insert(rgba.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    }
  }
  return encodeRgbaPng(uint32_t(w), uint32_t(h), rgba);
}

}  // namespace velmo::test
