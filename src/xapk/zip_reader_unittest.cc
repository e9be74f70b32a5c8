#include "xapk/zip_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/utf8.h"
#include "support/zip_builder.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

Bytes textBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Deterministic bytes that deflate barely shrinks.
Bytes noise(size_t n, uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = uint8_t(seed >> 24);
  }
  return out;
}

// Text-like bytes that deflate shrinks well.
Bytes prose(size_t n) {
  static const std::string_view words = "snow falls on the harbour while the lamps burn low ";
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(words[(i * 7 + i / 97) % words.size()]);
  return out;
}

Bytes readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void writeWholeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint32_t crcOf(const Bytes& b) { return crc32Update(0, b.data(), b.size()); }

// Collects streamed chunks and checks they arrive in order.
struct Collector {
  Bytes data;
  size_t calls = 0;
  size_t largestChunk = 0;
  bool inOrder = true;
  size_t rejectAtCall = SIZE_MAX;  // this call consumes one byte less
};

size_t collect(void* opaque, uint64_t offset, const void* data, size_t size) {
  auto* c = static_cast<Collector*>(opaque);
  if (offset != c->data.size()) c->inOrder = false;
  c->largestChunk = std::max(c->largestChunk, size);
  if (c->calls++ == c->rejectAtCall) return size - 1;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  c->data.insert(c->data.end(), p, p + size);
  return size;
}

class ZipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velmo-zip-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::wstring wpath(const std::string& name) const { return fromUtf8(path(name)); }

  // Writes raw entries and opens them; fails the test when either step fails.
  void openRaw(ZipReader& reader, const std::vector<RawZipEntry>& entries, bool zip64) {
    ASSERT_TRUE(writeRawZip(path("raw.zip"), entries, zip64));
    ASSERT_TRUE(reader.open(wpath("raw.zip")));
  }

  fs::path dir_;
};

// ---- Stored and deflated entries -------------------------------------------

TEST_F(ZipReaderTest, StoredAndDeflatedEntriesReadBackExactly) {
  const std::vector<ZipBuilderEntry> entries = {
      {"assets/readme.txt", textBytes("plain stored text"), true},
      {"assets/bin/Data/big.bin", noise(2 * kZipChunkSize + 12345, 7), true},  // several chunks
      {"assets/prose.txt", prose(300000), false},
      {"assets/deflated-noise.bin", noise(kZipChunkSize + 1, 9), false},
      {"empty.dat", {}, true},
      {"empty-deflated.dat", {}, false},
  };
  ASSERT_TRUE(writeZip(path("a.zip"), entries));

  ZipReader fromFile, fromMemory;
  ASSERT_TRUE(fromFile.open(wpath("a.zip")));
  ASSERT_TRUE(fromMemory.openMemory(readWholeFile(path("a.zip"))));
  for (ZipReader* reader : {&fromFile, &fromMemory}) {
    ASSERT_TRUE(reader->isOpen);
    ASSERT_EQ(reader->entryCount(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(entries[i].name);
      const Bytes& want = entries[i].bytes;
      ZipEntryStat st;
      ASSERT_TRUE(reader->stat(i, st));
      EXPECT_EQ(st.name, entries[i].name);
      EXPECT_EQ(st.uncompressedSize, want.size());
      EXPECT_EQ(st.crc32, crcOf(want));
      EXPECT_EQ(st.method, entries[i].store ? 0 : 8);

      Bytes memory;
      ASSERT_TRUE(reader->extractToMemory(i, want.size(), memory));
      EXPECT_EQ(memory, want);

      Collector c;
      ASSERT_TRUE(reader->extractToCallback(i, collect, &c));
      EXPECT_EQ(reader->lastError, ZipError::None);
      EXPECT_EQ(c.data, want);
      EXPECT_TRUE(c.inOrder);
      EXPECT_LE(c.largestChunk, kZipChunkSize);
      if (want.empty()) {
        EXPECT_EQ(c.calls, 0u);
      }
    }
  }
  // Compressible text really went through deflate.
  ZipEntryStat prosaic;
  ASSERT_TRUE(fromFile.stat(2, prosaic));
  EXPECT_LT(prosaic.compressedSize, prosaic.uncompressedSize / 4);
}

TEST_F(ZipReaderTest, SinkWritesFileWithRunningCrc) {
  const Bytes content = noise(3 * kZipChunkSize / 2, 3);
  ASSERT_TRUE(writeZip(path("s.zip"), {{"obb/main.obb", content, false}}));
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("s.zip")));

  FileHandle out = nativePlatform().createFile(wpath("out.bin"));
  ASSERT_NE(out, kInvalidFile);
  ExtractSink sink;
  sink.file = out;
  sink.expectedSize = content.size();
  bool ok = reader.extractToCallback(0, extractSinkWrite, &sink);
  nativePlatform().closeFile(out);
  ASSERT_TRUE(ok);
  EXPECT_EQ(sink.written, content.size());
  EXPECT_EQ(sink.crc, crcOf(content));
  EXPECT_EQ(readWholeFile(path("out.bin")), content);
}

