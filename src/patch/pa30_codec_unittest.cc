// The building blocks of the PA30 codec: bit streams, numbers, buffers,
// canonical Huffman codes, parameter blocks and the rift map.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "patch/pa30.h"
#include "patch/pa30_bits.h"
#include "patch/pa30_format.h"
#include "patch/pa30_header.h"
#include "patch/pa30_huffman.h"
#include "patch/pa30_params.h"

namespace velmo {
namespace {

// The bits a writer holds, in stream order, as '0'/'1'.
std::string bitString(const Pa30BitWriter& writer) {
  std::string out;
  for (uint64_t i = 0; i < writer.bitCount(); ++i) {
    uint8_t byte = i / 8 < writer.bytes.size() ? writer.bytes[i / 8] : uint8_t(writer.acc);
    out += ((byte >> (i % 8)) & 1) ? '1' : '0';
  }
  return out;
}

Pa30BitReader openOrFail(const Bytes& stream) {
  Pa30BitReader reader;
  EXPECT_TRUE(pa30OpenStream(stream, reader));
  return reader;
}

TEST(Pa30Bits, NumbersTakeTheShortestForm) {
  struct Case {
    uint64_t value;
    std::string bits;
  };
  const Case cases[] = {
      {0, "1" "0000"},
      {1, "1" "1000"},
      {15, "1" "1111"},
      {16, "01" "00001000"},
      {0x10000, "00001" "00000000000000001000"},
  };
  for (const Case& c : cases) {
    Pa30BitWriter w;
    w.writeNumber(c.value);
    EXPECT_EQ(bitString(w), c.bits) << c.value;
  }
  Pa30BitWriter w;
  w.writeNumber(0x53000);
  EXPECT_EQ(w.bitCount(), 25u);
}

TEST(Pa30Bits, NumbersReadBackAndLimitsHold) {
  const int64_t values[] = {0, 7, 16, 255, 4096, 0xFFFFFFFFll, INT64_MAX, -1, INT64_MIN, -123456789};
  Pa30BitWriter w;
  w.writeBits(0, 3);
  for (int64_t v : values) w.writeNumber(uint64_t(v));
  w.writeNumber(0xFFFFFFFFu);
  w.writeNumber(0x100000000ull);  // too wide for a 32-bit field
  Bytes stream = w.finishStream();
  Pa30BitReader r = openOrFail(stream);
  for (int64_t v : values) {
    int64_t got = 0;
    ASSERT_TRUE(pa30ReadNumber64(r, got));
    EXPECT_EQ(got, v);
  }
  uint32_t small = 0;
  ASSERT_TRUE(pa30ReadNumber32(r, small));
  EXPECT_EQ(small, 0xFFFFFFFFu);
  EXPECT_FALSE(pa30ReadNumber32(r, small));

  // Sixteen zeros before the one bit is no number at all.
  Pa30BitWriter wide;
  wide.writeBits(0, 3);
  wide.writeBits(0, 16);
  wide.writeBits(1, 1);
  wide.writeBits(0, 64);
  Bytes wideStream = wide.finishStream();
  Pa30BitReader wr = openOrFail(wideStream);
  int64_t v = 0;
  EXPECT_FALSE(pa30ReadNumber64(wr, v));
}

TEST(Pa30Bits, StreamEndsAtItsPaddingCount) {
  Pa30BitWriter w;
  w.writeBits(0, 3);
  w.writeBits(0x5A, 7);  // 10 bits: 6 bits of padding
  Bytes stream = w.finishStream();
  ASSERT_EQ(stream.size(), 2u);
  EXPECT_EQ(stream[0] & 7, 6);
  Pa30BitReader r = openOrFail(stream);
  EXPECT_EQ(r.bitsLeft(), 7u);
  uint64_t v = 0;
  ASSERT_TRUE(r.readBits(7, v));
  EXPECT_EQ(v, 0x5Au);
  unsigned bit = 0;
  EXPECT_FALSE(r.readBit(bit));
  EXPECT_FALSE(r.readBits(1, v));

  Pa30BitReader reader;
  EXPECT_FALSE(pa30OpenStream(Bytes{}, reader));
  EXPECT_FALSE(pa30OpenStream(Bytes{0x06}, reader));  // 2 usable bits, less than the header
  ASSERT_TRUE(pa30OpenStream(Bytes{0x05}, reader));    // header only
  EXPECT_EQ(reader.bitsLeft(), 0u);
}

TEST(Pa30Bits, BuffersStayInsideTheirStream) {
  Pa30BitWriter w;
  w.writeBits(0, 3);
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  w.writeBuffer(payload);
  w.writeBits(1, 1);
  Bytes stream = w.finishStream();
  Pa30BitReader r = openOrFail(stream);
  ByteView buffer;
  ASSERT_TRUE(pa30ReadBuffer(r, buffer));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), std::begin(payload), std::end(payload)));
  unsigned bit = 0;
  ASSERT_TRUE(r.readBit(bit));
  EXPECT_EQ(bit, 1u);

  Bytes shortStream = stream;
  shortStream.resize(stream.size() - 3);  // the buffer's bytes are cut off
  Pa30BitReader sr = openOrFail(shortStream);
  EXPECT_FALSE(pa30ReadBuffer(sr, buffer));

  Pa30BitWriter negative;
  negative.writeBits(0, 3);
  negative.writeNumber(uint64_t(-5));
  Bytes negativeStream = negative.finishStream();
  Pa30BitReader nr = openOrFail(negativeStream);
  EXPECT_FALSE(pa30ReadBuffer(nr, buffer));
}

