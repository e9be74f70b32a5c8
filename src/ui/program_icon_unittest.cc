#include "ui/program_icon.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(ProgramIcon, SnowflakeOnTheWindowsDarkTile) {
  // From 24 pixels on the tile leaves a margin; the 16-pixel one fills its
  // image to the edge, where only the rounding clears the corners' tips.
  for (int size : {24, 48, 128}) {
    Bytes rgba = drawProgramIcon(size);
    ASSERT_EQ(rgba.size(), size_t(size) * size * 4);
    auto at = [&](int x, int y) { return &rgba[(size_t(y) * size + x) * 4]; };
    // Transparent corners, a light flake.
    EXPECT_EQ(at(0, 0)[3], 0) << size;
    EXPECT_GT(at(size / 2, size / 2)[1], 0xC0) << size;  // the flake's hub
  }
}

}  // namespace
}  // namespace velmo