// ---- Name lookup -----------------------------------------------------------

TEST_F(ZipReaderTest, LocateFoldsAsciiOnlyAndMatchesFullPaths) {
  ASSERT_TRUE(writeZip(path("n.zip"), {
                                          {"assets/bin/Data/level0", textBytes("L0"), true},
                                          {"\xC3\x84rger/\xC3\xA9t\xC3\xA9.txt", textBytes("u"), true},  // Ärger/été.txt
                                          {"readme.txt", textBytes("first"), true},
                                          {"README.TXT", textBytes("second"), true},
                                          {"Base.APK", textBytes("apk"), true},
                                      }));
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("n.zip")));

  EXPECT_EQ(reader.locate(L"assets/bin/Data/level0"), 0);
  EXPECT_EQ(reader.locate(L"ASSETS/BIN/DATA/LEVEL0"), 0);
  EXPECT_EQ(reader.locate(L"aSsEtS/bIn/dAtA/lEvEl0"), 0);
  EXPECT_EQ(reader.locate(L"base.apk"), 4);

  // Non-ASCII letters must match exactly; ASCII around them still folds.
  EXPECT_EQ(reader.locate(L"\u00C4rger/\u00E9t\u00E9.txt"), 1);
  EXPECT_EQ(reader.locate(L"\u00C4RGER/\u00E9T\u00E9.TXT"), 1);
  EXPECT_EQ(reader.locate(L"\u00E4rger/\u00E9t\u00E9.txt"), -1);  // ä is not Ä
  EXPECT_EQ(reader.locate(L"\u00C4rger/\u00C9t\u00C9.txt"), -1);  // É is not é

  // Names that differ only in ASCII case: the first in the directory wins.
  EXPECT_EQ(reader.locate(L"Readme.Txt"), 2);
  EXPECT_EQ(reader.locate(L"README.TXT"), 2);

  // Full paths only: no suffix, prefix or directory-less matches.
  EXPECT_EQ(reader.locate(L"level0"), -1);
  EXPECT_EQ(reader.locate(L"assets/bin/Data"), -1);
  EXPECT_EQ(reader.locate(L"/assets/bin/Data/level0"), -1);
  EXPECT_EQ(reader.locate(L"assets/bin/Data/level0 "), -1);
  EXPECT_EQ(reader.locate(L""), -1);

  reader.close();
  EXPECT_EQ(reader.locate(L"assets/bin/Data/level0"), -1);
}

TEST_F(ZipReaderTest, NamesAreTheStoredBytesWithoutReencoding) {
  // A name in a legacy code page (no UTF-8 flag): libzip would otherwise
  // guess CP437 and hand back different bytes.
  const std::string legacy = "caf\xE9.txt";
  RawZipEntry a, b;
  ASSERT_TRUE(makeRawZipEntry(legacy, textBytes("x"), true, a));
  ASSERT_TRUE(makeRawZipEntry("Caf\xC9.TXT", textBytes("y"), true, b));
  ZipReader reader;
  openRaw(reader, {a, b}, false);
  ZipEntryStat st;
  ASSERT_TRUE(reader.stat(0, st));
  EXPECT_EQ(st.name, legacy);
  EXPECT_EQ(reader.locateUtf8(legacy), 0);
  EXPECT_EQ(reader.locateUtf8("CAF\xE9.TXT"), 0);
  // 0xE9 and 0xC9 are é and É in Latin-1; they are different bytes here.
  EXPECT_EQ(reader.locateUtf8("caf\xC9.txt"), 1);
}

TEST_F(ZipReaderTest, OpensPathsWithNonAsciiCharacters) {
  const std::string name = "\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0.xapk";  // игра.xapk
  ASSERT_TRUE(writeZip(path(name), {{"a", textBytes("b"), true}}));
  ZipReader reader;
  ASSERT_TRUE(reader.open(dir_.wstring() + L"/\u0438\u0433\u0440\u0430.xapk"));
  EXPECT_EQ(reader.entryCount(), 1u);
}

