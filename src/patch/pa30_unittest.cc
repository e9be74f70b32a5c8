// PA30 apply and create, through the public interface (plus the header
// reader/writer to build deltas that are wrong in one precise way).
#include "patch/pa30.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "patch/pa30_bits.h"
#include "patch/pa30_e8.h"
#include "patch/pa30_format.h"
#include "patch/pa30_hash.h"
#include "patch/pa30_header.h"
#include "patch/pa30_params.h"
#include "support/test_util.h"
#include "velmo-pack/pa30_create.h"

namespace velmo {
namespace {

Bytes readVector(const std::string& name) { return test::readVector("pa30/raw-cmd-to-where/" + name); }

Bytes randomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// Line-structured text with a small vocabulary, so it compresses like text.
Bytes textBytes(size_t size, uint32_t seed) {
  static const char* kWords[] = {"snow", "field", "hill", "lantern", "the", "of", "gate", "winter",
                                 "road", "cold", "light", "stone", "and", "a", "river", "night"};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < size) {
    text += kWords[rng() % 16];
    text += (rng() % 9 == 0) ? "\n" : " ";
  }
  return Bytes(text.begin(), text.begin() + long(size));
}

// Small scattered changes: overwrites, insertions and deletions.
Bytes scatterEdits(const Bytes& in, size_t edits, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<size_t> places(edits);
  for (auto& at : places) at = in.empty() ? 0 : rng() % in.size();
  std::sort(places.begin(), places.end());
  Bytes out;
  out.reserve(in.size() + edits * 8);
  size_t pos = 0;
  for (size_t at : places) {
    if (at < pos) continue;  // inside the previous edit
    out.insert(out.end(), in.begin() + long(pos), in.begin() + long(at));
    pos = at;
    size_t len = 1 + rng() % 8;
    switch (rng() % 3) {
      case 0:
        for (size_t k = 0; k < len && pos < in.size(); ++k, ++pos) out.push_back(uint8_t(rng()));
        break;
      case 1:
        for (size_t k = 0; k < len; ++k) out.push_back(uint8_t(rng()));
        break;
      default:
        pos = std::min(in.size(), pos + len);
    }
  }
  out.insert(out.end(), in.begin() + long(pos), in.end());
  return out;
}

Bytes create(const Bytes& source, const Bytes& target, Pa30CreateOptions options = {}) {
  Bytes delta;
  EXPECT_TRUE(pa30Create(source, target, options, delta));
  return delta;
}

void expectRoundTrip(const Bytes& source, const Bytes& target, Pa30CreateOptions options = {}) {
  Bytes delta = create(source, target, options);
  ASSERT_FALSE(delta.empty());
  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, target.size(), out));
  EXPECT_TRUE(out == target);
}

// Rewrites a delta's header fields, keeping its streams.
Bytes rewriteHeader(const Bytes& delta, const std::function<void(Pa30Header&)>& edit) {
  Pa30Header header;
  EXPECT_TRUE(pa30ReadHeader(delta, header));
  edit(header);
  Bytes out;
  pa30WriteHeader(header, out);
  return out;
}

uint32_t blockCountOf(const Bytes& delta) {
  Pa30Header header;
  if (!pa30ReadHeader(delta, header)) return 0;
  Pa30BitReader reader;
  Pa30RiftMap rift;
  Pa30ParamReader params;
  if (!pa30OpenStream(header.patch, reader) || !pa30ReadRiftTable(reader, 0, 0, rift) || !params.open(reader)) {
    return 0;
  }
  return params.blockCount;
}

TEST(Pa30GenuineVector, AppliesByteForByte) {
  Bytes source = readVector("source.bin");
  Bytes delta = readVector("delta.pa30");
  Bytes expected = readVector("target.bin");
  ASSERT_EQ(source.size(), 339968u);
  ASSERT_EQ(delta.size(), 18048u);
  ASSERT_EQ(expected.size(), 65536u);

  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, expected.size(), out));
  EXPECT_TRUE(out == expected);

  // The claimed size is checked against the caller's limit.
  EXPECT_FALSE(pa30Apply(source, delta, expected.size() - 1, out));
  EXPECT_TRUE(out.empty());

  // Nothing may follow the patch buffer.
  Bytes longer = delta;
  longer.push_back(0);
  EXPECT_FALSE(pa30Apply(source, longer, expected.size(), out));

  // Its stream is parsed the way the format describes: one explicit block.
  EXPECT_EQ(blockCountOf(delta), 1u);
}

