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

  // An empty resource tree held by a section that is not ours (here the only
  // one) stays where it is; the new section is appended.
  Bytes other = tinyPe();
  put32(other, 0x44 + 20 + 112 + 16, 0x1000);
  put32(other, 0x44 + 20 + 112 + 20, 0x100);
  ByteView data;
  EXPECT_FALSE(peFindResource(other, 10, 101, data));  // zeros: no such entry
  ASSERT_TRUE(peSetResources(other, {{10, 101, Bytes(4, 1)}}, error)) << error;
  EXPECT_EQ(readLe16(&other[0x46]), 2);
  EXPECT_EQ(found(other, 101).size(), 4u);

  // Damaged resources are refused, not dropped.
  Bytes damaged = tinyPe();
  put32(damaged, 0x44 + 20 + 112 + 16, 0x1000);
  put32(damaged, 0x44 + 20 + 112 + 20, 0x100);
  damaged[0x200 + 14] = 1;  // one numbered type entry...
  put32(damaged, 0x200 + 16, 10);
  put32(damaged, 0x200 + 20, 0x80000000u | 0xF8);  // ...whose directory runs past the section
  before = damaged;
  EXPECT_FALSE(peSetResources(damaged, {{10, 101, Bytes(4, 1)}}, error));
  EXPECT_EQ(error, "the executable's resources are damaged");
  EXPECT_EQ(damaged, before);

  // A truncated image is refused by the reader.
  Bytes image = tinyPe();
  ASSERT_TRUE(peSetResources(image, {{10, 101, Bytes(3000, 7)}}, error));
  image.resize(image.size() - 0x400);
  EXPECT_FALSE(peFindResource(image, 10, 101, data));

  // Sizes and offsets of the headers are checked against the file before use:
  // an image with no sections but a resource directory, a last section whose
  // raw data lies past the end of the file, and alignments no loader accepts.
  Bytes noSections = tinyPe();
  noSections[0x46] = 0;
  put32(noSections, 0x44 + 20 + 112 + 16, 0x1000);
  before = noSections;
  EXPECT_FALSE(peSetResources(noSections, {{10, 101, Bytes(4, 1)}}, error));
  EXPECT_EQ(noSections, before);
  Bytes farSection = tinyPe();
  std::memcpy(&farSection[0x44 + 20 + 240], ".rsrc", 6);
  put32(farSection, 0x44 + 20 + 240 + 20, 0xFEFF0400u);
  put32(farSection, 0x44 + 20 + 112 + 16, 0x1000);
  before = farSection;
  EXPECT_FALSE(peSetResources(farSection, {{10, 101, Bytes(4, 1)}}, error));
  EXPECT_EQ(farSection, before);
  for (uint32_t alignment : {0u, 0x300u, 0x80000000u}) {
    Bytes odd = tinyPe();
    put32(odd, 0x44 + 20 + 36, alignment);
    EXPECT_FALSE(peSetResources(odd, {{10, 101, Bytes(4, 1)}}, error)) << alignment;
  }
}

// After a write the headers describe the file: the image size covers the
// new section, the resource directory is that section, and the checksum is
// the standard one of the new bytes (here summed first and folded once, as
// the loader's own check does). The same inputs give the same bytes. A
// signed image is refused: its signature must stay the end of the file.
TEST(PeResourcesTest, HeadersDescribeTheNewFileAndSignedImagesAreRefused) {
  const size_t opt = 0x44 + 20, directories = opt + 112;
  Bytes image = tinyPe();
  put32(image, opt + 64, 0xDEADBEEF);  // a stale checksum
  Bytes copy = image;
  std::string error;
  const Bytes pack(7000, 0x3C);
  ASSERT_TRUE(peSetResources(image, {{10, 101, pack}, {10, 102, Bytes(32, 9)}}, error)) << error;
  ASSERT_TRUE(peSetResources(copy, {{10, 101, pack}, {10, 102, Bytes(32, 9)}}, error)) << error;
  EXPECT_EQ(image, copy);
  const size_t last = opt + 240 + 40 * (readLe16(&image[0x46]) - 1);
  const uint32_t rsrcRva = readLe32(&image[last + 12]), rsrcSize = readLe32(&image[last + 8]);
  EXPECT_EQ(readLe32(&image[directories + 16]), rsrcRva);
  EXPECT_EQ(readLe32(&image[directories + 20]), rsrcSize);
  EXPECT_EQ(readLe32(&image[opt + 56]), (rsrcRva + rsrcSize + 0xFFF) / 0x1000 * 0x1000);
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    if (i != opt + 64 && i != opt + 66) sum += readLe16(&image[i]);
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  EXPECT_EQ(readLe32(&image[opt + 64]), uint32_t(sum + image.size()));

  Bytes signedImage = tinyPe();
  signedImage.resize(0x500, 0x5A);  // the certificate table after the sections
  put32(signedImage, directories + 32, 0x400);
  put32(signedImage, directories + 36, 0x100);
  const Bytes before = signedImage;
  EXPECT_FALSE(peSetResources(signedImage, {{10, 101, pack}}, error));
  EXPECT_EQ(error, "the executable is signed; embed into the unsigned patcher and sign the result");
  EXPECT_EQ(signedImage, before);
}

