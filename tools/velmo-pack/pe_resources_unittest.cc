#include "velmo-pack/pe_resources.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/pe_fixture.h"

namespace velmo {
namespace {

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

using test::tinyPe;

ByteView found(ByteView image, uint16_t id) {
  ByteView data;
  return peFindResource(image, 10, id, data) ? data : ByteView();
}

TEST(PeResourcesTest, WritesFindsAndReplacesItsOwnResourceSection) {
  Bytes image = tinyPe();
  Bytes pack(5000, 0xAB), digest(32, 0x11);
  std::string error;
  ASSERT_TRUE(peSetResources(image, {{10, 101, pack}, {10, 102, digest}}, error)) << error;
  ByteView a = found(image, 101), b = found(image, 102);
  EXPECT_EQ(Bytes(a.begin(), a.end()), pack);
  EXPECT_EQ(Bytes(b.begin(), b.end()), digest);
  EXPECT_TRUE(found(image, 103).empty());
  EXPECT_EQ(readLe16(&image[0x46]), 2);       // one section more
  EXPECT_EQ(image.size() % 0x200, 0u);        // file-aligned
  EXPECT_EQ(image.size(), 0x400u + 0x1600u);  // the section follows the old end
  EXPECT_EQ(readLe32(&image[0x44 + 20 + 56]), 0x4000u);  // image size covers it

  // Again with smaller data: the old section is replaced, not stacked.
  Bytes small(10, 0x22);
  ASSERT_TRUE(peSetResources(image, {{10, 101, small}, {10, 102, digest}}, error)) << error;
  a = found(image, 101);
  EXPECT_EQ(Bytes(a.begin(), a.end()), small);
  EXPECT_EQ(readLe16(&image[0x46]), 2);
  EXPECT_EQ(image.size(), 0x600u);
}

TEST(PeResourcesTest, RefusesWhatItCannotChangeAndLeavesTheImageAlone) {
  std::string error;
  Bytes notPe(0x400, 0);
  EXPECT_FALSE(peSetResources(notPe, {}, error));
  EXPECT_FALSE(isPeImage(notPe));

  // Headers without room for another section header.
  Bytes full = tinyPe(0x160);
  put32(full, 0x44 + 20 + 240 + 20, 0x160);
  Bytes before = full;
  EXPECT_FALSE(peSetResources(full, {{10, 101, Bytes(4, 1)}}, error));
  EXPECT_EQ(full, before);

  // Resources held by a section that is not ours (here the only one).
  Bytes other = tinyPe();
  put32(other, 0x44 + 20 + 112 + 16, 0x1000);
  put32(other, 0x44 + 20 + 112 + 20, 0x100);
  before = other;
  EXPECT_FALSE(peSetResources(other, {{10, 101, Bytes(4, 1)}}, error));
  EXPECT_EQ(other, before);
  ByteView data;
  EXPECT_FALSE(peFindResource(other, 10, 101, data));  // zeros: no such entry

  // A truncated image is refused by the reader.
  Bytes image = tinyPe();
  ASSERT_TRUE(peSetResources(image, {{10, 101, Bytes(3000, 7)}}, error));
  image.resize(image.size() - 0x400);
  EXPECT_FALSE(peFindResource(image, 10, 101, data));
}

}  // namespace
}  // namespace velmo