// ---- Zip64 -----------------------------------------------------------------

TEST_F(ZipReaderTest, Zip64RecordsAreRead) {
  std::vector<RawZipEntry> entries(3);
  ASSERT_TRUE(makeRawZipEntry("stored.bin", noise(70000, 1), true, entries[0]));
  ASSERT_TRUE(makeRawZipEntry("deflated.txt", prose(200000), false, entries[1]));
  ASSERT_TRUE(makeRawZipEntry("Dir/Empty", {}, true, entries[2]));
  ZipReader reader;
  openRaw(reader, entries, true);
  ASSERT_EQ(reader.entryCount(), 3u);
  const Bytes wants[] = {noise(70000, 1), prose(200000), {}};
  for (size_t i = 0; i < 3; ++i) {
    ZipEntryStat st;
    ASSERT_TRUE(reader.stat(i, st));
    EXPECT_EQ(st.name, entries[i].name);
    EXPECT_EQ(st.uncompressedSize, wants[i].size());
    EXPECT_EQ(st.compressedSize, entries[i].data.size());
    EXPECT_EQ(st.crc32, crcOf(wants[i]));
    Bytes got;
    ASSERT_TRUE(reader.extractToMemory(i, 1 << 20, got));
    EXPECT_EQ(got, wants[i]);
    Collector c;
    ASSERT_TRUE(reader.extractToCallback(i, collect, &c));
    EXPECT_EQ(c.data, wants[i]);
  }
  EXPECT_EQ(reader.locate(L"DEFLATED.TXT"), 1);
}

TEST_F(ZipReaderTest, Zip64EntryBeyondFourGibibytes) {
  // A hole of 4.5 GiB before the second entry puts its local header and the
  // central directory past the 32-bit range without writing that much.
  RawZipEntry first, second;
  ASSERT_TRUE(makeRawZipEntry("first.txt", textBytes("before the hole"), true, first));
  ASSERT_TRUE(makeRawZipEntry("far/away.txt", prose(5000), false, second));
  second.gapBefore = (uint64_t(9) << 29);  // 4.5 GiB
  ZipReader reader;
  openRaw(reader, {first, second}, true);
  ASSERT_GT(uint64_t(fs::file_size(path("raw.zip"))), uint64_t(1) << 32);

  ASSERT_EQ(reader.locate(L"FAR/AWAY.TXT"), 1);
  Bytes got;
  ASSERT_TRUE(reader.extractToMemory(1, 1 << 20, got));
  EXPECT_EQ(got, prose(5000));
  ASSERT_TRUE(reader.extractToMemory(0, 1 << 20, got));
  EXPECT_EQ(got, textBytes("before the hole"));
}

TEST_F(ZipReaderTest, MoreThan65535EntriesUseZip64EndRecords) {
  std::vector<ZipBuilderEntry> entries;
  const size_t count = 65536 + 20;
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    entries.push_back({"f/" + std::to_string(i), textBytes(std::to_string(i * 31)), true});
  }
  ASSERT_TRUE(writeZip(path("many.zip"), entries));
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("many.zip")));
  ASSERT_EQ(reader.entryCount(), count);
  const int64_t last = reader.locate(L"F/" + std::to_wstring(count - 1));
  ASSERT_EQ(last, int64_t(count - 1));
  Bytes got;
  ASSERT_TRUE(reader.extractToMemory(uint64_t(last), 100, got));
  EXPECT_EQ(got, textBytes(std::to_string((count - 1) * 31)));
}

// ---- Sizes and CRC-32 that lie ---------------------------------------------

TEST_F(ZipReaderTest, HugeClaimedSizeFailsMemoryExtractionWithoutAllocating) {
  RawZipEntry huge, nearly4g;
  ASSERT_TRUE(makeRawZipEntry("huge", textBytes("tiny data"), true, huge));
  huge.uncompressedSize = uint64_t(1) << 40;  // 1 TiB
  ASSERT_TRUE(makeRawZipEntry("big", prose(1000), false, nearly4g));
  nearly4g.uncompressedSize = 0xFFFFFFF0u;
  ZipReader reader;
  openRaw(reader, {huge, nearly4g}, true);

  Bytes out = textBytes("keep");
  EXPECT_FALSE(reader.extractToMemory(0, 64 << 20, out));
  EXPECT_EQ(reader.lastError, ZipError::TooLarge);
  EXPECT_FALSE(reader.extractToMemory(1, 64 << 20, out));
  EXPECT_EQ(reader.lastError, ZipError::TooLarge);

  // Streaming needs no cap but still notices the data ends far too early.
  Collector c;
  EXPECT_FALSE(reader.extractToCallback(0, collect, &c));
  EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
  EXPECT_FALSE(reader.extractToCallback(1, collect, &c));
  EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
}

