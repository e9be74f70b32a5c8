#include "patch/unityweb.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace velmo {
namespace {

// A bundle written field by field, so each test can spoil exactly one thing.
struct RawBundle {
  std::string signature = "UnityWeb";
  uint32_t streamVersion = 3;
  std::string playerVersion = "3.x.x";
  std::string engineVersion = "4.6.9f1";
  uint32_t minimumStreamedBytes = 0xDEADBEEF;  // never looked at
  uint32_t headerSize = 60;
  uint32_t levelsToDownload = 1;
  uint32_t levelCount = 1;
  int64_t compressedSize = -1;  // -1: the real size of the level
  uint32_t uncompressedSize = 0x01020304;
  uint32_t completeFileSize = 0x0BADF00D;
  uint32_t fileInfoHeaderSize = 64;
  uint8_t padding = 0xEE;  // not looked at when read
  uint8_t properties = 0x5D;
  uint32_t dictionarySize = 0x00800000;
  uint64_t decodedSize = 0xFFFFFFFFFFFFFFFFull;  // not read either
  Bytes lzmaData = {0x00, 0x11, 0x22, 0x33};
  Bytes trailer;

  size_t prefixLength() const {
    return signature.size() + 1 + 4 + playerVersion.size() + 1 + engineVersion.size() + 1;
  }