std::string codeString(uint16_t reversed, unsigned length) {
  std::string out;
  for (unsigned i = 0; i < length; ++i) out += ((reversed >> i) & 1) ? '1' : '0';
  return out;
}

TEST(Pa30Huffman, CanonicalCodesOfTheGenuinePreTree) {
  // The pre-tree of the genuine vector and the codes its decoder assigns.
  const uint8_t lengths[kPa30PreTreeSymbols] = {0, 0, 0, 8, 6, 7, 6, 5, 4, 2, 3, 4, 5, 6, 5, 0, 0, 0, 0, 0,
                                                0, 0, 0, 3, 4, 6, 5, 7, 0, 0, 0, 4, 6, 7, 7, 7, 9, 0, 9};
  uint16_t codes[kPa30PreTreeSymbols];
  pa30BuildCodes(lengths, kPa30PreTreeSymbols, codes);
  const std::pair<unsigned, const char*> expected[] = {
      {9, "11"},       {10, "100"},     {23, "101"},      {8, "0100"},      {11, "0101"},      {24, "0110"},
      {31, "0111"},    {7, "00100"},    {12, "00101"},    {14, "00110"},    {26, "00111"},     {4, "000011"},
      {6, "000100"},   {13, "000101"},  {25, "000110"},   {32, "000111"},   {5, "0000001"},    {27, "0000010"},
      {33, "0000011"}, {34, "0000100"}, {35, "0000101"},  {3, "00000001"},  {36, "000000000"}, {38, "000000001"},
  };
  for (const auto& [symbol, bits] : expected) {
    EXPECT_EQ(codeString(codes[symbol], lengths[symbol]), bits) << symbol;
  }

  // The decoder reads every code back, short and long alike.
  Pa30HuffmanDecoder decoder;
  ASSERT_TRUE(decoder.build(lengths, kPa30PreTreeSymbols, kPa30PreTreeMaxLength));
  Pa30BitWriter w;
  w.writeBits(0, 3);
  for (const auto& [symbol, bits] : expected) w.writeBits(codes[symbol], lengths[symbol]);
  Bytes stream = w.finishStream();
  Pa30BitReader r = openOrFail(stream);
  for (const auto& [symbol, bits] : expected) {
    unsigned got = 0;
    ASSERT_TRUE(decoder.decode(r, got));
    EXPECT_EQ(got, symbol);
  }
  unsigned got = 0;
  EXPECT_FALSE(decoder.decode(r, got));
}