TEST_F(ZipReaderTest, DataLongerOrShorterThanRecordedFails) {
  const Bytes real = prose(50000);
  std::vector<RawZipEntry> entries(6);
  // 0/1: deflated, claims fewer / more bytes than the stream yields; the CRC
  // matches the claimed prefix so only the length can tell.
  ASSERT_TRUE(makeRawZipEntry("deflate-longer", real, false, entries[0]));
  entries[0].uncompressedSize = 40000;
  entries[0].crc32 = crc32Update(0, real.data(), 40000);
  ASSERT_TRUE(makeRawZipEntry("deflate-shorter", real, false, entries[1]));
  entries[1].uncompressedSize = 60000;
  // 2/3: stored, recorded size differs from the stored byte count.
  ASSERT_TRUE(makeRawZipEntry("stored-longer", real, true, entries[2]));
  entries[2].uncompressedSize = 40000;
  entries[2].crc32 = crc32Update(0, real.data(), 40000);
  ASSERT_TRUE(makeRawZipEntry("stored-shorter", real, true, entries[3]));
  entries[3].uncompressedSize = 60000;
  // 4: a deflate bomb: megabytes of zeros recorded as 16 bytes.
  ASSERT_TRUE(makeRawZipEntry("bomb", Bytes(8 << 20, 0), false, entries[4]));
  entries[4].uncompressedSize = 16;
  entries[4].crc32 = crcOf(Bytes(16, 0));
  // 5: right length, wrong CRC-32.
  ASSERT_TRUE(makeRawZipEntry("bad-crc", real, false, entries[5]));
  entries[5].crc32 ^= 0x00010000;

  for (bool zip64 : {false, true}) {
    ZipReader reader;
    openRaw(reader, entries, zip64);
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(entries[i].name + (zip64 ? " zip64" : ""));
      Bytes out;
      EXPECT_FALSE(reader.extractToMemory(i, 16 << 20, out));
      EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
      Collector c;
      EXPECT_FALSE(reader.extractToCallback(i, collect, &c));
      EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
      // Nothing beyond the recorded size is ever handed over.
      EXPECT_LE(c.data.size(), entries[i].uncompressedSize);
    }
  }
}

TEST_F(ZipReaderTest, PatchedByteInWrittenArchiveFailsItsCrc) {
  const Bytes content = noise(10000, 5);
  ASSERT_TRUE(writeZip(path("p.zip"), {{"data.bin", content, true}}));
  Bytes image = readWholeFile(path("p.zip"));
  // Stored data starts after the 30-byte local header and the name.
  image[30 + 8 + 5000] ^= 0x40;
  writeWholeFile(path("p.zip"), image);
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("p.zip")));
  Bytes out;
  EXPECT_FALSE(reader.extractToMemory(0, 1 << 20, out));
  EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
  ExtractSink sink;
  sink.file = nativePlatform().createFile(wpath("out.bin"));
  ASSERT_NE(sink.file, kInvalidFile);
  EXPECT_FALSE(reader.extractToCallback(0, extractSinkWrite, &sink));
  nativePlatform().closeFile(sink.file);
  EXPECT_EQ(reader.lastError, ZipError::DataMismatch);
  EXPECT_EQ(sink.written, content.size());  // the whole entry went through first
  EXPECT_NE(sink.crc, crcOf(content));
}

// ---- The callback abandons the entry ---------------------------------------

TEST_F(ZipReaderTest, ShortCallbackReturnAbandonsTheEntry) {
  const Bytes content = noise(3 * kZipChunkSize + 100, 11);
  ASSERT_TRUE(writeZip(path("c.zip"), {{"stored", content, true}, {"deflated", content, false}}));
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("c.zip")));
  for (uint64_t i = 0; i < 2; ++i) {
    Collector c;
    c.rejectAtCall = 1;
    EXPECT_FALSE(reader.extractToCallback(i, collect, &c));
    EXPECT_EQ(reader.lastError, ZipError::Rejected);
    EXPECT_EQ(c.calls, 2u);  // no chunk is offered after the refusal
  }
  // The reader is still usable afterwards.
  Bytes out;
  ASSERT_TRUE(reader.extractToMemory(1, content.size(), out));
  EXPECT_EQ(out, content);
}

