#include "velmo-pack/program_icon.h"

#include <iterator>

#include "ui/program_icon.h"
#include "velmo-pack/png_encode.h"

namespace velmo {
namespace {

// BITMAPINFOHEADER (height doubled for the mask), bottom-up BGRA, then the
// 1-bpp AND mask (set where fully transparent), rows padded to 4 bytes.
Bytes iconDib(int size, ByteView rgba) {
  const size_t maskRow = size_t(size + 31) / 32 * 4;
  const uint32_t imageBytes = uint32_t(size_t(size) * size * 4 + maskRow * size);
  Bytes out;
  appendLe32(out, 40);
  appendLe32(out, uint32_t(size));
  appendLe32(out, uint32_t(size * 2));
  appendLe16(out, 1);   // planes
  appendLe16(out, 32);  // bits per pixel
  appendLe32(out, 0);   // BI_RGB
  appendLe32(out, imageBytes);
  for (int i = 0; i < 4; ++i) appendLe32(out, 0);  // resolution, palette
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) {
      const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
  }
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(maskRow, 0);
    for (int x = 0; x < size; ++x) {
      if (rgba[(size_t(y) * size + x) * 4 + 3] == 0) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

const ProgramIcon& programIcon() {
  static const ProgramIcon icon = [] {
    ProgramIcon out;
    constexpr size_t count = std::size(kProgramIconSizes);
    appendLe16(out.group, 0);  // reserved
    appendLe16(out.group, 1);  // an icon, not a cursor
    appendLe16(out.group, uint16_t(count));
    for (size_t i = 0; i < count; ++i) {
      int size = kProgramIconSizes[i];
      Bytes rgba = drawProgramIcon(size);
      out.images.push_back(size >= 256 ? encodeRgbaPng(uint32_t(size), uint32_t(size), rgba) : iconDib(size, rgba));
      out.group.push_back(uint8_t(size >= 256 ? 0 : size));  // 0 stands for 256
      out.group.push_back(uint8_t(size >= 256 ? 0 : size));
      out.group.push_back(0);  // no palette
      out.group.push_back(0);
      appendLe16(out.group, 1);   // planes
      appendLe16(out.group, 32);  // bits per pixel
      appendLe32(out.group, uint32_t(out.images.back().size()));
      appendLe16(out.group, uint16_t(i + 1));
    }
    return out;
  }();
  return icon;
}

}  // namespace velmo