TEST(Pa30Huffman, OnlyCompleteCodesAreAccepted) {
  Pa30HuffmanDecoder d;
  const uint8_t complete[] = {1, 2, 3, 3};
  const uint8_t incomplete[] = {1, 2, 3, 0};
  const uint8_t overfull[] = {1, 2, 2, 2};
  const uint8_t single[] = {0, 1, 0, 0};
  const uint8_t tooLong[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 17};
  const uint8_t none[] = {0, 0, 0, 0};
  EXPECT_TRUE(d.build(complete, 4, 16));
  EXPECT_FALSE(d.build(incomplete, 4, 16));
  EXPECT_FALSE(d.build(overfull, 4, 16));
  EXPECT_FALSE(d.build(single, 4, 16));
  EXPECT_FALSE(d.build(tooLong, 18, 16));
  ASSERT_TRUE(d.build(none, 4, 16));
  EXPECT_TRUE(d.empty);
  Bytes stream = {0xF8, 0xFF};
  Pa30BitReader r = openOrFail(stream);
  unsigned symbol = 0;
  EXPECT_FALSE(d.decode(r, symbol));  // nothing can be read from an empty tree
}

TEST(Pa30Huffman, BuiltLengthsAreOptimalWithinTheLimit) {
  uint8_t lengths[8];
  const uint64_t dyadic[] = {16, 8, 4, 2, 1, 1};
  pa30BuildCodeLengths(dyadic, 6, 16, lengths);
  const uint8_t optimal[] = {1, 2, 3, 4, 5, 5};
  EXPECT_TRUE(std::equal(optimal, optimal + 6, lengths));

  // Fibonacci weights want a code as deep as the alphabet; the limit binds.
  std::vector<uint64_t> fib = {1, 1};
  while (fib.size() < 40) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint8_t> fibLengths(fib.size());
  for (unsigned limit : {15u, 16u}) {
    pa30BuildCodeLengths(fib.data(), fib.size(), limit, fibLengths.data());
    bool empty = true;
    EXPECT_TRUE(pa30CheckCodeLengths(fibLengths.data(), fib.size(), limit, empty));
    EXPECT_EQ(*std::max_element(fibLengths.begin(), fibLengths.end()), limit);
  }

  // Fewer than two used symbols still give a valid two-symbol code.
  const uint64_t lonely[] = {0, 0, 5, 0};
  pa30BuildCodeLengths(lonely, 4, 16, lengths);
  EXPECT_EQ(lengths[2], 1);
  EXPECT_EQ(std::count(lengths, lengths + 4, 1), 2);
  const uint64_t nothing[] = {0, 0, 0};
  pa30BuildCodeLengths(nothing, 3, 16, lengths);
  EXPECT_EQ(std::count(lengths, lengths + 3, 1), 2);
}

TEST(Pa30Huffman, RandomCodesRoundTripThroughTableAndLongPath) {
  std::mt19937 rng(3);
  std::vector<uint64_t> freqs(kPa30MainSymbols);
  for (size_t i = 0; i < freqs.size(); ++i) freqs[i] = (rng() % 3 == 0) ? 0 : 1 + (uint64_t(1) << (rng() % 24));
  std::vector<uint8_t> lengths(freqs.size());
  pa30BuildCodeLengths(freqs.data(), freqs.size(), 16, lengths.data());
  ASSERT_GT(*std::max_element(lengths.begin(), lengths.end()), Pa30HuffmanDecoder::kTableBits);
  std::vector<uint16_t> codes(freqs.size());
  pa30BuildCodes(lengths.data(), lengths.size(), codes.data());

  std::vector<unsigned> used;
  for (unsigned i = 0; i < lengths.size(); ++i) {
    if (lengths[i] != 0) used.push_back(i);
  }
  std::vector<unsigned> message;
  for (int i = 0; i < 5000; ++i) message.push_back(used[rng() % used.size()]);
  Pa30BitWriter w;
  w.writeBits(0, 3);
  for (unsigned s : message) w.writeBits(codes[s], lengths[s]);
  Bytes stream = w.finishStream();
  Pa30HuffmanDecoder d;
  ASSERT_TRUE(d.build(lengths.data(), lengths.size(), 16));
  Pa30BitReader r = openOrFail(stream);
  for (unsigned expected : message) {
    unsigned got = 0;
    ASSERT_TRUE(d.decode(r, got));
    ASSERT_EQ(got, expected);
  }
  EXPECT_EQ(r.bitsLeft(), 0u);
}