TEST_F(ZipReaderTest, SinkStopsWhenProgressSaysSoAndOnWriteFailure) {
  const Bytes content = noise(4 * kZipChunkSize, 13);
  ASSERT_TRUE(writeZip(path("k.zip"), {{"big", content, true}}));
  ZipReader reader;
  ASSERT_TRUE(reader.open(wpath("k.zip")));

  // Asked to stop at the second chunk: one chunk written, the entry abandoned.
  ExtractSink c;
  c.file = nativePlatform().createFile(wpath("out.bin"));
  ASSERT_NE(c.file, kInvalidFile);
  uint64_t told = 0;
  c.progress = [&](uint64_t n) {
    if (told > 0) return false;
    told += n;
    return true;
  };
  EXPECT_FALSE(reader.extractToCallback(0, extractSinkWrite, &c));
  nativePlatform().closeFile(c.file);
  EXPECT_EQ(reader.lastError, ZipError::Rejected);
  EXPECT_TRUE(c.stopped);
  EXPECT_EQ(c.written, kZipChunkSize);
  EXPECT_EQ(told, kZipChunkSize);

  // A full disk: the write fails and the entry is abandoned.
  ExtractSink full;
  full.file = nativePlatform().createFile(L"/dev/full");
  if (full.file != kInvalidFile) {
    EXPECT_FALSE(reader.extractToCallback(0, extractSinkWrite, &full));
    nativePlatform().closeFile(full.file);
    EXPECT_EQ(reader.lastError, ZipError::Rejected);
    EXPECT_LT(full.written, content.size());
  }
}

// ---- Damaged archives and misuse -------------------------------------------

TEST_F(ZipReaderTest, NonArchivesFailToOpen) {
  ZipReader reader;
  EXPECT_FALSE(reader.open(wpath("missing.zip")));
  EXPECT_FALSE(reader.open(dir_.wstring()));  // a folder
  writeWholeFile(path("empty.zip"), {});
  EXPECT_FALSE(reader.open(wpath("empty.zip")));
  writeWholeFile(path("noise.zip"), noise(4096, 17));
  EXPECT_FALSE(reader.open(wpath("noise.zip")));
  EXPECT_FALSE(reader.openMemory(noise(100, 19)));
  EXPECT_FALSE(reader.isOpen);
  EXPECT_EQ(reader.entryCount(), 0u);

  // An archive with no entries is valid: just its end record.
  ASSERT_TRUE(writeRawZip(path("none.zip"), {}, false));
  ASSERT_TRUE(reader.open(wpath("none.zip")));
  EXPECT_EQ(reader.entryCount(), 0u);
}

TEST_F(ZipReaderTest, StoredInnerArchiveOpensInPlaceThroughItsByteRange) {
  const Bytes payload = noise(300000, 23);
  ASSERT_TRUE(writeZip(path("inner.zip"), {{"data/a.bin", payload, false}, {"b.txt", textBytes("bee"), true}}));
  const Bytes inner = readWholeFile(path("inner.zip"));
  // Padding before and after: only the window may be seen as the archive.
  Bytes outer = noise(777, 5);
  const uint64_t offset = outer.size();
  outer.insert(outer.end(), inner.begin(), inner.end());
  Bytes tail = noise(999, 6);
  outer.insert(outer.end(), tail.begin(), tail.end());
  writeWholeFile(path("outer.bin"), outer);

  ZipReader reader;
  ASSERT_TRUE(reader.openRange(wpath("outer.bin"), offset, inner.size()));
  ASSERT_EQ(reader.entryCount(), 2u);
  Bytes got;
  ASSERT_TRUE(reader.extractToMemory(uint64_t(reader.locateUtf8("data/a.bin")), UINT64_MAX, got));
  EXPECT_EQ(got, payload);
  Collector c;
  ASSERT_TRUE(reader.extractToCallback(uint64_t(reader.locateUtf8("b.txt")), collect, &c));
  EXPECT_EQ(c.data, textBytes("bee"));

  // A window cut short of the end record, or lying past the file, is no archive.
  EXPECT_FALSE(reader.openRange(wpath("outer.bin"), offset, inner.size() - 1));
  EXPECT_FALSE(reader.openRange(wpath("outer.bin"), outer.size() + 1, 100));
  EXPECT_FALSE(reader.isOpen);
}

