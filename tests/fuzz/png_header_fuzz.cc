// The PNG size check that runs before any decoder sees the strip art.
#include <cstdint>

#include "ui/png_header.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t width = 0, height = 0;
  if (readPngSize(ByteView(data, size), width, height) &&
      (width == 0 || height == 0 || uint64_t(width) * height > kMaxPicturePixels)) {
    __builtin_trap();
  }
  return 0;
}
