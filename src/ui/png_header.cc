#include "ui/png_header.h"

#include <cstring>

namespace velmo {

bool readPngSize(ByteView png, uint32_t& width, uint32_t& height) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  // Signature, then the IHDR chunk: length, type, width, height.
  if (png.size() < 33 || std::memcmp(png.data(), kSignature, 8) != 0 || std::memcmp(png.data() + 12, "IHDR", 4) != 0) {
    return false;
  }
  uint32_t w = readBe32(png.data() + 16), h = readBe32(png.data() + 20);
  if (w == 0 || h == 0 || w > kMaxPictureSide || h > kMaxPictureSide || uint64_t(w) * h > kMaxPicturePixels) {
    return false;
  }
  width = w;
  height = h;
  return true;
}

}  // namespace velmo
