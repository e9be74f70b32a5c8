#include "pack/lzms_buffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace velmo {
namespace {

const char* const kVectorNames[] = {"zeros", "sequential", "pattern", "single_byte", "small"};

Bytes readVector(const std::string& name) { return test::readVector("lzms/" + name); }

// Words and punctuation, so chunks compress like ordinary text.
Bytes makeText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the ", "patch ", "bundle ", "asset ", "of ", "and ",
                                       "texture ", "level_", "01 ", "\n", "{\"id\": ", "}, "};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const char* w = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(size);
  return out;
}

Bytes makeRandom(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

bool decodeAs(ByteView packed, size_t size, Bytes& out) {
  LzmsDecoder decoder;
  out.assign(size, 0xCC);
  return lzmsDecodeBuffer(decoder, packed, out);
}

// Compressed sizes of the chunk records, walked independently of the reader.
std::vector<uint32_t> recordSizes(const Bytes& packed) {
  std::vector<uint32_t> sizes;
  size_t pos = readLe16(packed.data() + 4);
  while (pos + 4 <= packed.size()) {
    uint32_t n = readLe32(packed.data() + pos);
    sizes.push_back(n);
    pos += 4 + n;
  }
  EXPECT_EQ(pos, packed.size());
  return sizes;
}

// A header as the writer lays it out, with any chunk size, then raw records.
Bytes handBuilt(uint64_t rawSize, uint32_t chunkSize, const std::vector<Bytes>& records) {
  Bytes b(kLzmsMagic, kLzmsMagic + 4);
  appendLe16(b, 24);
  b.push_back(0);
  b.push_back(5);
  appendLe64(b, rawSize);
  appendLe32(b, chunkSize);
  appendLe32(b, 0);
  for (const Bytes& r : records) {
    appendLe32(b, uint32_t(r.size()));
    b.insert(b.end(), r.begin(), r.end());
  }
  return b;
}

TEST(LzmsBufferGenuine, VectorsDecodeToTheirRawTwins) {
  for (const char* name : kVectorNames) {
    SCOPED_TRACE(name);
    Bytes packed = readVector(std::string(name) + ".lzms");
    Bytes raw = readVector(std::string(name) + ".raw");
    uint64_t claimed = 0;
    ASSERT_TRUE(lzmsBufferRawSize(packed, claimed));
    EXPECT_EQ(claimed, raw.size());
    Bytes out;
    ASSERT_TRUE(decodeAs(packed, raw.size(), out));
    EXPECT_EQ(out, raw);
    // The caller's raw size must agree with the header exactly.
    EXPECT_FALSE(decodeAs(packed, raw.size() - 1, out));
    EXPECT_FALSE(decodeAs(packed, raw.size() + 1, out));
  }
}

TEST(LzmsBufferGenuine, WriterHeaderMatchesTheGenuineHeader) {
  for (const char* name : kVectorNames) {
    SCOPED_TRACE(name);
    Bytes genuine = readVector(std::string(name) + ".lzms");
    Bytes raw = readVector(std::string(name) + ".raw");
    ASSERT_GE(genuine.size(), kLzmsHeaderSize);
    EXPECT_EQ(lzmsHeaderCheckByte(genuine), genuine[6]);
    Bytes ours;
    ASSERT_TRUE(lzmsEncodeBuffer(raw, ours));
    ASSERT_GE(ours.size(), kLzmsHeaderSize);
    // Every header byte, check byte included, comes out as Windows wrote it.
    EXPECT_EQ(Bytes(ours.begin(), ours.begin() + 24), Bytes(genuine.begin(), genuine.begin() + 24));
    Bytes back;
    ASSERT_TRUE(decodeAs(ours, raw.size(), back));
    EXPECT_EQ(back, raw);
  }
}

TEST(LzmsBufferGenuine, GenuineChunkMixesWithVerbatimChunks) {
  // The genuine 64-byte chunk as the first of two chunks, a verbatim tail as the second.
  Bytes genuine = readVector("small.lzms");
  Bytes raw = readVector("small.raw");
  ASSERT_EQ(raw.size(), 64u);
  Bytes chunk(genuine.begin() + 28, genuine.end());
  Bytes tail = {1, 2, 3, 4, 5};
  Bytes packed = handBuilt(69, 64, {chunk, tail});
  Bytes out;
  ASSERT_TRUE(decodeAs(packed, 69, out));
  Bytes expected = raw;
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(out, expected);
}

TEST(LzmsBufferRoundTrip, SmallAndIncompressibleInputs) {
  Bytes packed, out;
  ASSERT_TRUE(lzmsEncodeBuffer({}, packed));
  EXPECT_EQ(packed.size(), kLzmsHeaderSize);
  EXPECT_TRUE(decodeAs(packed, 0, out));
  EXPECT_FALSE(decodeAs(packed, 1, out));

  Bytes one = {0x42};
  ASSERT_TRUE(lzmsEncodeBuffer(one, packed));
  EXPECT_EQ(recordSizes(packed), std::vector<uint32_t>{1});
  ASSERT_TRUE(decodeAs(packed, 1, out));
  EXPECT_EQ(out, one);

  std::string text = "tiny tiny tiny tiny tiny tiny tiny tiny tiny";
  Bytes tiny(text.begin(), text.end());
  ASSERT_TRUE(lzmsEncodeBuffer(tiny, packed));
  ASSERT_EQ(recordSizes(packed).size(), 1u);
  EXPECT_LT(recordSizes(packed)[0], tiny.size());
  ASSERT_TRUE(decodeAs(packed, tiny.size(), out));
  EXPECT_EQ(out, tiny);

  // Random data never shrinks: every chunk goes in verbatim.
  Bytes noise = makeRandom(3 * 65536 + 777, 7);
  ASSERT_TRUE(lzmsEncodeBuffer(noise, packed));
  EXPECT_EQ(recordSizes(packed), (std::vector<uint32_t>{65536, 65536, 65536, 777}));
  ASSERT_TRUE(decodeAs(packed, noise.size(), out));
  EXPECT_EQ(out, noise);
}

TEST(LzmsBufferRoundTrip, MultiChunkMixesCompressedAndVerbatim) {
  // Text, noise, text, then a short text tail: chunk kinds alternate.
  Bytes raw = makeText(65536, 1);
  Bytes noise = makeRandom(65536, 2);
  Bytes text2 = makeText(65536 + 4000, 3);
  raw.insert(raw.end(), noise.begin(), noise.end());
  raw.insert(raw.end(), text2.begin(), text2.end());
  Bytes packed, out;
  ASSERT_TRUE(lzmsEncodeBuffer(raw, packed));
  EXPECT_EQ(readLe32(packed.data() + 16), 65536u);
  std::vector<uint32_t> sizes = recordSizes(packed);
  ASSERT_EQ(sizes.size(), 4u);
  EXPECT_LT(sizes[0], 65536u);
  EXPECT_EQ(sizes[1], 65536u);
  EXPECT_LT(sizes[2], 65536u);
  EXPECT_LT(sizes[3], 4000u);
  ASSERT_TRUE(decodeAs(packed, raw.size(), out));
  EXPECT_EQ(out, raw);

  // An exact multiple of the chunk size has no short last chunk.
  Bytes even = makeText(2 * 65536, 4);
  ASSERT_TRUE(lzmsEncodeBuffer(even, packed));
  EXPECT_EQ(recordSizes(packed).size(), 2u);
  ASSERT_TRUE(decodeAs(packed, even.size(), out));
  EXPECT_EQ(out, even);
}

TEST(LzmsBufferRoundTrip, SixteenMebibytesPlusOne) {
  // Long runs with text islands and noise: large yet quick to compress.
  const size_t size = 16 * 1024 * 1024 + 1;
  Bytes raw(size, 0);
  Bytes text = makeText(200000, 5);
  Bytes noise = makeRandom(70000, 6);
  std::copy(text.begin(), text.end(), raw.begin() + 1000000);
  std::copy(noise.begin(), noise.end(), raw.begin() + 9000000);
  raw.back() = 0x7F;
  Bytes packed, out;
  ASSERT_TRUE(lzmsEncodeBuffer(raw, packed));
  std::vector<uint32_t> sizes = recordSizes(packed);
  ASSERT_EQ(sizes.size(), 257u);
  EXPECT_EQ(sizes.back(), 1u);
  ASSERT_TRUE(decodeAs(packed, size, out));
  EXPECT_TRUE(out == raw);
}

TEST(LzmsBufferDecoder, FollowsTheChunkSizeAcrossBuffers) {
  // Chunk sizes 1000, 65536 and 30000 in turn, twice, through one decoder.
  std::vector<Bytes> raws = {makeText(1000, 8), makeText(150000, 9), makeText(30000, 10)};
  std::vector<Bytes> packs(raws.size());
  for (size_t i = 0; i < raws.size(); ++i) ASSERT_TRUE(lzmsEncodeBuffer(raws[i], packs[i]));
  LzmsDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < raws.size(); ++i) {
      Bytes out(raws[i].size());
      ASSERT_TRUE(lzmsDecodeBuffer(decoder, packs[i], out));
      EXPECT_EQ(out, raws[i]);
      EXPECT_EQ(decoder.handleChunkSize, std::min<size_t>(raws[i].size(), 65536));
    }
  }
}