// Lengths for one block with every tree complete and differing per seed.
std::vector<uint8_t> randomBlockLengths(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> lengths(kPa30BlockLengths);
  const unsigned sizes[] = {kPa30MainSymbols, kPa30LengthSymbols, kPa30AlignedSymbols};
  size_t at = 0;
  for (unsigned size : sizes) {
    std::vector<uint64_t> freqs(size);
    for (auto& f : freqs) f = (rng() % 4 == 0) ? 0 : rng() % 1000;
    pa30BuildCodeLengths(freqs.data(), size, 16, &lengths[at]);
    at += size;
  }
  return lengths;
}

TEST(Pa30Params, BlocksRoundTripAndSwitchAtTheirStarts) {
  std::vector<uint64_t> starts = {1000, 1000, 5000, 5000, 5000, 90000};
  std::vector<uint8_t> all;
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t j = 0; j < starts.size(); ++j) {
    // Some blocks repeat the previous one exactly (pure copy runs).
    blocks.push_back(j == 4 ? blocks[3] : randomBlockLengths(uint32_t(j)));
    all.insert(all.end(), blocks.back().begin(), blocks.back().end());
  }
  Pa30BitWriter w;
  w.writeBits(0, 3);
  pa30WriteParams(w, starts, all);
  w.writeBits(0x2A, 6);  // stands in for the instruction stream
  Bytes stream = w.finishStream();

  Pa30BitReader r = openOrFail(stream);
  Pa30ParamReader params;
  ASSERT_TRUE(params.open(r));
  uint64_t marker = 0;
  ASSERT_TRUE(r.readBits(6, marker));
  EXPECT_EQ(marker, 0x2Au);
  EXPECT_FALSE(params.isDefault);
  EXPECT_EQ(params.blockCount, starts.size());
  EXPECT_TRUE(std::equal(blocks[0].begin(), blocks[0].end(), params.lengths));

  bool changed = false;
  ASSERT_TRUE(params.advance(999, changed));
  EXPECT_FALSE(changed);
  ASSERT_TRUE(params.advance(1000, changed));  // of equal starts the last wins
  EXPECT_TRUE(changed);
  EXPECT_EQ(params.current, 1u);
  ASSERT_TRUE(params.advance(6000, changed));
  EXPECT_EQ(params.current, 4u);
  EXPECT_TRUE(std::equal(blocks[4].begin(), blocks[4].end(), params.lengths));
  ASSERT_TRUE(params.advance(1u << 30, changed));
  EXPECT_EQ(params.current, 5u);
  EXPECT_TRUE(std::equal(blocks[5].begin(), blocks[5].end(), params.lengths));
  Pa30BlockCodes codes;
  EXPECT_TRUE(params.buildCodes(codes));
}

TEST(Pa30Params, DefaultTablesFollowTheAlphabetSizes) {
  Bytes stream = {0x13};  // rift bit 0, isDefault 1
  Pa30BitReader r = openOrFail(stream);
  Pa30RiftMap rift;
  ASSERT_TRUE(pa30ReadRiftTable(r, 0, 0, rift));
  Pa30ParamReader params;
  ASSERT_TRUE(params.open(r));
  EXPECT_TRUE(params.isDefault);
  for (unsigned i = 0; i < kPa30BlockLengths; ++i) {
    unsigned expected = i < 424 ? 9 : i < 600 ? 10 : i < 856 ? 8 : 4;
    ASSERT_EQ(params.lengths[i], expected) << i;
  }
}

