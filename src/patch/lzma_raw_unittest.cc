#include "patch/lzma_raw.h"

#include <gtest/gtest.h>
#include <lzma.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace velmo {
namespace {

// Payload resembling a game bundle: runs of structured records, text and
// incompressible noise, from a fixed seed.
Bytes makePayload(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  static const char* kWords[] = {"m_Name", "Texture2D", "Material", "_MainTex", "shader",
                                 "float4", "transform", "GameObject", "0.5", "true"};
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0:
        for (uint32_t i = 0, n = 50 + rng() % 200; i < n; ++i) {
          appendLe32(out, i);
          appendLe32(out, 0x3F800000u + (rng() % 64));
          appendLe32(out, 0);
        }
        break;
      case 1:
        for (uint32_t i = 0, n = 20 + rng() % 100; i < n; ++i) {
          const char* word = kWords[rng() % 10];
          out.insert(out.end(), word, word + std::char_traits<char>::length(word));
          out.push_back(rng() % 8 == 0 ? '\n' : ' ');
        }
        break;
      default:
        for (uint32_t i = 0, n = 100 + rng() % 1000; i < n; ++i) out.push_back(uint8_t(rng()));
    }
  }
  out.resize(size);
  return out;
}

Bytes encodeFixed(const Bytes& payload) {
  Bytes encoded;
  EXPECT_TRUE(lzmaEncodeRaw(payload, encoded));
  return encoded;
}

LzmaDecodeResult decodeFixed(const Bytes& encoded, uint64_t maxOutput, Bytes& out) {
  return lzmaDecodeRaw(encoded, 0x00800000, 3, 0, 2, maxOutput, out);
}

// Settings another tool might have used: different preset, match finder,
// mode, literal/position bits and a small dictionary.
LzmaEncoderSettings foreignSettings() {
  LzmaEncoderSettings settings;
  settings.preset = 2;
  settings.dictionarySize = 1 << 16;
  settings.lc = 1;
  settings.lp = 2;
  settings.pb = 1;
  settings.mode = LzmaMode::Fast;
  settings.niceLength = 32;
  settings.matchFinder = LzmaMatchFinder::Hc4;
  return settings;
}

TEST(LzmaRawTest, RoundTripsPayloadsOfManySizes) {
  for (size_t size : {size_t(0), size_t(1), size_t(300), size_t(70000), size_t(5 << 20)}) {
    SCOPED_TRACE(size);
    const Bytes payload = makePayload(size, uint32_t(size) + 7);
    const Bytes encoded = encodeFixed(payload);
    ASSERT_FALSE(encoded.empty());  // even empty input carries an end marker
    Bytes decoded;
    // A limit of exactly the payload size is enough.
    ASSERT_EQ(decodeFixed(encoded, payload.size(), decoded), LzmaDecodeResult::Ok);
    EXPECT_TRUE(decoded == payload);
    EXPECT_EQ(decoded.capacity(), decoded.size());
  }
}

TEST(LzmaRawTest, EncodingIsDeterministicAndDependsOnSettings) {
  const Bytes payload = makePayload(400000, 3);
  const Bytes first = encodeFixed(payload);
  const Bytes second = encodeFixed(payload);
  EXPECT_TRUE(first == second);

  Bytes foreign;
  ASSERT_TRUE(lzmaEncodeRawWith(payload, foreignSettings(), foreign));
  EXPECT_FALSE(foreign == first);

  // Changing only the nice length or only the match finder changes the bytes
  // too, which is why the fixed settings must be reproduced exactly.
  LzmaEncoderSettings niceOnly;
  niceOnly.niceLength = 64;
  Bytes niceOut;
  ASSERT_TRUE(lzmaEncodeRawWith(payload, niceOnly, niceOut));
  EXPECT_FALSE(niceOut == first);
  LzmaEncoderSettings finderOnly;
  finderOnly.matchFinder = LzmaMatchFinder::Hc4;
  Bytes finderOut;
  ASSERT_TRUE(lzmaEncodeRawWith(payload, finderOnly, finderOut));
  EXPECT_FALSE(finderOut == first);
}

// liblzma's own .lzma writer, given the fixed settings, must produce the same
// LZMA data behind its 13-byte header. Incompressible input makes the output
// outgrow the encoder's first buffer several times, so bytes lost or repeated
// while growing would show here.
TEST(LzmaRawTest, MatchesLiblzmaAloneEncoderAcrossBufferGrowth) {
  Bytes payload(1 << 20);
  std::mt19937 rng(11);
  for (auto& b : payload) b = uint8_t(rng());
  const Bytes raw = encodeFixed(payload);
  ASSERT_GT(raw.size(), payload.size() / 2 + 65536);

  lzma_options_lzma options{};
  ASSERT_FALSE(lzma_lzma_preset(&options, 6));
  options.nice_len = 123;
  lzma_stream stream{};
  ASSERT_EQ(lzma_alone_encoder(&stream, &options), LZMA_OK);
  Bytes alone(payload.size() * 2);
  stream.next_in = payload.data();
  stream.avail_in = payload.size();
  stream.next_out = alone.data();
  stream.avail_out = alone.size();
  ASSERT_EQ(lzma_code(&stream, LZMA_FINISH), LZMA_STREAM_END);
  alone.resize(alone.size() - stream.avail_out);
  lzma_end(&stream);

  ASSERT_EQ(alone.size(), raw.size() + 13);
  EXPECT_EQ(alone[0], 0x5D);
  EXPECT_EQ(readLe32(alone.data() + 1), 0x00800000u);
  EXPECT_TRUE(Bytes(alone.begin() + 13, alone.end()) == raw);
}

