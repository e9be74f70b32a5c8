#include "pack/lzms_decode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "support/test_util.h"

#ifndef _WIN32
#include <wimlib.h>
#endif

namespace velmo {
namespace {

bool decodeOwn(ByteView in, size_t size, Bytes& out) {
  static LzmsWorkspacePtr workspace = lzmsNewWorkspace();
  out.assign(size, 0xCC);
  return lzmsDecodeBlock(*workspace, in, out);
}

template <typename T, size_t N>
uint32_t crcOfLe(const std::array<T, N>& table, uint64_t& sum) {
  Bytes bytes;
  sum = 0;
  for (T v : table) {
    sum += v;
    for (size_t i = 0; i < sizeof(T); ++i) bytes.push_back(uint8_t(uint64_t(v) >> (8 * i)));
  }
  return crc32Update(0, bytes.data(), bytes.size());
}

TEST(LzmsSlots, TablesAndSlotCountsAreTheFormats) {
  uint64_t sum = 0;
  EXPECT_EQ(crcOfLe(kLzmsOffsetBase, sum), 0x03C08FD6u);
  EXPECT_EQ(sum, 14746250528u);
  EXPECT_EQ(crcOfLe(kLzmsOffsetExtra, sum), 0x661EA487u);
  EXPECT_EQ(sum, 11188u);
  EXPECT_EQ(crcOfLe(kLzmsLengthBase, sum), 0xF935FEC6u);
  EXPECT_EQ(sum, 1073884406u);
  EXPECT_EQ(crcOfLe(kLzmsLengthExtra, sum), 0x3647AF3Fu);
  EXPECT_EQ(sum, 144u);

  const std::pair<uint64_t, uint32_t> counts[] = {
      {0, 0},          {1, 0},          {2, 1},          {3, 2},          {16, 10},        {18, 11},
      {64, 20},        {1000, 54},      {4096, 83},      {1 << 15, 142},  {1 << 16, 171},  {1 << 17, 203},
      {1 << 18, 237},  {1 << 19, 275},  {1 << 20, 317},  {1 << 21, 368},  {1 << 22, 430},  {1 << 23, 494},
      {1 << 24, 565},  {1 << 25, 643},  {1 << 26, 729},  {106685605, 798}, {106685606, 799}, {1u << 30, 799}};
  for (auto [size, slots] : counts) EXPECT_EQ(lzmsOffsetSlotCount(size), slots) << size;
}

TEST(LzmsCodeLengths, CompleteCanonicalAndCappedAtFifteen) {
  auto kraftComplete = [](const uint8_t* lengths, uint32_t n) {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum += uint64_t(1) << (15 - lengths[i]);
    return sum == (uint64_t(1) << 15);
  };
  // Equal weights: a balanced code, lower symbols never shorter.
  uint32_t ones[256];
  std::fill(std::begin(ones), std::end(ones), 1u);
  uint8_t lengths[799];
  lzmsCodeLengths(ones, 256, lengths);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(lengths[i], 8) << i;
  lzmsCodeLengths(ones, 3, lengths);
  EXPECT_EQ((std::vector<int>{lengths[0], lengths[1], lengths[2]}), (std::vector<int>{2, 2, 1}));
  // Fibonacci weights would give a 30-deep tree: capped at 15, still complete.
  uint32_t fib[31];
  fib[0] = fib[1] = 1;
  for (int i = 2; i < 31; ++i) fib[i] = fib[i - 1] + fib[i - 2];
  lzmsCodeLengths(fib, 31, lengths);
  EXPECT_TRUE(kraftComplete(lengths, 31));
  for (int i = 0; i < 31; ++i) EXPECT_LE(lengths[i], 15) << i;
  EXPECT_EQ(lengths[30], 1);
  // Skewed random weights over the widest alphabet.
  std::mt19937 rng(3);
  uint32_t freq[799];
  for (int round = 0; round < 20; ++round) {
    for (uint32_t& f : freq) f = 1 + (rng() % 2048) * (rng() % 8 == 0);
    lzmsCodeLengths(freq, 799, lengths);
    EXPECT_TRUE(kraftComplete(lengths, 799)) << round;
  }
  lzmsCodeLengths(ones, 1, lengths);
  EXPECT_EQ(lengths[0], 1);
}

TEST(LzmsDecodeGenuine, WindowsVectorsDecodeExactly) {
  // Single-chunk buffers written by the Compression API: the chunk's
  // compressed size follows the 24-byte header.
  for (const char* name : {"zeros", "sequential", "pattern", "single_byte", "small"}) {
    SCOPED_TRACE(name);
    Bytes packed = test::readVector(std::string("lzms/") + name + ".lzms");
    Bytes raw = test::readVector(std::string("lzms/") + name + ".raw");
    ASSERT_GE(packed.size(), 28u);
    uint32_t stored = readLe32(packed.data() + 24);
    ASSERT_EQ(packed.size(), 28u + stored);
    ASSERT_LT(stored, raw.size());
    Bytes out;
    ASSERT_TRUE(decodeOwn(ByteView(packed).subspan(28), raw.size(), out));
    EXPECT_EQ(out, raw);
  }
}

TEST(LzmsDecodeMalformed, CorruptIsAFailureNeverACrash) {
  Bytes out;
  // Input sizes: odd or below four bytes.
  EXPECT_FALSE(decodeOwn(Bytes{}, 10, out));
  EXPECT_FALSE(decodeOwn(Bytes{1, 2}, 10, out));
  EXPECT_FALSE(decodeOwn(Bytes{1, 2, 3, 4, 5}, 10, out));
  // An empty block needs no bits; a block beyond 1 GiB is refused unread.
  EXPECT_TRUE(decodeOwn(Bytes{0, 0, 0, 0}, 0, out));
  std::span<uint8_t> vast(reinterpret_cast<uint8_t*>(16), kLzmsMaxBlockSize + 1);
  LzmsWorkspacePtr ws = lzmsNewWorkspace();
  EXPECT_FALSE(lzmsDecodeBlock(*ws, Bytes{0, 0, 0, 0}, vast));
  // All-ones input: a match first, reaching before the block.
  EXPECT_FALSE(decodeOwn(Bytes(64, 0xFF), 1000, out));
  // All zeros decode as literals of the code's first symbol, ever after.
  ASSERT_TRUE(decodeOwn(Bytes(4, 0), 5000, out));
  EXPECT_EQ(out, Bytes(5000, 0));
}

#ifndef _WIN32

// The data classes the format's features show up in.
Bytes makeText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the ",     "patch ", "bundle ", "asset ", "of ",   "and ",  "texture ",
                                       "level_",   "01 ",    "\n",      "{\"id\": ", "}, ", "shader ", "Harrow"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* w = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), w, w + std::strlen(w));
    if (rng() % 50 == 0) out.push_back(uint8_t(rng()));
  }
  out.resize(size);
  return out;
}

