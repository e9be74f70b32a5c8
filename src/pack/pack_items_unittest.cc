#include "pack/pack_items.h"

#include <gtest/gtest.h>

#include "common/crc32.h"
#include "pack/lzms_buffer.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"

namespace velmo {
namespace {

// Records the size of every write instead of writing.
std::vector<size_t> gWrites;
bool recordWrite(FileHandle, const void*, size_t size) {
  gWrites.push_back(size);
  return true;
}

struct Fixture {
  Bytes container;
  PatchPack pack;
};

// A pack whose data area is `data` (at offset 64) and whose records are `records`.
void loadInto(Fixture& f, ByteView data, std::vector<PackEntry> records) {
  f.container = test::makeContainer(data, records, 2);
  Bytes digest = test::digestOf(f.container);
  f.pack = PatchPack();
  ASSERT_TRUE(loadPatchPackFrom(f.container, digest, f.pack));
}

PackEntry plainItem(uint32_t kind, const std::wstring& name, ByteView bytes, uint64_t offset) {
  PackEntry e;
  e.kind = kind;
  e.name = name;
  e.size = e.storedSize = bytes.size();
  e.dataOffset = offset;
  e.crc = crc32Update(0, bytes.data(), bytes.size());
  return e;
}

Bytes blockStream(const std::vector<Bytes>& blocks) {
  Bytes out;
  for (const auto& raw : blocks) {
    Bytes packed;
    EXPECT_TRUE(lzmsEncodeBuffer(raw, packed));
    appendLe32(out, uint32_t(raw.size()));
    appendLe32(out, uint32_t(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

TEST(UnpackToFile, PlainItemsAreCopiedInChunksOfAtMost16MiB) {
  PlatformOps ops = nativePlatform();
  ops.writeFile = recordWrite;
  ScopedPlatformOverride seam(ops);
  Bytes data = test::randomBytes(kCopyChunkSize + 1, 1);
  Fixture f;
  PackEntry exact = plainItem(PackFile, L"a", ByteView(data).first(kCopyChunkSize), 64);
  PackEntry plusOne = plainItem(PackFile, L"b", data, 64);
  PackEntry empty = plainItem(PackFile, L"c", {}, 64);
  loadInto(f, data, {exact, plusOne, empty});
  uint64_t told = 0;
  auto count = [&](uint64_t n) {
    told += n;
    return true;
  };

  for (auto [entry, chunks] : {std::pair{0, std::vector<size_t>{kCopyChunkSize}},
                               std::pair{1, std::vector<size_t>{kCopyChunkSize, 1}},
                               std::pair{2, std::vector<size_t>{}}}) {
    gWrites.clear();
    told = 0;
    UnpackSink sink{0, 5, count};
    ASSERT_TRUE(unpackToFile(f.pack, f.pack.entries[entry], sink));
    EXPECT_EQ(gWrites, chunks);
    EXPECT_EQ(sink.crc, f.pack.entries[entry].crc);
    EXPECT_EQ(told, f.pack.entries[entry].size);
  }

  gWrites.clear();
  UnpackSink cancelled{0, 5, [](uint64_t) { return false; }};
  EXPECT_FALSE(unpackToFile(f.pack, f.pack.entries[1], cancelled));
  EXPECT_TRUE(gWrites.empty());
}

TEST(UnpackToFile, WritesRealFilesAndFailsOnAShortWrite) {
  test::TempDir t;
  Bytes text(300000, 'x');
  Fixture f;
  Bytes stream = blockStream({Bytes(100000, 'x'), Bytes(200000, 'x')});
  PackEntry e;
  e.kind = PackFile, e.name = L"f", e.compressed = true, e.size = text.size();
  e.storedSize = stream.size(), e.dataOffset = 64, e.crc = crc32Update(0, text.data(), text.size());
  loadInto(f, stream, {e});
  FileHandle out = nativePlatform().createFile(test::wide(t / "f"));
  UnpackSink sink{0, out, {}};
  EXPECT_TRUE(unpackToFile(f.pack, f.pack.entries[0], sink));
  nativePlatform().closeFile(out);
  EXPECT_EQ(sink.crc, e.crc);
  EXPECT_EQ(test::readBytes(t / "f"), text);

  PlatformOps ops = nativePlatform();
  ops.writeFile = [](FileHandle, const void*, size_t) { return false; };
  ScopedPlatformOverride seam(ops);
  UnpackSink failing{0, 5, {}};
  EXPECT_FALSE(unpackToFile(f.pack, f.pack.entries[0], failing));
}

TEST(BlockStreams, BoundsAtTheContainersEnd) {
  Bytes raw = test::randomBytes(1000, 9);
  Bytes stream = blockStream({raw});
  PackEntry e;
  e.kind = Asset, e.name = L"asset:x", e.compressed = true, e.size = raw.size(), e.crc = 0;
  // With an empty directory the block's packed bytes end exactly at the
  // container's end.
  Fixture f;
  {
    Bytes container = test::makeContainer(stream, {}, 2);
    PatchPack pack;
    pack.data = container.data(), pack.dataSize = container.size();
    e.dataOffset = 64, e.storedSize = stream.size();
    Bytes out;
    EXPECT_TRUE(unpackToMemory(pack, e, out));
    EXPECT_EQ(out, raw);
    // A block header starting 7 bytes before the end fails.
    PackEntry late = e;
    late.dataOffset = container.size() - 7, late.storedSize = 7;
    Bytes none;
    EXPECT_FALSE(unpackToMemory(pack, late, none));
    // Packed bytes running one past the end fail.
    PackEntry past = e;
    Bytes shorter(container.begin(), container.end() - 1);
    pack.data = shorter.data(), pack.dataSize = shorter.size();
    Bytes out2;
    EXPECT_FALSE(unpackToMemory(pack, past, out2));
  }
  {
    // A block whose raw size claims one byte more than it decodes to.
    Bytes bad = stream;
    appendLe32(bad, 0);
    bad[0] = uint8_t(raw.size() + 1), bad[1] = uint8_t((raw.size() + 1) >> 8);
    PackEntry big = e;
    big.size = raw.size() + 1, big.storedSize = stream.size(), big.dataOffset = 64;
    loadInto(f, bad, {});
    Bytes out;
    EXPECT_FALSE(unpackToMemory(f.pack, big, out));
  }
  {
    // Blocks that add up to more or less than the item's size fail.
    PackEntry wrongSize = e;
    wrongSize.size = raw.size() - 1, wrongSize.storedSize = stream.size(), wrongSize.dataOffset = 64;
    loadInto(f, stream, {});
    Bytes out;
    EXPECT_FALSE(unpackToMemory(f.pack, wrongSize, out));
    wrongSize.size = raw.size() + 5;
    out.clear();
    EXPECT_FALSE(unpackToMemory(f.pack, wrongSize, out));
  }
  PatchPack unloaded;
  Bytes out;
  EXPECT_FALSE(unpackToMemory(unloaded, e, out));
}

TEST(ReadAsset, FindsByExactNameAndUnpacksEitherForm) {
  Bytes png = test::randomBytes(5000, 4);
  Bytes info = Bytes({'{', '}'});
  Bytes stream = blockStream({info});
  Bytes data = png;
  data.insert(data.end(), stream.begin(), stream.end());
  PackEntry bg = plainItem(Asset, L"asset:bg.png", png, 64);
  PackEntry xi;
  xi.kind = Asset, xi.name = L"asset:xapk_info", xi.compressed = true, xi.size = info.size();
  xi.crc = crc32Update(0, info.data(), info.size());
  xi.storedSize = stream.size(), xi.dataOffset = 64 + png.size();
  PackEntry notAsset = plainItem(PackFile, L"asset:file", png, 64);
  Fixture f;
  loadInto(f, data, {bg, xi, notAsset});
  EXPECT_EQ(readAsset(f.pack, L"bg.png"), png);
  EXPECT_EQ(readAsset(f.pack, L"xapk_info"), info);
  EXPECT_TRUE(readAsset(f.pack, L"BG.PNG").empty());
  EXPECT_TRUE(readAsset(f.pack, L"music_a.pcm").empty());
  EXPECT_TRUE(readAsset(f.pack, L"file").empty());
  EXPECT_TRUE(readAsset(PatchPack(), L"bg.png").empty());
}

TEST(ReadAsset, AWrongCrcOrAFailedUnpackGivesNothing) {
  Bytes info = test::randomBytes(3000, 5);
  Bytes stream = blockStream({info});
  PackEntry wrongCrc = plainItem(Asset, L"asset:bg.png", Bytes(stream.begin(), stream.begin() + 100), 64);
  wrongCrc.crc ^= 1;
  PackEntry cut;
  cut.kind = Asset, cut.name = L"asset:xapk_info", cut.compressed = true, cut.size = info.size() + 1;
  cut.crc = crc32Update(0, info.data(), info.size());
  cut.storedSize = stream.size(), cut.dataOffset = 64;  // claims a byte more than its blocks hold
  PackEntry whole = cut;
  whole.name = L"asset:whole", whole.size = info.size();
  Fixture f;
  loadInto(f, stream, {wrongCrc, cut, whole});
  EXPECT_TRUE(readAsset(f.pack, L"bg.png").empty());
  EXPECT_TRUE(readAsset(f.pack, L"xapk_info").empty());
  EXPECT_EQ(readAsset(f.pack, L"whole"), info);
}

TEST(ReadDeltaBlob, PlainEmptyAndMultiBlock) {
  Bytes a = test::randomBytes(70000, 2), b = Bytes(3, 'b');
  Bytes stream = blockStream({a, b});
  PackEntry compressed;
  compressed.kind = FileDelta, compressed.compressed = true;
  compressed.storedSize = stream.size(), compressed.dataOffset = 64;
  PackEntry plain = compressed;
  plain.compressed = false, plain.storedSize = 10;
  PackEntry empty = plain;
  empty.storedSize = 0, empty.dataOffset = 1u << 30;  // never read
  Fixture f;
  loadInto(f, stream, {});
  Bytes out = {1, 2, 3};
  ASSERT_TRUE(readDeltaBlob(f.pack, compressed, out));
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  EXPECT_EQ(out, joined);
  ASSERT_TRUE(readDeltaBlob(f.pack, plain, out));
  EXPECT_EQ(out, Bytes(stream.begin(), stream.begin() + 10));
  ASSERT_TRUE(readDeltaBlob(f.pack, empty, out));
  EXPECT_TRUE(out.empty());
  PackEntry outside = plain;
  outside.storedSize = f.container.size();
  EXPECT_FALSE(readDeltaBlob(f.pack, outside, out));
}

}  // namespace
}  // namespace velmo
