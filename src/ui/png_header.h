#pragma once
// The size a PNG declares in its IHDR chunk, read before anything decodes
// it, so that a forged header cannot make a decoder allocate gigabytes.
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

// Far beyond any strip art, small enough to decode without worry.
constexpr uint32_t kMaxPictureSide = 8192;
constexpr uint64_t kMaxPicturePixels = 16ull * 1024 * 1024;

// True with the declared size when the bytes start with the PNG signature
// and an IHDR chunk whose size is not zero and within the limits above.
bool readPngSize(ByteView png, uint32_t& width, uint32_t& height);

}  // namespace velmo