TEST_F(ZipReaderTest, ClosedReaderAndBadIndicesFailCleanly) {
  ASSERT_TRUE(writeZip(path("r.zip"), {{"a", textBytes("alpha"), false}}));
  ZipReader reader;
  Bytes out;
  Collector c;
  ZipEntryStat st;
  EXPECT_FALSE(reader.extractToMemory(0, 100, out));
  EXPECT_EQ(reader.lastError, ZipError::NotOpen);
  EXPECT_FALSE(reader.extractToCallback(0, collect, &c));
  EXPECT_FALSE(reader.stat(0, st));

  ASSERT_TRUE(reader.open(wpath("r.zip")));
  ASSERT_TRUE(reader.open(wpath("r.zip")));  // reopening replaces the first
  EXPECT_FALSE(reader.stat(1, st));
  EXPECT_FALSE(reader.extractToMemory(1, 100, out));
  EXPECT_EQ(reader.lastError, ZipError::NoEntry);
  EXPECT_FALSE(reader.extractToCallback(~uint64_t(0), collect, &c));
  EXPECT_EQ(reader.lastError, ZipError::NoEntry);
  EXPECT_FALSE(reader.extractToMemory(0, 4, out));  // cap below 5 bytes
  EXPECT_EQ(reader.lastError, ZipError::TooLarge);
  ASSERT_TRUE(reader.extractToMemory(0, 5, out));
  EXPECT_EQ(out, textBytes("alpha"));

  // A failed open leaves the reader closed, not holding the old archive.
  EXPECT_FALSE(reader.open(wpath("missing.zip")));
  EXPECT_FALSE(reader.isOpen);
  EXPECT_EQ(reader.locate(L"a"), -1);
  reader.close();
  reader.close();
}

TEST_F(ZipReaderTest, DamagedLocalHeaderFailsExtraction) {
  ASSERT_TRUE(writeZip(path("d.zip"), {{"one", prose(4000), false}, {"two", prose(3000), true}}));
  Bytes image = readWholeFile(path("d.zip"));
  // The first local header's extra-field length now points the data start
  // into the middle of the deflate stream.
  image[28] = 0x07;
  ZipReader reader;
  ASSERT_TRUE(reader.openMemory(image));  // the central directory is intact
  Bytes out;
  EXPECT_FALSE(reader.extractToMemory(0, 1 << 20, out));
  EXPECT_NE(reader.lastError, ZipError::None);
  Collector c;
  EXPECT_FALSE(reader.extractToCallback(0, collect, &c));
  EXPECT_NE(reader.lastError, ZipError::None);
  ASSERT_TRUE(reader.extractToMemory(1, 1 << 20, out));
  EXPECT_EQ(out, prose(3000));
}

TEST_F(ZipReaderTest, TruncatedAndFlippedArchivesNeverYieldWrongData) {
  const std::vector<ZipBuilderEntry> entries = {
      {"a.txt", prose(3000), false}, {"b.bin", noise(2000, 23), true}, {"c/d.txt", prose(500), false}};
  ASSERT_TRUE(writeZip(path("t.zip"), entries));
  const Bytes image = readWholeFile(path("t.zip"));

  auto check = [&](const Bytes& damaged) {
    ZipReader reader;
    if (!reader.openMemory(damaged)) return;
    for (uint64_t i = 0; i < reader.entryCount(); ++i) {
      ZipEntryStat st;
      if (!reader.stat(i, st)) continue;
      Bytes out;
      // Whatever a damaged archive claims, a success means the bytes match
      // the recorded length and CRC-32.
      if (reader.extractToMemory(i, 1 << 20, out)) {
        EXPECT_EQ(out.size(), st.uncompressedSize);
        EXPECT_EQ(crcOf(out), st.crc32);
      }
      Collector c;
      if (reader.extractToCallback(i, collect, &c)) {
        EXPECT_EQ(c.data.size(), st.uncompressedSize);
        EXPECT_EQ(crcOf(c.data), st.crc32);
      }
    }
  };

  size_t opened = 0;
  for (size_t n = 0; n < image.size(); ++n) {
    Bytes cut(image.begin(), image.begin() + n);
    ZipReader probe;
    opened += probe.openMemory(cut);
    check(cut);
  }
  EXPECT_EQ(opened, 0u);  // any cut loses the end record
  uint32_t rng = 99;
  for (int i = 0; i < 3000; ++i) {
    Bytes flipped = image;
    rng = rng * 1103515245u + 12345u;
    size_t bit = (rng >> 3) % (flipped.size() * 8);
    flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
    check(flipped);
  }
}

}  // namespace
}  // namespace velmo
