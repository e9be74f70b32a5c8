#include "pack/pack_loader.h"

#include <gtest/gtest.h>

#include "install/install_driver.h"
#include "pack/pack_items.h"
#include "support/pack_fixture.h"

namespace velmo {
namespace {

using test::digestOf;
using test::makeContainer;

PackEntry item(uint32_t kind, const std::wstring& name) {
  PackEntry e;
  e.kind = kind;
  e.name = name;
  e.size = e.storedSize = 3;
  e.dataOffset = 64;
  e.crc = 0x12345678;
  return e;
}

PackEntry bundle(size_t segments) {
  PackEntry e;
  e.kind = BundlePatch;
  e.source = XapkArchive::Obb;
  e.sourceName = L"A.unity3d";
  e.targetPath = L"VELMO_Data\\StreamingAssets\\A.unity3d";
  e.size = 100, e.headerSize = 60, e.fileInfoHeaderSize = 64;
  e.segments.resize(segments, BundleSegment{0, 10, 0, 11, 5});
  return e;
}

bool load(const Bytes& container, PatchPack& pack) {
  Bytes digest = digestOf(container);
  return loadPatchPackFrom(container, digest, pack);
}

TEST(PackLoader, ParsesEveryKindInDirectoryOrder) {
  PackEntry copy;
  copy.kind = ArchiveCopy;
  copy.source = XapkArchive::Apk;
  copy.sourceName = L"assets/bin/Data/Managed/System.Core.dll";
  copy.targetPath = L"VELMO_Data\\Managed\\System.Core.dll";
  copy.size = 268288, copy.crc = 0xCAFEBABE;
  PackEntry delta;
  delta.kind = FileDelta;
  delta.source = XapkArchive(7);  // anything but 1 selects the OBB
  delta.sourceName = L"x";
  delta.targetPath = L"";
  delta.size = 9, delta.sourceCrc = 1, delta.targetCrc = 2, delta.compressed = true;
  delta.storedSize = 3, delta.dataOffset = 64;
  std::vector<PackEntry> in = {item(Asset, L"asset:bg.png"), item(PackFile, L"VELMO_Data\\\u00e9.txt"), copy, delta,
                               bundle(2), item(0, L"kind zero"), item(6, L"kind six"), item(255, L"")};
  Bytes container = makeContainer(Bytes{1, 2, 3}, in, 7);
  container.insert(container.end(), {9, 9, 9});  // trailing bytes are ignored
  PatchPack pack;
  ASSERT_TRUE(load(container, pack));
  ASSERT_EQ(pack.entries.size(), in.size());
  EXPECT_EQ(pack.dataSize, container.size());
  EXPECT_EQ(pack.entries[1].name, L"VELMO_Data\\\u00e9.txt");
  EXPECT_EQ(pack.entries[2].sourceName, copy.sourceName);
  EXPECT_EQ(pack.entries[2].crc, 0xCAFEBABEu);
  EXPECT_EQ(uint32_t(pack.entries[3].source), 7u);
  EXPECT_TRUE(pack.entries[3].compressed);
  EXPECT_EQ(pack.entries[3].targetPath, L"");
  EXPECT_EQ(pack.entries[4].segments.size(), 2u);
  EXPECT_EQ(pack.entries[4].segments[1].deltaLength, 5u);
  EXPECT_EQ(pack.entries[6].kind, 6u);
  EXPECT_EQ(pack.entries[6].crc, 0x12345678u);
  EXPECT_EQ(outputPathOf(pack.entries[2]), copy.targetPath);
}

TEST(PackLoader, HeaderLimits) {
  PatchPack empty;
  Bytes minimal = makeContainer({}, {}, 2);
  minimal.resize(24);  // header only, directory at 24
  minimal[16] = 24;
  EXPECT_TRUE(load(minimal, empty));
  EXPECT_TRUE(empty.entries.empty());

  Bytes shortOne(minimal.begin(), minimal.begin() + 23);
  PatchPack p1;
  EXPECT_FALSE(load(shortOne, p1));

  Bytes offset23 = minimal;
  offset23[16] = 23;
  PatchPack p2;
  EXPECT_FALSE(load(offset23, p2));

  Bytes atEnd = makeContainer(Bytes(10, 0), {}, 2);
  PatchPack p3;
  EXPECT_TRUE(load(atEnd, p3));  // directory offset equal to the size, no records

  Bytes tooMany = makeContainer({}, {}, 2);
  tooMany[12] = 0xA1, tooMany[13] = 0x86, tooMany[14] = 0x01;  // 100001
  PatchPack p4;
  EXPECT_FALSE(load(tooMany, p4));
  Bytes wrongMagic = makeContainer({}, {}, 2);
  wrongMagic[7] = '2';
  PatchPack p5;
  EXPECT_FALSE(load(wrongMagic, p5));
}

TEST(PackLoader, AcceptsTheMaximumEntryCount) {
  std::vector<PackEntry> many(kMaxPackEntries, item(Asset, L"a"));
  PatchPack pack;
  ASSERT_TRUE(load(makeContainer({}, many, 2), pack));
  EXPECT_EQ(pack.entries.size(), size_t(kMaxPackEntries));
}

TEST(PackLoader, DigestMustMatchExactly) {
  Bytes container = makeContainer(Bytes{1, 2, 3}, {item(Asset, L"asset:x")}, 2);
  Bytes digest = digestOf(container);
  PatchPack ok;
  EXPECT_TRUE(loadPatchPackFrom(container, digest, ok));
  Bytes longer = digest;
  longer.push_back(0);
  Bytes shorter(digest.begin(), digest.end() - 1);
  PatchPack p1, p2;
  EXPECT_FALSE(loadPatchPackFrom(container, longer, p1));
  EXPECT_FALSE(loadPatchPackFrom(container, shorter, p2));
  for (size_t i = 0; i < container.size(); ++i) {  // reserved bytes and data area included
    Bytes damaged = container;
    damaged[i] ^= 0x01;
    PatchPack p;
    EXPECT_FALSE(loadPatchPackFrom(damaged, digest, p)) << "byte " << i;
    EXPECT_EQ(p.data, nullptr);
  }
}

TEST(PackLoader, MalformedRecordsFailTheLoad) {
  for (size_t count : {0u, 17u}) {
    PatchPack p;
    EXPECT_FALSE(load(makeContainer({}, {bundle(count)}, 2), p)) << count;
  }
  PatchPack p16;
  EXPECT_TRUE(load(makeContainer({}, {bundle(16)}, 2), p16));
  Bytes good = makeContainer({}, {item(PackFile, L"abc")}, 2);
  for (size_t cut = 1; cut < 2 + 1 + 3 + 29; ++cut) {  // every truncation of the one record
    Bytes truncated(good.begin(), good.end() - cut);
    PatchPack p;
    EXPECT_FALSE(load(truncated, p)) << cut;
  }
  Bytes longString = good;
  longString[64 + 1] = 0xFF;  // string count far past the end
  PatchPack p;
  EXPECT_FALSE(load(longString, p));
}

TEST(PackLoader, AFailedLoadPublishesNothing) {
  // Good records (a bundle among them) before one that does not parse.
  Bytes container = makeContainer({}, {item(Asset, L"asset:x"), bundle(1), bundle(17)}, 2);
  PackContext startup;
  EXPECT_FALSE(load(container, startup.pack));
  EXPECT_TRUE(startup.pack.entries.empty());
  EXPECT_EQ(startup.pack.data, nullptr);
  EXPECT_EQ(startup.pack.dataSize, 0u);
  notePackLoaded(startup, false);
  EXPECT_FALSE(startup.packHasBundles);
  EXPECT_TRUE(readAsset(startup.pack, L"x").empty());
}

TEST(EmbeddedPack, FindsPackAndDigestThroughTheTrailer) {
  Bytes container = makeContainer(Bytes{5, 6}, {item(Asset, L"asset:x")}, 2);
  Bytes image = {'E', 'L', 'F'};
  image.insert(image.end(), container.begin(), container.end());
  Bytes tail = makeEmbedTail(container);
  image.insert(image.end(), tail.begin(), tail.end());
  ByteView c, d;
  ASSERT_TRUE(findEmbeddedPack(image, c, d));
  EXPECT_EQ(Bytes(c.begin(), c.end()), container);
  PatchPack pack;
  EXPECT_TRUE(loadPatchPackFrom(c, d, pack));

  Bytes noTrailer(image.begin(), image.end() - kEmbedTrailerSize);
  EXPECT_FALSE(findEmbeddedPack(noTrailer, c, d));
  Bytes hugeSize = image;
  hugeSize[hugeSize.size() - 16 + 7] = 0x7F;  // pack size beyond the image
  EXPECT_FALSE(findEmbeddedPack(hugeSize, c, d));
}

}  // namespace
}  // namespace velmo