// Writes one explicit block with a pre-tree that gives 5-bit codes to the
// symbols 0-15 and 23-38, so tests can spell out length codings by hand.
struct HandBlock {
  uint8_t preLengths[kPa30PreTreeSymbols] = {};
  uint16_t preCodes[kPa30PreTreeSymbols] = {};
  Pa30BitWriter w;

  HandBlock() {
    for (unsigned s = 0; s < kPa30PreTreeSymbols; ++s) preLengths[s] = (s <= 15 || (s >= 23 && s <= 38)) ? 5 : 0;
    pa30BuildCodes(preLengths, kPa30PreTreeSymbols, preCodes);
    w.writeBits(0, 3);
    w.writeBits(0, 1);  // explicit
    w.writeNumber(1);   // one block
    w.writeNumber(0);   // starting at 0
    for (uint8_t l : preLengths) w.writeBits(l, 4);
  }
  void symbol(unsigned s) { w.writeBits(preCodes[s], preLengths[s]); }
  void fill(unsigned run) { runOf(23, run); }
  void run(unsigned base, unsigned count) { runOf(base, count); }
  void runOf(unsigned base, unsigned count) {
    if (count <= 3) {
      symbol(base + count - 1);
      return;
    }
    unsigned c = unsigned(std::bit_width(count));
    symbol(base + c);
    w.writeBits(count - (1u << (c - 1)), c - 1);
  }
  // Plain value, then fill runs up to count copies in all.
  void repeat(unsigned value, unsigned count) {
    symbol(value);
    for (unsigned left = count - 1; left > 0;) {
      unsigned r = std::min(left, kPa30LongestRun);
      fill(r);
      left -= r;
    }
  }
  bool open(uint8_t* lengthsOut = nullptr) {
    Bytes stream = w.finishStream();
    Pa30BitReader r;
    Pa30ParamReader params;
    if (!pa30OpenStream(stream, r) || !params.open(r)) return false;
    if (lengthsOut) std::copy(params.lengths, params.lengths + kPa30BlockLengths, lengthsOut);
    return true;
  }
};

// Main tree: 512 codes of 9 bits, then zeros by a copy run of the (zero)
// previous lengths; length tree: 256 codes of 8 bits; aligned tree: 16 codes
// of 4 bits, of which the run covers alignedRun after the first.
void writeBlockBody(HandBlock& b, unsigned alignedRun) {
  b.repeat(9, 512);
  b.run(31, 88);
  b.repeat(8, 256);
  b.repeat(4, 1 + alignedRun);
}

TEST(Pa30Params, LengthCodingRulesAreEnforced) {
  {
    HandBlock b;
    writeBlockBody(b, 14);
    b.symbol(4);  // index 871 by itself
    uint8_t lengths[kPa30BlockLengths];
    ASSERT_TRUE(b.open(lengths));
    EXPECT_EQ(lengths[0], 9);
    EXPECT_EQ(lengths[511], 9);
    EXPECT_EQ(lengths[512], 0);
    EXPECT_EQ(lengths[600], 8);
    EXPECT_EQ(lengths[871], 4);
  }
  {
    HandBlock b;  // the last run would produce index 871
    writeBlockBody(b, 15);
    EXPECT_FALSE(b.open());
  }
  {
    HandBlock b;  // a fill run has nothing to repeat at index 0
    b.fill(2);
    EXPECT_FALSE(b.open());
  }
  {
    HandBlock b;  // complete-looking prefix, but the main tree is short of codes
    b.repeat(9, 511);
    b.run(31, 89);
    b.repeat(8, 256);
    b.repeat(4, 15);
    b.symbol(4);
    EXPECT_FALSE(b.open());
  }
  {
    // The parameter area itself ends early.
    HandBlock b;
    b.repeat(9, 512);
    EXPECT_FALSE(b.open());
  }
}