TEST(LzmsBufferDecoder, HeaderVariantsWithinTheRules) {
  Bytes genuine = readVector("small.lzms");
  Bytes raw = readVector("small.raw");
  Bytes chunk(genuine.begin() + 28, genuine.end());
  Bytes out;

  // A chunk size far beyond the data is only ever as large as the output.
  Bytes huge = handBuilt(64, 0xFFFFFFFFu, {chunk});
  ASSERT_TRUE(decodeAs(huge, 64, out));
  EXPECT_EQ(out, raw);

  // A longer header: the first record starts where the header size says.
  Bytes padded = genuine;
  padded[4] = 32;
  padded.insert(padded.begin() + 24, 8, 0xEE);
  ASSERT_TRUE(decodeAs(padded, 64, out));
  EXPECT_EQ(out, raw);

  // A claimed size of a terabyte is reported, and refused for a small output.
  Bytes vast = genuine;
  vast[13] = 1;
  uint64_t claimed = 0;
  ASSERT_TRUE(lzmsBufferRawSize(vast, claimed));
  EXPECT_EQ(claimed, (uint64_t(1) << 40) + 64);
  EXPECT_FALSE(decodeAs(vast, 64, out));
}

TEST(LzmsBufferMalformed, HeaderFaultsFail) {
  Bytes raw = makeText(65536 + 3000, 11);
  Bytes good;
  ASSERT_TRUE(lzmsEncodeBuffer(raw, good));
  Bytes out;
  ASSERT_TRUE(decodeAs(good, raw.size(), out));
  auto mutated = [&](size_t at, uint8_t value) {
    Bytes bad = good;
    bad[at] = value;
    return bad;
  };
  // Faults in the fields the header reader checks: refused by both entry points.
  auto headerRefused = [&](size_t at, uint8_t value) {
    Bytes bad = mutated(at, value);
    uint64_t size = 0;
    return !lzmsBufferRawSize(bad, size) && !decodeAs(bad, raw.size(), out);
  };
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(headerRefused(i, good[i] ^ 0x20)) << "magic byte " << i;
  EXPECT_TRUE(headerRefused(4, 23));  // header size below 24
  EXPECT_TRUE(headerRefused(4, 0));
  ASSERT_LT(good.size(), 0xFF18u);
  EXPECT_TRUE(headerRefused(5, 0xFF));  // header size past the end
  EXPECT_TRUE(headerRefused(7, 4));  // another algorithm
  EXPECT_TRUE(headerRefused(7, 0));
  EXPECT_TRUE(headerRefused(20, 1));  // the other record layout
  EXPECT_TRUE(headerRefused(22, 1));  // unknown flag bits

  // Faults only a decode can see.
  EXPECT_FALSE(decodeAs(mutated(18, 0), raw.size(), out));  // chunk size 0
  EXPECT_FALSE(decodeAs(mutated(8, uint8_t(good[8] + 1)), raw.size(), out));
  EXPECT_FALSE(decodeAs(mutated(8, uint8_t(good[8] - 1)), raw.size(), out));
  // A chunk size that disagrees with the records.
  EXPECT_FALSE(decodeAs(mutated(17, 0x80), raw.size(), out));
  // The check byte is informational only.
  EXPECT_TRUE(decodeAs(mutated(6, uint8_t(good[6] ^ 0xFF)), raw.size(), out));
  EXPECT_EQ(out, raw);

  // Buffers shorter than a header never read one.
  uint64_t size = 0;
  EXPECT_FALSE(lzmsBufferRawSize(ByteView(good).first(23), size));
  EXPECT_FALSE(lzmsBufferRawSize({}, size));
  EXPECT_FALSE(decodeAs({}, 0, out));
}