// Named entries, several languages and code pages of resources the image
// already carries (a manifest, a version block) survive an embed byte for
// byte; only the type and id being written are replaced.
TEST(PeResourcesTest, KeepsEveryOtherResourceAndReplacesTheSameTypeAndId) {
  Bytes image = tinyPe();
  std::string error;
  const Bytes manifest(300, 'm'), version(200, 'v'), old(50, 'o');
  ASSERT_TRUE(peSetResources(image, {{24, 1, manifest}, {16, 1, version}, {10, 101, old}}, error)) << error;
  ASSERT_TRUE(peSetResources(image, {{10, 101, Bytes(9, 'n')}, {10, 102, Bytes(32, 'd')}}, error)) << error;
  ByteView data;
  ASSERT_TRUE(peFindResource(image, 24, 1, data));
  EXPECT_EQ(Bytes(data.begin(), data.end()), manifest);
  ASSERT_TRUE(peFindResource(image, 16, 1, data));
  EXPECT_EQ(Bytes(data.begin(), data.end()), version);
  EXPECT_EQ(Bytes(found(image, 101).begin(), found(image, 101).end()), Bytes(9, 'n'));
  EXPECT_EQ(found(image, 102).size(), 32u);
  EXPECT_EQ(readLe16(&image[0x46]), 2);  // our own last section was rewritten, not stacked

  // A linker-made section in the middle: a named type "PNG" with two
  // languages (code page 1252 on one) is carried over into the new section.
  Bytes linked = tinyPe();
  const size_t sec = 0x200;
  std::memcpy(&linked[0x44 + 20 + 240], ".rsrc\0\0", 8);
  // ... followed by a .reloc section, as a linker lays them out.
  linked.resize(0x600, 0);
  linked[0x46] = 2;
  std::memcpy(&linked[0x44 + 20 + 240 + 40], ".reloc\0", 8);
  put32(linked, 0x44 + 20 + 240 + 40 + 8, 0x10);
  put32(linked, 0x44 + 20 + 240 + 40 + 12, 0x2000);
  put32(linked, 0x44 + 20 + 240 + 40 + 16, 0x200);
  put32(linked, 0x44 + 20 + 240 + 40 + 20, 0x400);
  put32(linked, 0x44 + 20 + 112 + 16, 0x1000);
  put32(linked, 0x44 + 20 + 112 + 20, 0x200);
  auto dir = [&](size_t at, uint16_t named, uint16_t ids) {
    linked[sec + at + 12] = uint8_t(named);
    linked[sec + at + 14] = uint8_t(ids);
  };
  dir(0, 1, 0);
  put32(linked, sec + 16, 0x80000000u | 0x90);           // name "PNG"
  put32(linked, sec + 20, 0x80000000u | 0x18);
  dir(0x18, 0, 1);
  put32(linked, sec + 0x18 + 16, 7);
  put32(linked, sec + 0x18 + 20, 0x80000000u | 0x30);
  dir(0x30, 0, 2);
  put32(linked, sec + 0x30 + 16, 0x409);
  put32(linked, sec + 0x30 + 20, 0x60);
  put32(linked, sec + 0x30 + 24, 0x411);
  put32(linked, sec + 0x30 + 28, 0x70);
  put32(linked, sec + 0x60, 0x1000 + 0xA0);
  put32(linked, sec + 0x64, 4);
  put32(linked, sec + 0x68, 1252);
  put32(linked, sec + 0x70, 0x1000 + 0xA8);
  put32(linked, sec + 0x74, 3);
  linked[sec + 0x90] = 3;
  std::memcpy(&linked[sec + 0x92], "P\0N\0G\0", 6);
  std::memcpy(&linked[sec + 0xA0], "en-u", 4);
  std::memcpy(&linked[sec + 0xA8], "jaj", 3);
  ASSERT_TRUE(peSetResources(linked, {{10, 101, Bytes(5, 1)}}, error)) << error;
  EXPECT_EQ(readLe16(&linked[0x46]), 3);
  EXPECT_EQ(found(linked, 101).size(), 5u);
  // The linker's section stays, renamed; the new one is the only ".rsrc".
  EXPECT_EQ(std::memcmp(&linked[0x44 + 20 + 240], ".oldrsrc", 8), 0);
  EXPECT_EQ(std::memcmp(&linked[0x44 + 20 + 240 + 80], ".rsrc\0\0", 8), 0);
  // Walk the new tree by hand: root has the named type first, then RT_RCDATA.
  const size_t newSec = readLe32(&linked[0x44 + 20 + 240 + 80 + 20]);
  const uint8_t* root = &linked[newSec];
  ASSERT_EQ(readLe16(root + 12), 1);
  ASSERT_EQ(readLe16(root + 14), 1);
  const uint32_t nameAt = readLe32(root + 16) & 0x7FFFFFFF;
  EXPECT_EQ(readLe16(&linked[newSec + nameAt]), 3);
  EXPECT_EQ(std::memcmp(&linked[newSec + nameAt + 2], "P\0N\0G\0", 6), 0);
  const uint8_t* names = &linked[newSec + (readLe32(root + 20) & 0x7FFFFFFF)];
  const uint8_t* languages = &linked[newSec + (readLe32(names + 20) & 0x7FFFFFFF)];
  ASSERT_EQ(readLe16(languages + 14), 2);
  const uint32_t rsrcRva = readLe32(&linked[0x44 + 20 + 240 + 80 + 12]);
  const char* expected[] = {"en-u", "jaj"};
  const uint32_t codePages[] = {1252, 0};
  for (int i = 0; i < 2; ++i) {
    const uint8_t* leaf = &linked[newSec + readLe32(languages + 16 + 8 * i + 4)];
    EXPECT_EQ(readLe32(languages + 16 + 8 * i), i ? 0x411u : 0x409u);
    EXPECT_EQ(readLe32(leaf + 8), codePages[i]);
    const uint32_t size = readLe32(leaf + 4);
    ASSERT_EQ(size, std::strlen(expected[i]));
    EXPECT_EQ(std::memcmp(&linked[newSec + readLe32(leaf) - rsrcRva], expected[i], size), 0);
  }
}

}  // namespace
}  // namespace velmo
