// Opens arbitrary bytes as a zip and pulls every entry out both ways. A
// success must always deliver exactly the recorded length and CRC-32.
#include <cstdint>
#include <cstdlib>

#include "common/crc32.h"
#include "xapk/zip_reader.h"

namespace {

constexpr uint64_t kMemoryCap = 1 << 20;
constexpr uint64_t kStreamCap = 4 << 20;  // keeps one input's run short

struct Counter {
  uint64_t bytes = 0;
  uint32_t crc = 0;
};

size_t count(void* opaque, uint64_t offset, const void* data, size_t size) {
  auto* c = static_cast<Counter*>(opaque);
  if (offset != c->bytes) std::abort();
  if (c->bytes + size > kStreamCap) return 0;
  c->crc = velmo::crc32Update(c->crc, data, size);
  c->bytes += size;
  return size;
}

}  // namespace

// Every entry of the reader, both ways; nested: stored entries opened as
// archives in place, one level deep.
void pullEverything(velmo::ZipReader& reader, bool nested);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::ZipReader reader;
  if (!reader.openMemory(velmo::ByteView(data, size))) return 0;
  pullEverything(reader, true);
  return 0;
}

void pullEverything(velmo::ZipReader& reader, bool nested) {
  const uint64_t n = reader.entryCount();
  for (uint64_t i = 0; i < n && i < 64; ++i) {
    velmo::ZipEntryStat st;
    if (!reader.stat(i, st)) continue;
    int64_t found = reader.locateUtf8(st.name);
    if (found < 0 || uint64_t(found) > i) std::abort();  // the first holder of a name wins
    velmo::Bytes out;
    if (reader.extractToMemory(i, kMemoryCap, out)) {
      if (out.size() != st.uncompressedSize || velmo::crc32Update(0, out.data(), out.size()) != st.crc32) {
        std::abort();
      }
    }
    Counter c;
    if (reader.extractToCallback(i, count, &c)) {
      if (c.bytes != st.uncompressedSize || c.crc != st.crc32) std::abort();
    }
    velmo::ZipReader inner;
    if (nested && inner.openStoredEntry(reader, i)) pullEverything(inner, false);
  }
}
