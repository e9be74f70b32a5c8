#include "velmo-pack/embed.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/pe_fixture.h"
#include "support/test_util.h"
#include "ui/png_header.h"
#include "velmo-pack/pe_resources.h"
#include "velmo-pack/png_encode.h"
#include "velmo-pack/program_icon.h"

namespace velmo {
namespace {

// A DIB icon image's pixels as top-down RGBA, after checking its header and
// that its length is exactly pixels plus mask; empty when it is not one.
Bytes dibPixels(ByteView dib, uint32_t side) {
  const size_t maskRow = (side + 31) / 32 * 4, pixels = size_t(side) * side * 4;
  if (dib.size() != 40 + pixels + maskRow * side || readLe32(&dib[0]) != 40 || readLe32(&dib[4]) != side ||
      readLe32(&dib[8]) != 2 * side || readLe16(&dib[12]) != 1 || readLe16(&dib[14]) != 32 || readLe32(&dib[16]) != 0) {
    return {};
  }
  Bytes rgba;
  for (uint32_t y = side; y-- > 0;) {
    const uint8_t* row = &dib[40 + y * side * 4];
    for (uint32_t x = 0; x < side; ++x) rgba.insert(rgba.end(), {row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]});
  }
  return rgba;
}

TEST(EmbedTest, AWindowsPatcherCarriesAWellFormedProgramIcon) {
  Bytes image = test::tinyPe();
  std::string error;
  ASSERT_TRUE(embedPack(image, Bytes(3000, 0x5A), error)) << error;
  const Bytes pack(700, 0x33);
  ASSERT_TRUE(embedPack(image, pack, error)) << error;  // embedding again replaces everything
  ByteView foundPack, digest;
  ASSERT_TRUE(findPatcherPack(image, foundPack, digest));
  EXPECT_EQ(Bytes(foundPack.begin(), foundPack.end()), pack);

  ByteView group;
  ASSERT_TRUE(peFindResource(image, kGroupIconResourceType, kProgramIconGroupId, group));
  ASSERT_GE(group.size(), 6u);
  EXPECT_EQ(readLe16(&group[0]), 0);
  EXPECT_EQ(readLe16(&group[2]), 1);
  const uint16_t count = readLe16(&group[4]);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::set<uint32_t> sides;
  const std::string outDir = test::buildPath("program-icon");
  std::filesystem::create_directories(outDir);
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = &group[6 + 14 * i];
    const uint32_t side = e[0] ? e[0] : 256;
    SCOPED_TRACE("icon " + std::to_string(side));
    EXPECT_EQ(e[1], e[0]);
    EXPECT_EQ(e[2] | e[3], 0);
    EXPECT_EQ(readLe16(e + 4), 1);
    EXPECT_EQ(readLe16(e + 6), 32);
    ByteView data;
    ASSERT_TRUE(peFindResource(image, kIconResourceType, readLe16(e + 12), data));
    EXPECT_EQ(data.size(), readLe32(e + 8));
    sides.insert(side);
    uint32_t width = 0, height = 0;
    if (readPngSize(data, width, height)) {
      EXPECT_EQ(width, side);
      EXPECT_EQ(height, side);
      if (side == 256) test::writeBytes(outDir + "/icon-256.png", data);
      continue;
    }
    Bytes rgba = dibPixels(data, side);
    ASSERT_FALSE(rgba.empty()) << "not a 32-bpp icon DIB of that size";
    if (side != 32) continue;
    // Drawn, not blank: the rounded corners clear, the middle opaque, and
    // the mask set exactly where the pixels are clear (its first stored row
    // is the bottom one).
    bool clear = false, opaque = false;
    for (size_t p = 3; p < rgba.size(); p += 4) clear |= rgba[p] == 0, opaque |= rgba[p] == 255;
    EXPECT_TRUE(clear && opaque);
    const uint8_t* mask = &data[40 + 32 * 32 * 4];
    int maskMismatches = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        bool set = mask[(31 - y) * 4 + x / 8] >> (7 - x % 8) & 1;
        maskMismatches += set != (rgba[(y * 32 + x) * 4 + 3] == 0);
      }
    }
    EXPECT_EQ(maskMismatches, 0);
    test::writeBytes(outDir + "/icon-32.png", encodeRgbaPng(32, 32, rgba));
  }
  EXPECT_EQ(sides, (std::set<uint32_t>{16, 24, 32, 48, 256}));
}

}  // namespace
}  // namespace velmo