TEST(LzmsBufferMalformed, RecordFaultsFail) {
  Bytes raw = makeText(65536 + 3000, 12);
  Bytes good;
  ASSERT_TRUE(lzmsEncodeBuffer(raw, good));
  std::vector<uint32_t> sizes = recordSizes(good);
  ASSERT_EQ(sizes.size(), 2u);
  const size_t second = 24 + 4 + sizes[0];
  Bytes out;
  LzmsDecoder decoder;

  // Every truncation cuts into a record; one byte more is trailing garbage.
  for (size_t n = 24; n < good.size(); ++n) {
    out.assign(raw.size(), 0);
    ASSERT_FALSE(lzmsDecodeBuffer(decoder, ByteView(good).first(n), out)) << n;
  }
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(decodeAs(trailing, raw.size(), out));

  auto withRecordSize = [&](size_t at, uint32_t value) {
    Bytes bad = good;
    for (int i = 0; i < 4; ++i) bad[at + i] = uint8_t(value >> (8 * i));
    return bad;
  };
  EXPECT_FALSE(decodeAs(withRecordSize(24, 0), raw.size(), out));
  EXPECT_FALSE(decodeAs(withRecordSize(second, 0), raw.size(), out));
  // Larger than the chunk it stands for (the buffer is long enough to hold it).
  Bytes over = withRecordSize(second, 3001);
  over.resize(second + 4 + 3001, 0);
  EXPECT_FALSE(decodeAs(over, raw.size(), out));
  EXPECT_FALSE(decodeAs(withRecordSize(24, 0xFFFFFFFFu), raw.size(), out));
  // A stream a byte short of its record.
  Bytes cut = withRecordSize(second, sizes[1] - 1);
  cut.pop_back();
  EXPECT_FALSE(decodeAs(cut, raw.size(), out));

  // The decoder is unharmed by all of that.
  out.assign(raw.size(), 0);
  ASSERT_TRUE(lzmsDecodeBuffer(decoder, good, out));
  EXPECT_EQ(out, raw);
}

