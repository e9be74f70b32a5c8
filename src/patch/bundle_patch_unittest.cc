#include "patch/bundle_patch.h"

#include <gtest/gtest.h>

#include "common/crc32.h"
#include "common/utf8.h"
#include "patch/unityweb.h"
#include "support/patch_fixture.h"
#include "velmo-pack/source_records.h"

namespace velmo {
namespace {

using namespace velmo::test;

Bytes bundleOf(ByteView payload, LzmaEncoderSettings settings) { return unityWebBundleOf(payload, settings); }
LzmaEncoderSettings theirs() { return foreignEncoderSettings(); }
Bytes payloadOf(size_t size, uint32_t seed) { return gameLikePayload(size, seed); }

class BundlePatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = payloadOf(300000, 1);
    target = source;
    for (size_t i = 500; i < target.size(); i += 9000) target[i] ^= 0x44;
    target.insert(target.begin() + 1000, 64, 'w');
    f.layout.apkEntries = {{"a", {1}, true}};
  }
  PackEntry& addRecord(ByteView sourceBundle, ByteView targetPayload) {
    PackEntry e;
    e.source = XapkArchive::Obb;
    e.sourceName = L"A.unity3d";
    e.targetPath = L"VELMO_Data\\StreamingAssets\\A.unity3d";
    std::string error;
    EXPECT_TRUE(addBundleRecord(f.builder, e, sourceBundle, targetPayload, false, error, &rebuilt)) << error;
    return f.builder.entries.back();
  }
  bool patch(std::wstring& message, size_t index = 0) {
    return f.build(f.pack.entries[index], "A.unity3d", message);
  }
  PatchFixture f;
  Bytes source, target, rebuilt;
};

TEST_F(BundlePatchTest, ASourceRecompressedByAnotherToolIsRebuiltExactly) {
  addRecord(bundleOf(source, theirs()), target);
  LzmaEncoderSettings other = theirs();
  other.preset = 3, other.matchFinder = LzmaMatchFinder::Bt2;
  Bytes recompressed = bundleOf(source, other);
  ASSERT_NE(recompressed, bundleOf(source, theirs()));
  f.layout.obbEntries = {{"A.unity3d", recompressed, true}};
  ASSERT_TRUE(f.open());
  std::wstring message;
  ASSERT_TRUE(patch(message)) << toUtf8(message);
  EXPECT_EQ(readBytes(f.dir / "A.unity3d"), rebuilt);
  UnityWebHeader h;
  ASSERT_TRUE(parseUnityWebHeader(rebuilt, h));
  EXPECT_EQ(h.headerSize, 60u);
  EXPECT_EQ(rebuilt[60], 0x5D);
}

TEST_F(BundlePatchTest, EachStageNamesItsFailure) {
  Bytes bundle = bundleOf(source, theirs());
  addRecord(bundle, target);
  // Each variant of the good record breaks one stage.
  auto variant = [&](auto change) {
    PackEntry e = f.builder.entries[0];
    change(e);
    f.builder.entries.push_back(e);
  };
  variant([](PackEntry& e) {
    e.segments.push_back(e.segments[0]);
    e.segments[1].targetOffset = e.segments[0].targetLength + 1;  // a gap
    e.segments[1].deltaLength = 0;
  });
  f.builder.data.push_back(0);
  variant([](PackEntry& e) { e.storedSize += 1; });  // one byte of the blob after the last segment
  variant([](PackEntry& e) { e.headerSize = 61; });
  variant([](PackEntry& e) { e.sourceDecodedSize = 1000; });  // the stream expands far beyond this
  variant([](PackEntry& e) { e.segments[0].targetLength += 1; });  // the delta yields a byte less
  variant([](PackEntry& e) { e.storedSize = uint64_t(1) << 40; });  // runs past the container
  variant([](PackEntry& e) { e.sourceName = L"B.unity3d"; });
  Bytes broken = bundle;
  broken[60 + 13] = 0xFF;  // a range coder stream must start with a zero byte
  f.layout.obbEntries = {{"A.unity3d", bundle, true}, {"B.unity3d", broken, true}};
  ASSERT_TRUE(f.open());
  const std::wstring targetPath = L"VELMO_Data\\StreamingAssets\\A.unity3d";
  const std::wstring expected[] = {
      L"The bundle delta is damaged (" + targetPath + L").",
      L"The patched bundle did not match (" + targetPath + L").",
      L"The XAPK bundle layout does not match (A.unity3d).",
      L"The XAPK bundle does not match the expected payload (A.unity3d).",
      L"Could not apply the bundle delta for " + targetPath + L".",
      L"The delta data is damaged (" + targetPath + L").",
      L"Could not decompress the XAPK bundle (B.unity3d).",
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    std::wstring message;
    EXPECT_FALSE(patch(message, i + 1));
    EXPECT_EQ(message, expected[i]);
  }
  EXPECT_FALSE(exists(f.dir / "A.unity3d"));
}