TEST(LzmaRawTest, DecodesStreamsMadeWithOtherSettings) {
  const Bytes payload = makePayload(600000, 5);
  const LzmaEncoderSettings settings = foreignSettings();
  Bytes encoded;
  ASSERT_TRUE(lzmaEncodeRawWith(payload, settings, encoded));
  Bytes decoded;
  ASSERT_EQ(lzmaDecodeRaw(encoded, settings.dictionarySize, settings.lc, settings.lp, settings.pb,
                          payload.size(), decoded),
            LzmaDecodeResult::Ok);
  EXPECT_TRUE(decoded == payload);

  // The stream does not describe its own literal/position bits, so decoding
  // with the wrong ones must not reproduce the payload.
  const LzmaDecodeResult wrong = lzmaDecodeRaw(encoded, settings.dictionarySize, 3, 0, 2,
                                               payload.size(), decoded);
  EXPECT_FALSE(wrong == LzmaDecodeResult::Ok && decoded == payload);
}

TEST(LzmaRawTest, RejectsBadSettingsAndBadData) {
  const Bytes payload = makePayload(100000, 9);
  const Bytes encoded = encodeFixed(payload);
  Bytes out = {1, 2, 3};

  // lc + lp above 4 (properties byte 224: lc 8, lp 4, pb 4) is beyond liblzma.
  EXPECT_EQ(lzmaDecodeRaw(encoded, 0x00800000, 8, 4, 4, 1 << 20, out), LzmaDecodeResult::Failed);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(lzmaDecodeRaw(encoded, 0x00800000, 3, 0, 5, 1 << 20, out), LzmaDecodeResult::Failed);

  // A range coder stream always starts with a zero byte.
  Bytes garbage(5000);
  std::mt19937 rng(1);
  for (auto& b : garbage) b = uint8_t(rng());
  garbage[0] = 0xA7;
  EXPECT_EQ(decodeFixed(garbage, 1 << 20, out), LzmaDecodeResult::Failed);
  EXPECT_TRUE(out.empty());

  Bytes encodedOut = {1};
  LzmaEncoderSettings invalid;
  invalid.lc = 4;
  invalid.lp = 1;
  EXPECT_FALSE(lzmaEncodeRawWith(payload, invalid, encodedOut));
  EXPECT_TRUE(encodedOut.empty());
  invalid = LzmaEncoderSettings{};
  invalid.preset = 10;
  EXPECT_FALSE(lzmaEncodeRawWith(payload, invalid, encodedOut));
}

// Decoding ends when the input runs out with room to spare; a cut stream
// gives a strict prefix, which the payload's size and CRC checks reject.
TEST(LzmaRawTest, TruncatedStreamYieldsPrefix) {
  const Bytes payload = makePayload(300000, 21);
  const Bytes encoded = encodeFixed(payload);
  const Bytes cut(encoded.begin(), encoded.begin() + ptrdiff_t(encoded.size() / 2));
  Bytes decoded;
  ASSERT_EQ(decodeFixed(cut, payload.size(), decoded), LzmaDecodeResult::Ok);
  EXPECT_LT(decoded.size(), payload.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), payload.begin()));
}

Bytes zerosStream(size_t size) {
  // A fast setting: the point is the expansion, not the ratio.
  LzmaEncoderSettings settings;
  settings.preset = 0;
  settings.mode = LzmaMode::Fast;
  settings.matchFinder = LzmaMatchFinder::Hc3;
  settings.niceLength = 273;
  Bytes encoded;
  EXPECT_TRUE(lzmaEncodeRawWith(Bytes(size, 0), settings, encoded));
  return encoded;
}

// 64 MiB of zeros in a few KiB; made once, it takes a second or two.
const Bytes& zerosBomb() {
  static const Bytes bomb = zerosStream(64u << 20);
  return bomb;
}

TEST(LzmaRawTest, OutputLimitStopsExpansion) {
  const Bytes& bomb = zerosBomb();
  ASSERT_LT(bomb.size(), 64u << 10);
  Bytes out;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(decodeFixed(bomb, 1 << 20, out), LzmaDecodeResult::TooLarge);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(decodeFixed(bomb, 0, out), LzmaDecodeResult::TooLarge);

  // The limit is inclusive.
  const Bytes small = zerosStream(5000);
  EXPECT_EQ(decodeFixed(small, 4999, out), LzmaDecodeResult::TooLarge);
  EXPECT_EQ(decodeFixed(small, 5000, out), LzmaDecodeResult::Ok);
  EXPECT_EQ(out.size(), 5000u);
}

// Address-space limits are a POSIX facility; Windows has no equivalent a
// test can set on itself.
#ifndef _WIN32
size_t currentAddressSpace() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (f) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return size_t(pages) * size_t(sysconf(_SC_PAGESIZE));
}

// With the address space capped 48 MiB above what the process already uses,
// a stream expanding to 64 MiB (which an unbounded buffer doubles past), and a
// header claiming a 4 GiB dictionary, must still end as TooLarge.
TEST(LzmaRawDeathTest, MemoryStaysBoundedUnderAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not combine with AddressSanitizer";
#endif
  GTEST_FLAG_SET(death_test_style, "fast");
  const Bytes& bomb = zerosBomb();
  EXPECT_EXIT(
      {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = currentAddressSpace() + (48u << 20);
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
        Bytes out;
        const bool bounded =
            lzmaDecodeRaw(bomb, 0x00800000, 3, 0, 2, 4 << 20, out) == LzmaDecodeResult::TooLarge &&
            lzmaDecodeRaw(bomb, 0xFFFFFFFF, 3, 0, 2, 4 << 20, out) == LzmaDecodeResult::TooLarge;
        std::_Exit(bounded ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace velmo