// Integer coding of a rift table with every symbol's length fixed by the
// default fill: 248 codes of 8 bits and 4 of 7.
struct IntCoder {
  uint8_t lengths[kPa30IntFormatSymbols];
  uint16_t codes[kPa30IntFormatSymbols];
  IntCoder() {
    for (unsigned s = 0; s < kPa30IntFormatSymbols; ++s) lengths[s] = s < 248 ? 8 : 7;
    pa30BuildCodes(lengths, kPa30IntFormatSymbols, codes);
  }
  void writeFormat(Pa30BitWriter& w) const {
    w.writeBits(0, 8);
    w.writeBits(0, 8);
    w.writeBits(248, 8);
    w.writeBits(8 - 1, 4);
  }
  void write(Pa30BitWriter& w, int64_t value) const {
    uint64_t magnitude = value >= 0 ? uint64_t(value) : uint64_t(-(value + 1));
    unsigned m = unsigned(magnitude);
    unsigned extraBits = 0;
    uint64_t extra = 0;
    if (magnitude > 3) {
      extraBits = unsigned(std::bit_width(magnitude)) - 2;
      uint64_t top = magnitude >> extraBits;
      m = 2 * (extraBits + 1) + unsigned(top - 2);
      extra = magnitude - (top << extraBits);
    }
    unsigned symbol = value >= 0 ? m : 126 + m;
    w.writeBits(codes[symbol], lengths[symbol]);
    w.writeBits(extra, extraBits);
  }
};

TEST(Pa30RiftMap, SameOffsetCopiesFollowEverySegment) {
  std::mt19937 rng(5);
  Bytes source(1000);
  for (auto& b : source) b = uint8_t(rng());
  const uint64_t s = source.size();

  Pa30BitWriter w;
  w.writeBits(0, 3);
  w.writeBits(1, 1);  // base rift table present
  IntCoder ints;
  ints.writeFormat(w);
  ints.writeFormat(w);
  // From output offset 100 on, output byte t corresponds to source t + 200.
  // A second entry at a key below the output start can never apply.
  w.writeNumber(2);
  ints.write(w, int64_t(s) + 100);
  ints.write(w, 200 - int64_t(s));
  ints.write(w, -500);
  ints.write(w, 777);
  w.writeBits(1, 1);  // default code tables

  uint8_t mainLengths[kPa30MainSymbols], lengthLengths[kPa30LengthSymbols];
  for (unsigned i = 0; i < kPa30MainSymbols; ++i) mainLengths[i] = i < 424 ? 9 : 10;
  std::fill(std::begin(lengthLengths), std::end(lengthLengths), 8);
  uint16_t mainCodes[kPa30MainSymbols], lengthCodes[kPa30LengthSymbols];
  pa30BuildCodes(mainLengths, kPa30MainSymbols, mainCodes);
  pa30BuildCodes(lengthLengths, kPa30LengthSymbols, lengthCodes);
  auto match = [&](unsigned slot, unsigned length) {
    unsigned symbol = 256 + slot * 8;
    w.writeBits(mainCodes[symbol], mainLengths[symbol]);
    return length;
  };
  // Slot 3, 200 bytes: crosses the key at output offset 100.
  match(3, 200);
  w.writeBits(lengthCodes[200 - 8], 8);
  // Slot 0 with d = 5 at output offset 200, inside the second segment.
  match(0, 100);
  w.writeBits(0x2000 + 5, 14);
  w.writeBits(lengthCodes[100 - 8], 8);
  Bytes patch = w.finishStream();

  Pa30Header header;
  header.fileTypeSet = 1;
  header.fileType = 1;
  header.targetSize = 300;
  header.patch = patch;
  Bytes delta;
  pa30WriteHeader(header, delta);

  Bytes expected(source.begin(), source.begin() + 100);
  expected.insert(expected.end(), source.begin() + 300, source.begin() + 400);
  expected.insert(expected.end(), source.begin() + 395, source.begin() + 495);
  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, 300, out));
  EXPECT_TRUE(out == expected);
}

}  // namespace
}  // namespace velmo