TEST_F(BundlePatchTest, AnEntryLargerThanTheRecordAllowsIsRefusedUnread) {
  addRecord(bundleOf(source, theirs()), target);
  f.layout.obbEntries = {{"A.unity3d", randomBytes(4 << 20, 5), false}};
  ASSERT_TRUE(f.open());
  std::wstring message;
  EXPECT_LT(bytesReadDuring([&] { EXPECT_FALSE(patch(message)); }), 65536u);
  EXPECT_EQ(message, L"The XAPK bundle does not match the expected payload (A.unity3d).");
}

TEST_F(BundlePatchTest, ARecordMadeWithAnotherEncoderFailsAtTheRebuild) {
  Bytes bundle = bundleOf(source, theirs());
  PackEntry& e = addRecord(bundle, target);
  // What another encoder would have recorded for the same payload.
  Bytes encoded, other;
  LzmaEncoderSettings s;
  s.matchFinder = LzmaMatchFinder::Hc4;
  ASSERT_TRUE(lzmaEncodeRawWith(target, s, encoded));
  UnityWebHeader h;
  ASSERT_TRUE(parseUnityWebHeader(bundle, h));
  ASSERT_TRUE(assembleUnityWebBundle(bundle, h, {60, 64, target.size()}, encoded, other));
  ASSERT_NE(other, rebuilt);
  e.size = other.size();
  e.bundleCrc = crc32Update(0, other.data(), other.size());
  f.layout.obbEntries = {{"A.unity3d", bundle, true}, {"B.unity3d", {'n', 'o'}, true}};
  ASSERT_TRUE(f.open());
  std::wstring message;
  EXPECT_FALSE(patch(message));
  EXPECT_EQ(message, L"The rebuilt bundle did not match (VELMO_Data\\StreamingAssets\\A.unity3d).");
  PackEntry garbage = f.pack.entries[0];
  garbage.sourceName = L"B.unity3d";
  EXPECT_FALSE(f.build(garbage, "B", message));
  EXPECT_EQ(message, L"The XAPK bundle header is not supported (B.unity3d).");
}

TEST_F(BundlePatchTest, AFailedWriteDeletesThePartialBundle) {
  Bytes bundle = bundleOf(source, theirs());
  addRecord(bundle, target);
  f.layout.obbEntries = {{"A.unity3d", bundle, true}};
  ASSERT_TRUE(f.open());
  PlatformOps ops = nativePlatform();
  ops.writeFile = [](FileHandle file, const void* data, size_t size) {
    nativePlatform().writeFile(file, data, size / 2);
    return false;  // the disk filled up half way
  };
  ScopedPlatformOverride seam(ops);
  std::wstring message;
  EXPECT_FALSE(patch(message));
  EXPECT_EQ(message, L"Could not write\n" + f.output("A.unity3d"));
  EXPECT_FALSE(exists(f.dir / "A.unity3d"));
}

TEST_F(BundlePatchTest, TwoSegmentsRoundTrip) {
  // Text-like and highly redundant, so encoding 24 MiB stays quick.
  Bytes big(kBundleSegmentSize + 300000);
  for (size_t i = 0; i < big.size(); ++i) {
    big[i] = uint8_t("winter ledger of the tower "[i % 27] + (i / 4096 % 7 == 0 ? (i * 2654435761u >> 29) : 0));
  }
  Bytes bigTarget = big;
  for (size_t i = 7; i < bigTarget.size(); i += 1000003) bigTarget[i] ^= 1;
  Bytes bundle = bundleOf(big, theirs());
  PackEntry& e = addRecord(bundle, bigTarget);
  ASSERT_EQ(e.segments.size(), 2u);
  EXPECT_EQ(e.segments[0].sourceLength, kBundleSegmentSize);
  EXPECT_EQ(e.segments[0].targetLength, kBundleSegmentSize);
  EXPECT_EQ(e.segments[1].sourceOffset, kBundleSegmentSize);
  EXPECT_EQ(e.segments[1].targetOffset, kBundleSegmentSize);
  f.layout.obbEntries = {{"A.unity3d", bundle, true}};
  ASSERT_TRUE(f.open());
  std::wstring message;
  ASSERT_TRUE(patch(message)) << toUtf8(message);
  EXPECT_EQ(readBytes(f.dir / "A.unity3d"), rebuilt);
}

}  // namespace
}  // namespace velmo