TEST(LzmsBufferMalformed, ChunkThatDecodesShortFails) {
  // A stream for 5000 bytes in a buffer that claims 10000: it runs dry long
  // before the chunk is full. (wimlib cannot see a shortfall of a few bytes;
  // the item CRC catches those.)
  Bytes raw = makeText(5000, 13);
  Bytes packed;
  ASSERT_TRUE(lzmsEncodeBuffer(raw, packed));
  std::vector<uint32_t> sizes = recordSizes(packed);
  ASSERT_EQ(sizes.size(), 1u);
  ASSERT_LT(sizes[0], 5000u);
  Bytes stream(packed.begin() + 28, packed.end());
  Bytes out;
  EXPECT_FALSE(decodeAs(handBuilt(10000, 10000, {stream}), 10000, out));
  // And one claiming fewer bytes than it holds overruns its chunk.
  EXPECT_FALSE(decodeAs(handBuilt(4999, 4999, {stream}), 4999, out));
  // A damaged stream: the back half of the stream zeroed.
  Bytes damaged = stream;
  std::fill(damaged.begin() + damaged.size() / 2, damaged.end(), 0);
  EXPECT_FALSE(decodeAs(handBuilt(5000, 5000, {damaged}), 5000, out));
}

TEST(LzmsBufferCoders, EachPlatformPicksItsCoderOnce) {
#ifdef _WIN32
  EXPECT_EQ(lzmsSystemCoder(), test::underWine() ? LzmsCoder::Own : LzmsCoder::CompressionApi);
#else
  EXPECT_EQ(lzmsSystemCoder(), LzmsCoder::Wimlib);
  // A coder this platform lacks fails cleanly.
  Bytes packed, out(1000);
  EXPECT_FALSE(lzmsEncodeBuffer(Bytes(10, 1), packed, LzmsCoder::CompressionApi));
  ASSERT_TRUE(lzmsEncodeBuffer(makeText(1000, 1), packed));
  ASSERT_LT(recordSizes(packed)[0], 1000u);
  LzmsDecoder decoder;
  decoder.coder = LzmsCoder::CompressionApi;
  EXPECT_FALSE(lzmsDecodeBuffer(decoder, packed, out));
#endif
  EXPECT_EQ(LzmsDecoder().coder, lzmsSystemCoder());
}

