#pragma once
// Writes zip archives for tests: ordinary ones through libzip, and raw ones
// whose every recorded field the test chooses (Zip64 records, sizes and
// CRC-32 values that lie, duplicate names, gaps between entries).
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace velmo {

struct ZipBuilderEntry {
  std::string name;  // full path inside the archive, UTF-8
  Bytes bytes;       // uncompressed content
  bool store = true;  // false: deflated
};

// Writes `entries` in order to `path` (replacing any file there) with
// libzip. Names must be unique. Archives with more than 65535 entries get
// libzip's Zip64 end records.
bool writeZip(const std::string& path, const std::vector<ZipBuilderEntry>& entries);

// One entry of a hand-built archive, exactly as recorded.
struct RawZipEntry {
  std::string name;               // raw name bytes
  uint16_t method = 0;            // 0 stored, 8 deflated
  Bytes data;                     // the bytes as they sit in the archive
  uint32_t crc32 = 0;             // recorded CRC-32
  uint64_t uncompressedSize = 0;  // recorded uncompressed size
  uint16_t flags = 0;             // general-purpose bits (0x0800: UTF-8 name)
  uint64_t gapBefore = 0;         // unwritten bytes before the local header (a hole in the file)
};

// A faithful entry for `bytes`: correct CRC-32 and size; deflated data when
// `store` is false.
bool makeRawZipEntry(const std::string& name, const Bytes& bytes, bool store, RawZipEntry& out);

// Raw deflate (no zlib header) of `input`, as a zip entry stores it.
bool deflateForZip(const Bytes& input, Bytes& out);

// Writes a zip from raw entries. With `zip64`, every local and central header
// carries its sizes (and the central one its offset) in a Zip64 extra field
// and the archive ends with Zip64 end records; without it, any value that
// does not fit 32 bits makes the call fail.
bool writeRawZip(const std::string& path, const std::vector<RawZipEntry>& entries, bool zip64);

}  // namespace velmo