// Relative calls, RIP-relative loads and lock adds whose operands point at a
// few absolute targets, with filler between them.
Bytes makeX86(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t targets[] = {0x1000, 0x2340, 0x8000, 0x12345, 0x400};
  Bytes out;
  auto rel = [&](size_t operandAt) {
    uint32_t v = targets[rng() % 5] - uint32_t(operandAt + 4);
    appendLe32(out, v);
  };
  while (out.size() < size) {
    switch (rng() % 9) {
      case 0: out.push_back(0xE8), rel(out.size()); break;
      case 1: out.insert(out.end(), {0x48, 0x8D, 0x05}), rel(out.size()); break;
      case 2: out.insert(out.end(), {0x4C, 0x8D, 0x2D}), rel(out.size()); break;
      case 3: out.insert(out.end(), {0x48, 0x8B, 0x0D}), rel(out.size()); break;
      case 4: out.insert(out.end(), {0xFF, 0x15}), rel(out.size()); break;
      case 5: out.insert(out.end(), {0xF0, 0x83, 0x05}), rel(out.size()), out.push_back(1); break;
      case 6: out.push_back(0xE9), rel(out.size()); break;
      default:
        for (int i = 0, n = rng() % 6; i < n; ++i) out.push_back(uint8_t(0x40 + rng() % 16));
    }
  }
  out.resize(size);
  return out;
}

// Tables of 16- or 32-bit values rising by a step that changes now and then,
// and PCM-like ramps: delta matches.
Bytes makeStrided(size_t size, uint32_t seed, int width) {
  std::mt19937 rng(seed);
  Bytes out;
  uint32_t v = rng(), step = 1 + rng() % 300;
  while (out.size() < size) {
    if (rng() % 500 == 0) step = 1 + rng() % 300;
    v += step;
    for (int i = 0; i < width; ++i) out.push_back(uint8_t(v >> (8 * i)));
  }
  out.resize(size);
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Wimlib {
  wimlib_decompressor* decompressor = nullptr;
  explicit Wimlib(size_t maxBlock) {
    EXPECT_EQ(wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, maxBlock, &decompressor), 0);
  }
  ~Wimlib() { wimlib_free_decompressor(decompressor); }
  bool decode(ByteView in, size_t size, Bytes& out) {
    out.assign(size, 0xCC);
    return wimlib_decompress(in.data(), in.size(), out.data(), size, decompressor) == 0;
  }
};

Bytes compress(ByteView raw, unsigned level) {
  wimlib_compressor* c = nullptr;
  if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, raw.size(), level, &c) != 0) return {};
  Bytes out(raw.size() + 1000);
  size_t n = wimlib_compress(raw.data(), raw.size(), out.data(), out.size(), c);
  wimlib_free_compressor(c);
  out.resize(n);
  return out;
}

