#pragma once
// PNG bytes of an 8-bit RGBA picture (straight alpha, rows top to bottom),
// for the program icon's large image and for pictures the tests keep.
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

// Empty when the size is zero, rgba is not width * height * 4 bytes, or
// zlib fails.
Bytes encodeRgbaPng(uint32_t width, uint32_t height, ByteView rgba);

}  // namespace velmo