TEST(Pa30GenuineVector, MutatedCopiesNeverCrash) {
  Bytes source = readVector("source.bin");
  Bytes delta = readVector("delta.pa30");
  ASSERT_FALSE(delta.empty());
  Pa30Header header;
  ASSERT_TRUE(pa30ReadHeader(delta, header));
  size_t patchOffset = size_t(header.patch.data() - delta.data());
  std::mt19937 rng(7);
  Bytes out;
  // Flips in the parameter area and the instruction stream reach deep into
  // the decoder, since the header stays intact.
  for (int i = 0; i < 300; ++i) {
    Bytes flipped = delta;
    size_t bit = (i < 150 ? rng() % (300 * 8) : rng() % (header.patch.size() * 8));
    flipped[patchOffset + bit / 8] ^= uint8_t(1u << (bit % 8));
    if (pa30Apply(source, flipped, 65536, out)) {
      EXPECT_EQ(out.size(), 65536u);
    } else {
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST(Pa30RoundTrip, EdgeShapes) {
  Bytes text = textBytes(20000, 1);
  expectRoundTrip({}, {});
  expectRoundTrip(text, {});
  expectRoundTrip({}, text);
  expectRoundTrip(text, text);
  expectRoundTrip({1}, {1});
  expectRoundTrip({1, 2, 3}, {3});
  expectRoundTrip(Bytes(5000, 0), Bytes(70000, 0));  // long overlapping runs

  // An empty target is the shortest patch stream there is.
  Bytes delta = create(text, {});
  Pa30Header header;
  ASSERT_TRUE(pa30ReadHeader(delta, header));
  ASSERT_EQ(header.patch.size(), 1u);
  EXPECT_EQ(header.patch[0], 0x13);

  // Identical inputs cost next to nothing.
  EXPECT_LT(create(text, text).size(), 100u);
}

TEST(Pa30RoundTrip, TextAndBinaryEdits) {
  Bytes text = textBytes(200000, 2);
  Bytes edited = scatterEdits(text, 200, 3);
  expectRoundTrip(text, edited);
  expectRoundTrip(edited, text);

  // Random data with blocks moved around and a stretch repeated from
  // earlier output.
  Bytes random = randomBytes(300000, 4);
  Bytes moved;
  moved.insert(moved.end(), random.begin() + 200000, random.end());
  moved.insert(moved.end(), random.begin() + 50000, random.begin() + 200000);
  moved.insert(moved.end(), random.begin(), random.begin() + 50000);
  moved.insert(moved.end(), moved.begin() + 1000, moved.begin() + 9000);
  Bytes movedDelta = create(random, moved);
  EXPECT_LT(movedDelta.size(), moved.size() / 100);
  Bytes out;
  ASSERT_TRUE(pa30Apply(random, movedDelta, moved.size(), out));
  EXPECT_TRUE(out == moved);

  // Unrelated random data cannot shrink, but must still round-trip.
  expectRoundTrip(randomBytes(50000, 5), randomBytes(60000, 6));
}

TEST(Pa30RoundTrip, ScatteredEditsCompressWell) {
  Bytes base = randomBytes(1 << 20, 8);
  // Half structured, half random, like typical asset data.
  Bytes text = textBytes(base.size() / 2, 9);
  std::copy(text.begin(), text.end(), base.begin());
  Bytes edited = scatterEdits(base, 300, 10);
  Bytes delta = create(base, edited);
  EXPECT_LT(delta.size(), edited.size() / 20);
  Bytes out;
  ASSERT_TRUE(pa30Apply(base, delta, edited.size(), out));
  EXPECT_TRUE(out == edited);
}

TEST(Pa30RoundTrip, HashAndBlocks) {
  Bytes source = textBytes(150000, 11);
  Bytes target = scatterEdits(source, 100, 12);
  Pa30CreateOptions options;
  options.hash = Pa30HashAlgorithm::Md5;
  options.blockSize = 16 * 1024;
  Bytes delta = create(source, target, options);
  EXPECT_GT(blockCountOf(delta), 5u);

  Pa30Header header;
  ASSERT_TRUE(pa30ReadHeader(delta, header));
  EXPECT_EQ(header.hashAlgId, kPa30HashMd5);
  Bytes md5;
  ASSERT_TRUE(pa30ComputeHash(kPa30HashMd5, target, md5));
  EXPECT_TRUE(Bytes(header.hash.begin(), header.hash.end()) == md5);

  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, target.size(), out));
  EXPECT_TRUE(out == target);

  // Every byte of the stored digest is checked.
  size_t hashOffset = size_t(header.hash.data() - delta.data());
  for (size_t i = 0; i < header.hash.size(); ++i) {
    Bytes flipped = delta;
    flipped[hashOffset + i] ^= 0x01;
    EXPECT_FALSE(pa30Apply(source, flipped, target.size(), out));
    EXPECT_TRUE(out.empty());
  }
  // The digest also catches a wrong source that decoding alone would not.
  Bytes wrongSource = source;
  wrongSource[source.size() / 2] ^= 0xFF;
  EXPECT_FALSE(pa30Apply(wrongSource, delta, target.size(), out));

  // Large inputs get several blocks with the default block size.
  Bytes big = randomBytes(3 << 20, 13);
  Bytes bigDelta = create(big, scatterEdits(big, 50, 14));
  EXPECT_GE(blockCountOf(bigDelta), 3u);
}

TEST(Pa30RoundTrip, SegmentSizedInputs) {
  // A 24 MiB segment with about 1% of it changed.
  Bytes source = randomBytes(24 << 20, 15);
  Bytes text = textBytes(8 << 20, 16);
  std::copy(text.begin(), text.end(), source.begin() + (4 << 20));
  Bytes target = scatterEdits(source, 50000, 17);

  auto start = std::chrono::steady_clock::now();
  Bytes delta = create(source, target);
  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, target.size(), out));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(out == target);
  EXPECT_LT(delta.size(), target.size() / 20);
  EXPECT_GE(blockCountOf(delta), 40u);
  EXPECT_LT(seconds, 20.0);  // generous: only catches a parse gone quadratic
}