TEST(LzmsBufferCoders, OursAndTheSystemsReadEachOthersBuffers) {
  // Multi-chunk buffers mixing text, x86-like code, a stored (noise) chunk
  // and a short tail, written by each coder and read by each.
  Bytes raw = makeText(65536, 21);
  Bytes noise = makeRandom(65536, 22);
  raw.insert(raw.end(), noise.begin(), noise.end());
  for (uint32_t i = 0; i < 20000; ++i) {
    raw.push_back(0xE8);
    appendLe32(raw, 0x4000 - uint32_t(raw.size() + 4));
    raw.push_back(uint8_t(0x40 + i % 5));
  }
  Bytes tail = makeText(5000, 23);
  raw.insert(raw.end(), tail.begin(), tail.end());

  std::vector<LzmsCoder> coders = {LzmsCoder::Own};
  if (lzmsSystemCoder() != LzmsCoder::Own) coders.push_back(lzmsSystemCoder());
  for (LzmsCoder writer : coders) {
    Bytes packed;
    ASSERT_TRUE(lzmsEncodeBuffer(raw, packed, writer));
    std::vector<uint32_t> sizes = recordSizes(packed);
    ASSERT_EQ(sizes.size(), 4u);
    EXPECT_LT(sizes[0], 65536u / 2);
    EXPECT_EQ(sizes[1], 65536u);  // stored
    EXPECT_LT(sizes[2], 65536u / 2);
    EXPECT_LT(sizes[3], raw.size() - 3 * 65536);
    for (LzmsCoder reader : coders) {
      SCOPED_TRACE("written by " + std::to_string(int(writer)) + ", read by " + std::to_string(int(reader)));
      LzmsDecoder decoder;
      decoder.coder = reader;
      Bytes out(raw.size());
      ASSERT_TRUE(lzmsDecodeBuffer(decoder, packed, out));
      EXPECT_TRUE(out == raw);
    }
  }
  // The genuine vectors with our decoder, whatever the platform.
  for (const char* name : kVectorNames) {
    SCOPED_TRACE(name);
    Bytes packed = readVector(std::string(name) + ".lzms");
    Bytes expected = readVector(std::string(name) + ".raw");
    LzmsDecoder decoder;
    decoder.coder = LzmsCoder::Own;
    Bytes out(expected.size());
    ASSERT_TRUE(lzmsDecodeBuffer(decoder, packed, out));
    EXPECT_EQ(out, expected);
  }
}

#ifdef _WIN32
TEST(LzmsBufferCoders, CompressionApiReadsTheGenuineVectors) {
  if (test::underWine()) GTEST_SKIP() << "Wine's Compression API has no LZMS (calling it ends the process)";
  for (const char* name : kVectorNames) {
    SCOPED_TRACE(name);
    Bytes packed = readVector(std::string(name) + ".lzms");
    Bytes expected = readVector(std::string(name) + ".raw");
    LzmsDecoder decoder;
    decoder.coder = LzmsCoder::CompressionApi;
    Bytes out(expected.size());
    ASSERT_TRUE(lzmsDecodeBuffer(decoder, packed, out));
    EXPECT_EQ(out, expected);
  }
}
#endif

}  // namespace
}  // namespace velmo