TEST(LzmsDecodeDifferential, WimlibsBlocksDecodeToTheirSource) {
  struct Case {
    std::string name;
    Bytes raw;
  };
  std::vector<Case> cases = {
      {"text", makeText(200000, 1)},
      {"noise", test::randomBytes(70000, 2)},
      {"text and noise", concat({makeText(30000, 3), test::randomBytes(20000, 4), makeText(30000, 5)})},
      {"x86", makeX86(150000, 6)},
      {"x86 in text", concat({makeText(5000, 7), makeX86(3000, 8), makeText(5000, 9)})},
      {"16-bit table", makeStrided(100000, 10, 2)},
      {"32-bit table", makeStrided(100000, 11, 4)},
      {"64-bit table", makeStrided(60000, 12, 8)},
      {"one byte run", Bytes(300000, 'a')},
      {"repeated block", concat({makeText(1000, 13), makeText(1000, 13), makeText(1000, 13), Bytes(100000, 0)})},
  };
  for (size_t size : {4, 5, 7, 13, 17, 18, 19, 33, 40, 77, 150, 299}) {
    cases.push_back({"small text " + std::to_string(size), makeText(size, uint32_t(size))});
    cases.push_back({"small x86 " + std::to_string(size), makeX86(size, uint32_t(size))});
  }
  {
    // Long offsets: 3 MiB of noise, then the same again, in one 6 MiB block.
    Bytes noise = test::randomBytes(3 << 20, 14);
    cases.push_back({"long offsets", concat({noise, noise})});
  }
  {
    // Above 8 MiB in one block: the mixture a game's files give.
    Bytes big;
    for (uint32_t i = 0; big.size() < (9u << 20); ++i) {
      Bytes part = i % 4 == 0   ? makeText(400000, 100 + i)
                   : i % 4 == 1 ? makeX86(300000, 100 + i)
                   : i % 4 == 2 ? makeStrided(300000, 100 + i, 2 << (i % 3))
                                : test::randomBytes(100000, 100 + i);
      big.insert(big.end(), part.begin(), part.end());
    }
    cases.push_back({"9 MiB game-like", big});
  }

  size_t checked = 0;
  for (const Case& c : cases) {
    // The slow top level only on blocks where it adds something.
    std::vector<unsigned> levels = {10, 50, 100};
    if (c.raw.size() > (1u << 20)) levels = {50};
    for (unsigned level : levels) {
      SCOPED_TRACE(c.name + " at level " + std::to_string(level));
      Bytes packed = compress(c.raw, level);
      ASSERT_FALSE(packed.empty());
      Bytes ours, theirs;
      ASSERT_TRUE(decodeOwn(packed, c.raw.size(), ours));
      EXPECT_TRUE(ours == c.raw);
      Wimlib w(c.raw.size());
      ASSERT_TRUE(w.decode(packed, c.raw.size(), theirs));
      EXPECT_TRUE(theirs == c.raw);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 10 * 3 + 24 * 3 + 2);
}

TEST(LzmsDecodeDifferential, MutatedAndRandomBlocksAgreeWithWimlib) {
  // Valid blocks with 1-3 flipped bits (sometimes a shorter output), and
  // random bytes: the same verdict as wimlib, and on success the same bytes.
  std::vector<Bytes> sources = {makeText(3000, 20), makeX86(2000, 21), makeStrided(3000, 22, 2),
                                makeStrided(2000, 23, 4), concat({makeText(500, 24), test::randomBytes(300, 25)})};
  std::vector<std::pair<Bytes, size_t>> blocks;
  for (const Bytes& s : sources) {
    for (unsigned level : {10, 50}) blocks.push_back({compress(s, level), s.size()});
  }
  std::mt19937 rng(2026);
  Wimlib w(1 << 16);
  size_t agreedOk = 0, agreedCorrupt = 0;
  for (int round = 0; round < 6000; ++round) {
    Bytes in;
    size_t size;
    if (round % 4 == 3) {
      in = test::randomBytes(4 + 2 * (rng() % 200), rng());
      size = 3 + rng() % 60;
    } else {
      const auto& [block, rawSize] = blocks[rng() % blocks.size()];
      in = block;
      for (int k = 0, n = 1 + rng() % 3; k < n; ++k) in[rng() % in.size()] ^= uint8_t(1u << (rng() % 8));
      size = rng() % 4 == 0 ? 3 + rng() % rawSize : rawSize;
    }
    Bytes ours, theirs;
    bool ok = decodeOwn(in, size, ours);
    bool wok = w.decode(in, size, theirs);
    ASSERT_EQ(ok, wok) << "round " << round;
    if (ok) {
      ASSERT_TRUE(ours == theirs) << "round " << round;
      ++agreedOk;
    } else {
      ++agreedCorrupt;
    }
  }
  // Both verdicts must have been met often for the comparison to mean much.
  EXPECT_GT(agreedOk, 500u);
  EXPECT_GT(agreedCorrupt, 500u);
}

#endif

}  // namespace
}  // namespace velmo