TEST(Pa30Refusal, WrongKindsOfDelta) {
  Bytes source = textBytes(30000, 18);
  Bytes target = scatterEdits(source, 20, 19);
  Bytes delta = create(source, target);
  Bytes out = {1, 2, 3};
  ASSERT_TRUE(pa30Apply(source, delta, target.size(), out));

  for (const char* signature : {"PA19", "PA31", "PA3\x01", "pa30"}) {
    Bytes other = delta;
    std::memcpy(other.data(), signature, 4);
    EXPECT_FALSE(pa30Apply(source, other, target.size(), out)) << signature;
    EXPECT_TRUE(out.empty());
  }
  EXPECT_FALSE(pa30Apply(source, Bytes(delta.begin(), delta.begin() + 12), target.size(), out));

  auto refused = [&](const std::function<void(Pa30Header&)>& edit) {
    return !pa30Apply(source, rewriteHeader(delta, edit), target.size(), out) && out.empty();
  };
  // The rewriting itself keeps a delta valid.
  EXPECT_TRUE(pa30Apply(source, rewriteHeader(delta, [](Pa30Header&) {}), target.size(), out));
  EXPECT_TRUE(refused([](Pa30Header& h) { h.fileType = 0x2; }));      // I386
  EXPECT_TRUE(refused([](Pa30Header& h) { h.fileType = 0x3; }));
  EXPECT_TRUE(refused([](Pa30Header& h) { h.fileTypeSet = 0x101; }));  // reverse delta
  EXPECT_TRUE(refused([](Pa30Header& h) { h.fileTypeSet = 0x2; }));
  EXPECT_TRUE(refused([](Pa30Header& h) { h.targetSize = -1; }));
  EXPECT_TRUE(refused([](Pa30Header& h) { h.targetSize += 1; }));  // the stream ends first
  static const uint8_t kPreprocess[1] = {0};
  EXPECT_TRUE(refused([](Pa30Header& h) { h.preprocess = ByteView(kPreprocess, 1); }));
  EXPECT_TRUE(refused([](Pa30Header& h) { h.patch = ByteView(); }));
  static const uint8_t kHash[16] = {};
  EXPECT_TRUE(refused([](Pa30Header& h) { h.hash = ByteView(kHash, 16); }));  // hash with algorithm 0
  EXPECT_TRUE(refused([](Pa30Header& h) {
    h.hashAlgId = kPa30HashMd5;
    h.hash = ByteView(kHash, 15);
  }));
  EXPECT_TRUE(refused([](Pa30Header& h) {
    h.hashAlgId = kPa30HashCrc32;
    h.hash = ByteView(kHash, 4);
  }));
  // Flags other than the post-filter change nothing for RAW data.
  EXPECT_TRUE(pa30Apply(source, rewriteHeader(delta, [](Pa30Header& h) { h.flags = 0x20100; }), target.size(), out));
  EXPECT_TRUE(out == target);
}