  Bytes bytes() const {
    Bytes out(signature.begin(), signature.end());
    out.push_back(0);
    appendBe32(out, streamVersion);
    out.insert(out.end(), playerVersion.begin(), playerVersion.end());
    out.push_back(0);
    out.insert(out.end(), engineVersion.begin(), engineVersion.end());
    out.push_back(0);
    appendBe32(out, minimumStreamedBytes);
    appendBe32(out, headerSize);
    appendBe32(out, levelsToDownload);
    appendBe32(out, levelCount);
    appendBe32(out, compressedSize < 0 ? uint32_t(13 + lzmaData.size()) : uint32_t(compressedSize));
    appendBe32(out, uncompressedSize);
    appendBe32(out, completeFileSize);
    appendBe32(out, fileInfoHeaderSize);
    if (out.size() < headerSize) out.resize(headerSize, padding);
    out.push_back(properties);
    appendLe32(out, dictionarySize);
    appendLe64(out, decodedSize);
    out.insert(out.end(), lzmaData.begin(), lzmaData.end());
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
  }
};

bool parses(const RawBundle& raw) {
  UnityWebHeader header;
  return parseUnityWebHeader(raw.bytes(), header);
}

TEST(UnityWebParseTest, ReadsTheFieldsThatMatter) {
  const RawBundle raw;
  const Bytes bytes = raw.bytes();
  UnityWebHeader header;
  ASSERT_TRUE(parseUnityWebHeader(bytes, header));
  EXPECT_EQ(header.prefixLength, raw.prefixLength());
  EXPECT_EQ(header.prefixLength, 27u);
  EXPECT_EQ(header.headerSize, 60u);
  EXPECT_EQ(header.levelsToDownload, 1u);
  EXPECT_EQ(header.levelCount, 1u);
  EXPECT_EQ(header.compressedSize, 17u);
  EXPECT_EQ(header.completeFileSize, 0x0BADF00Du);
  EXPECT_EQ(header.fileInfoHeaderSize, 64u);
  EXPECT_EQ(header.dictionarySize, 0x00800000u);
  const ByteView data = unityWebLzmaData(bytes, header);
  EXPECT_TRUE(Bytes(data.begin(), data.end()) == raw.lzmaData);
}

TEST(UnityWebParseTest, SignatureMustBeExactlyUnityWebThenNul) {
  for (const char* signature : {"UnityWebX", "UnityWe", "unityweb", "UnityRaw", ""}) {
    SCOPED_TRACE(signature);
    RawBundle raw;
    raw.signature = signature;
    EXPECT_FALSE(parses(raw));
  }
  UnityWebHeader header;
  const std::string noNul = "UnityWeb";
  EXPECT_FALSE(parseUnityWebHeader(ByteView(reinterpret_cast<const uint8_t*>(noNul.data()), 8), header));
  EXPECT_FALSE(parseUnityWebHeader(ByteView(), header));
}

TEST(UnityWebParseTest, OnlyStreamVersionThree) {
  for (uint32_t version : {0u, 2u, 4u, 0x03000000u}) {
    RawBundle raw;
    raw.streamVersion = version;
    EXPECT_FALSE(parses(raw)) << version;
  }
  // Fewer than four bytes after the signature's NUL.
  const Bytes bytes = RawBundle().bytes();
  UnityWebHeader header;
  for (size_t length = 8; length < 13; ++length) {
    EXPECT_FALSE(parseUnityWebHeader(ByteView(bytes).first(length), header)) << length;
  }
}

TEST(UnityWebParseTest, VersionStringsMustEndAndLeaveRoomForFields) {
  RawBundle raw;
  raw.playerVersion = "";
  raw.engineVersion = "";
  EXPECT_TRUE(parses(raw));  // empty strings are just two NULs

  const Bytes bytes = RawBundle().bytes();
  const size_t prefix = RawBundle().prefixLength();
  UnityWebHeader header;
  // Cut inside the second string, right after it, and one byte short of the
  // 32 field bytes.
  EXPECT_FALSE(parseUnityWebHeader(ByteView(bytes).first(prefix - 3), header));
  EXPECT_FALSE(parseUnityWebHeader(ByteView(bytes).first(prefix), header));
  EXPECT_FALSE(parseUnityWebHeader(ByteView(bytes).first(prefix + 31), header));
}

TEST(UnityWebParseTest, OnlySingleLevelBundles) {
  RawBundle raw;
  raw.levelCount = 2;
  EXPECT_FALSE(parses(raw));
  raw = RawBundle();
  raw.levelsToDownload = 0;
  EXPECT_FALSE(parses(raw));
  raw = RawBundle();
  raw.levelsToDownload = 2;
  EXPECT_FALSE(parses(raw));
}

TEST(UnityWebParseTest, LevelMustLieInsideTheFile) {
  RawBundle raw;
  raw.compressedSize = 12;
  EXPECT_FALSE(parses(raw));

  raw.lzmaData.clear();
  raw.compressedSize = 13;
  UnityWebHeader header;
  const Bytes empty = raw.bytes();
  ASSERT_TRUE(parseUnityWebHeader(empty, header));
  EXPECT_TRUE(unityWebLzmaData(empty, header).empty());

  raw = RawBundle();
  raw.compressedSize = 13 + raw.lzmaData.size() + 1;  // one past the end
  EXPECT_FALSE(parses(raw));
  raw.trailer = {0};  // now it fits exactly
  EXPECT_TRUE(parses(raw));

  // The header must cover the fields and may not pass the end of the file.
  raw = RawBundle();
  raw.headerSize = uint32_t(raw.prefixLength() + 32);
  EXPECT_TRUE(parses(raw));
  raw.headerSize -= 1;
  EXPECT_FALSE(parses(raw));
  Bytes beyond = RawBundle().bytes();
  const size_t headerSizeField = RawBundle().prefixLength() + 4;
  for (uint32_t headerSize : {uint32_t(beyond.size()) + 1, 0xFFFFFFF0u}) {
    for (int i = 0; i < 4; ++i) beyond[headerSizeField + i] = uint8_t(headerSize >> (24 - 8 * i));
    EXPECT_FALSE(parseUnityWebHeader(beyond, header)) << headerSize;
  }
  // 60 + 0xFFFFFFF0 wraps to 44 in 32 bits, which would look in bounds.
  raw = RawBundle();
  raw.compressedSize = 0xFFFFFFF0;
  EXPECT_FALSE(parses(raw));
}

TEST(UnityWebParseTest, PropertiesAndDictionary) {
  struct Case {
    uint8_t properties;
    uint32_t lc, lp, pb;
  };
  for (const Case& c : {Case{0x5D, 3, 0, 2}, Case{0, 0, 0, 0}, Case{224, 8, 4, 4},
                        Case{255, 3, 3, 5}}) {
    RawBundle raw;
    raw.properties = c.properties;
    UnityWebHeader header;
    ASSERT_TRUE(parseUnityWebHeader(raw.bytes(), header)) << int(c.properties);
    EXPECT_EQ(header.lc, c.lc);
    EXPECT_EQ(header.lp, c.lp);
    EXPECT_EQ(header.pb, c.pb);
  }
  RawBundle raw;
  raw.dictionarySize = 0;
  EXPECT_FALSE(parses(raw));
  raw.dictionarySize = 1;
  EXPECT_TRUE(parses(raw));
}

TEST(UnityWebAssembleTest, WritesTheGameLayout) {
  const RawBundle raw;
  const Bytes source = raw.bytes();
  UnityWebHeader header;
  ASSERT_TRUE(parseUnityWebHeader(source, header));
  const UnityWebTarget target{60, 64, 123456};
  const Bytes encoded = {0x00, 0x5A, 0xA5, 0xFF, 0x01};
  Bytes out;
  ASSERT_TRUE(assembleUnityWebBundle(source, header, target, encoded, out));

  const uint32_t total = 60 + 13 + 5;
  ASSERT_EQ(out.size(), total);
  EXPECT_TRUE(std::equal(source.begin(), source.begin() + 27, out.begin()));
  const uint8_t* fields = out.data() + 27;
  EXPECT_EQ(readBe32(fields + 0), total);
  EXPECT_EQ(readBe32(fields + 4), 60u);
  EXPECT_EQ(readBe32(fields + 8), 1u);
  EXPECT_EQ(readBe32(fields + 12), 1u);
  EXPECT_EQ(readBe32(fields + 16), 13u + 5u);
  EXPECT_EQ(readBe32(fields + 20), 123456u);
  EXPECT_EQ(readBe32(fields + 24), total);
  EXPECT_EQ(readBe32(fields + 28), 64u);
  for (size_t i = 27 + 32; i < 60; ++i) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(out[60], 0x5D);
  EXPECT_EQ(readLe32(out.data() + 61), 0x00800000u);
  EXPECT_EQ(readLe64(out.data() + 65), 123456u);
  EXPECT_TRUE(std::equal(encoded.begin(), encoded.end(), out.begin() + 73));

  // The result reads back as what it claims to be.
  UnityWebHeader reread;
  ASSERT_TRUE(parseUnityWebHeader(out, reread));
  EXPECT_EQ(reread.headerSize, 60u);
  EXPECT_EQ(reread.fileInfoHeaderSize, 64u);
  EXPECT_EQ(reread.completeFileSize, total);
  EXPECT_EQ(reread.lc, 3u);
  EXPECT_EQ(reread.pb, 2u);
}

TEST(UnityWebAssembleTest, ValuesComeFromTheTargetNotTheSource) {
  RawBundle a;
  RawBundle b;
  b.headerSize = 100;
  b.fileInfoHeaderSize = 7;
  b.properties = 0;
  b.dictionarySize = 4096;
  b.lzmaData.assign(300, 0x42);
  const Bytes sourceA = a.bytes();
  const Bytes sourceB = b.bytes();
  UnityWebHeader headerA, headerB;
  ASSERT_TRUE(parseUnityWebHeader(sourceA, headerA));
  ASSERT_TRUE(parseUnityWebHeader(sourceB, headerB));
  const UnityWebTarget target{60, 64, 99};
  const Bytes encoded(10, 0x33);
  Bytes outA, outB;
  ASSERT_TRUE(assembleUnityWebBundle(sourceA, headerA, target, encoded, outA));
  ASSERT_TRUE(assembleUnityWebBundle(sourceB, headerB, target, encoded, outB));
  EXPECT_TRUE(outA == outB);
}

TEST(UnityWebAssembleTest, Preconditions) {
  const Bytes source = RawBundle().bytes();
  UnityWebHeader header;
  ASSERT_TRUE(parseUnityWebHeader(source, header));
  const Bytes encoded(3, 0);
  Bytes out;

  UnityWebHeader noPrefix = header;
  noPrefix.prefixLength = 0;
  EXPECT_FALSE(assembleUnityWebBundle(source, noPrefix, {60, 64, 10}, encoded, out));
  UnityWebHeader pastSource = header;
  pastSource.prefixLength = source.size() + 1;
  EXPECT_FALSE(assembleUnityWebBundle(source, pastSource, {200, 64, 10}, encoded, out));

  // The fields must fit in front of the target's header size.
  EXPECT_FALSE(assembleUnityWebBundle(source, header, {27 + 31, 64, 10}, encoded, out));
  ASSERT_TRUE(assembleUnityWebBundle(source, header, {27 + 32, 64, 10}, encoded, out));
  EXPECT_EQ(out[27 + 32], 0x5D);

  EXPECT_FALSE(assembleUnityWebBundle(source, header, {60, 64, 0x100000000ull}, encoded, out));
  EXPECT_TRUE(assembleUnityWebBundle(source, header, {60, 64, 0xFFFFFFFFull}, encoded, out));

  // 0xFFFFFFF0 + 13 + 3 is one past what a 32-bit size field can hold.
  EXPECT_FALSE(assembleUnityWebBundle(source, header, {0xFFFFFFF0u, 64, 10}, encoded, out));
}

Bytes makePayload(size_t size) {
  std::mt19937 rng{uint32_t(size)};
  Bytes out;
  while (out.size() < size) {
    const uint32_t run = 1 + rng() % 64;
    const uint8_t value = uint8_t(rng() % 4 == 0 ? rng() : 'a' + rng() % 6);
    out.insert(out.end(), run, value);
  }
  out.resize(size);
  return out;
}

// The whole path a bundle takes: read the header, decode, re-encode with the
// fixed settings and reassemble. With the fixed settings the rebuilt file is
// the original byte for byte; from another encoder it is the same as if the
// original had been made with ours.
TEST(UnityWebBuildTest, RebuildReproducesFixedSettingsBundle) {
  const Bytes payload = makePayload(200000);
  UnityWebBuildOptions ours;
  Bytes original;
  ASSERT_TRUE(buildUnityWebBundle(payload, ours, original));

  UnityWebBuildOptions theirs;
  theirs.encoder.preset = 1;
  theirs.encoder.dictionarySize = 1 << 20;
  theirs.encoder.lc = 0;
  theirs.encoder.lp = 2;
  theirs.encoder.pb = 0;
  theirs.encoder.matchFinder = LzmaMatchFinder::Hc4;
  theirs.encoder.mode = LzmaMode::Fast;
  theirs.encoder.niceLength = 16;
  Bytes foreign;
  ASSERT_TRUE(buildUnityWebBundle(payload, theirs, foreign));
  ASSERT_FALSE(foreign == original);

  for (const Bytes* source : {&original, &foreign}) {
    UnityWebHeader header;
    ASSERT_TRUE(parseUnityWebHeader(*source, header));
    EXPECT_EQ(header.completeFileSize, source->size());
    Bytes decoded;
    ASSERT_EQ(lzmaDecodeRaw(unityWebLzmaData(*source, header), header.dictionarySize, header.lc,
                            header.lp, header.pb, payload.size(), decoded),
              LzmaDecodeResult::Ok);
    ASSERT_TRUE(decoded == payload);
    Bytes encoded;
    ASSERT_TRUE(lzmaEncodeRaw(decoded, encoded));
    Bytes rebuilt;
    ASSERT_TRUE(assembleUnityWebBundle(*source, header,
                                       {header.headerSize, header.fileInfoHeaderSize, decoded.size()},
                                       encoded, rebuilt));
    EXPECT_TRUE(rebuilt == original);
  }

  UnityWebHeader header;
  ASSERT_TRUE(parseUnityWebHeader(foreign, header));
  EXPECT_EQ(header.lc, 0u);
  EXPECT_EQ(header.lp, 2u);
  EXPECT_EQ(header.pb, 0u);
  EXPECT_EQ(header.dictionarySize, 1u << 20);
}

TEST(UnityWebBuildTest, RejectsLayoutsThatCannotBeWritten) {
  const Bytes payload = makePayload(1000);
  Bytes out;
  UnityWebBuildOptions options;
  options.headerSize = 58;  // 27 prefix bytes + 32 field bytes do not fit
  EXPECT_FALSE(buildUnityWebBundle(payload, options, out));
  options = UnityWebBuildOptions{};
  options.engineVersion = std::string("4.6\0x", 5);
  EXPECT_FALSE(buildUnityWebBundle(payload, options, out));
  options = UnityWebBuildOptions{};
  options.encoder.lc = 5;  // lc + lp above what liblzma encodes
  EXPECT_FALSE(buildUnityWebBundle(payload, options, out));
}

}  // namespace
}  // namespace velmo