TEST(Pa30Robustness, TruncationsAndBitFlipsFailCleanly) {
  Bytes source = textBytes(3000, 20);
  Bytes target = scatterEdits(source, 10, 21);
  target.insert(target.end(), target.begin() + 100, target.begin() + 600);
  Pa30CreateOptions options;
  options.hash = Pa30HashAlgorithm::Md5;
  Bytes delta = create(source, target, options);
  ASSERT_LT(delta.size(), 1200u);
  Bytes out;

  for (size_t length = 0; length < delta.size(); ++length) {
    EXPECT_FALSE(pa30Apply(source, Bytes(delta.begin(), delta.begin() + long(length)), 1 << 20, out)) << length;
  }
  // Truncating the patch stream inside an intact container reaches every
  // read of the decoder.
  Pa30Header header;
  ASSERT_TRUE(pa30ReadHeader(delta, header));
  Bytes patch(header.patch.begin(), header.patch.end());
  for (size_t length = 0; length < patch.size(); ++length) {
    Bytes cut(patch.begin(), patch.begin() + long(length));
    Bytes wrapped = rewriteHeader(delta, [&](Pa30Header& h) { h.patch = cut; });
    EXPECT_FALSE(pa30Apply(source, wrapped, 1 << 20, out)) << length;
  }
  // Without the hash, flipped bits may still decode, but only to the
  // claimed size.
  Bytes plain = create(source, target);
  for (size_t bit = 0; bit < plain.size() * 8; ++bit) {
    Bytes flipped = plain;
    flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
    if (pa30Apply(source, flipped, 1 << 20, out)) {
      EXPECT_LE(out.size(), size_t(1) << 20);
    } else {
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST(Pa30Robustness, HostileSizesAreBounded) {
  // A tiny delta claiming 2^62 bytes must be refused before allocating.
  Bytes delta = create({}, {});
  Bytes huge = rewriteHeader(delta, [](Pa30Header& h) { h.targetSize = int64_t(1) << 62; });
  Bytes out;
  EXPECT_FALSE(pa30Apply({}, huge, UINT64_MAX, out));
  EXPECT_FALSE(pa30Apply({}, huge, 1 << 20, out));
}

// A stand-in for a 32-bit x86 PE image with CALL instructions throughout.
Bytes i386Image(size_t size, uint32_t seed) {
  Bytes image = randomBytes(size, seed);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x80;
  image[0x3D] = image[0x3E] = image[0x3F] = 0;
  const uint8_t pe[] = {'P', 'E', 0, 0, 0x4C, 0x01};
  std::copy(std::begin(pe), std::end(pe), image.begin() + 0x80);
  image[0x80 + 24] = 0x0B;
  image[0x80 + 25] = 0x01;
  for (size_t i = 0x100; i + 5 < size; i += 37) {
    image[i] = 0xE8;
    image[i + 3] = image[i + 4] = 0;  // small displacements, inside the image
  }
  return image;
}

TEST(Pa30E8Filter, DecodesOnlyWhenTheHashSettlesIt) {
  Bytes target = i386Image(40000, 22);
  Bytes source = scatterEdits(target, 30, 23);
  Pa30CreateOptions options;
  options.e8Filter = true;
  Bytes delta;
  EXPECT_FALSE(pa30Create(source, target, options, delta));  // no hash: could never be applied

  options.hash = Pa30HashAlgorithm::Md5;
  delta = create(source, target, options);
  Pa30Header header;
  ASSERT_TRUE(pa30ReadHeader(delta, header));
  EXPECT_EQ(header.flags & kPa30FlagE8, kPa30FlagE8);
  Bytes out;
  ASSERT_TRUE(pa30Apply(source, delta, target.size(), out));
  EXPECT_TRUE(out == target);

  // Data stored with the longer scan limit (an E8 byte in the last ten
  // bytes tells the limits apart) is found by the second try.
  Bytes tail = target;
  std::fill(tail.end() - 12, tail.end(), 0);
  size_t at = tail.size() - 8;
  tail[at] = 0xE8;
  tail[at + 1] = 0x10;
  tail[at + 2] = tail[at + 3] = tail[at + 4] = 0;
  Bytes stored = tail;
  pa30E8Encode(stored.data(), stored.size(), pa30E8LongLimit(stored.size()));
  Bytes shortStored = tail;
  pa30E8Encode(shortStored.data(), shortStored.size(), pa30E8ShortLimit(shortStored.size()));
  ASSERT_FALSE(stored == shortStored);
  Bytes tailMd5;
  ASSERT_TRUE(pa30ComputeHash(kPa30HashMd5, tail, tailMd5));
  Bytes longDelta = rewriteHeader(create(source, stored), [&](Pa30Header& h) {
    h.flags |= kPa30FlagE8;
    h.hashAlgId = kPa30HashMd5;
    h.hash = tailMd5;
  });
  ASSERT_TRUE(pa30Apply(source, longDelta, tail.size(), out));
  EXPECT_TRUE(out == tail);
  // Without a hash the same delta is refused rather than guessed.
  Bytes unsure = rewriteHeader(create(source, stored), [](Pa30Header& h) { h.flags |= kPa30FlagE8; });
  EXPECT_FALSE(pa30Apply(source, unsure, tail.size(), out));

  // On data that is not an x86 image the flag changes nothing.
  Bytes text = textBytes(5000, 24);
  text[100] = 0xE8;
  Bytes flagged = rewriteHeader(create({}, text), [](Pa30Header& h) { h.flags |= kPa30FlagE8; });
  ASSERT_TRUE(pa30Apply({}, flagged, text.size(), out));
  EXPECT_TRUE(out == text);
}

}  // namespace
}  // namespace velmo
