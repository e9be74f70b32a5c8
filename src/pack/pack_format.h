#pragma once
// The patch pack container: header, directory records and their in-memory
// form. All integers in the container are little-endian.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace velmo {

constexpr char kPackMagic[8] = {'V', 'E', 'L', 'M', 'O', 'P', 'K', '1'};
constexpr size_t kPackHeaderSize = 24;       // the part the loader reads
constexpr size_t kPackDataStart = 64;        // where the builder puts the data area
constexpr uint32_t kMaxPackEntries = 100000;
constexpr uint32_t kMaxBundleSegments = 16;
constexpr size_t kPackDigestSize = 32;       // SHA-256

enum PackEntryKind : uint32_t {
  PackFile = 1,
  ArchiveCopy = 2,
  Asset = 3,
  FileDelta = 4,
  BundlePatch = 5,
};

// Which inner archive of the XAPK holds an entry: 1 the APK, anything else
// the OBB.
enum class XapkArchive : uint32_t { Apk = 1, Obb = 2 };

struct BundleSegment {
  uint64_t sourceOffset = 0;
  uint64_t sourceLength = 0;
  uint64_t targetOffset = 0;
  uint64_t targetLength = 0;
  uint64_t deltaLength = 0;
};

struct PackEntry {
  uint32_t kind = 0;
  std::wstring name;
  bool compressed = false;
  uint64_t size = 0;
  uint64_t storedSize = 0;
  uint64_t dataOffset = 0;
  uint32_t crc = 0;
  XapkArchive source = XapkArchive::Apk;
  std::wstring sourceName;
  std::wstring targetPath;
  uint32_t sourceCrc = 0;
  uint32_t targetCrc = 0;
  uint64_t sourceDecodedSize = 0;
  uint64_t targetDecodedSize = 0;
  uint32_t sourceDecodedCrc = 0;
  uint32_t targetDecodedCrc = 0;
  uint32_t bundleCrc = 0;
  uint32_t headerSize = 0;
  uint32_t fileInfoHeaderSize = 0;
  std::vector<BundleSegment> segments;
};

// The output path relative to the game folder (backslashes, as stored).
const std::wstring& outputPathOf(const PackEntry& entry);

// Whether a record's kind carries the source-archive layout (kinds 2, 4, 5).
inline bool hasSourceLayout(uint32_t kind) {
  return kind == ArchiveCopy || kind == FileDelta || kind == BundlePatch;
}

// Parses one directory record at reader's cursor, which it advances. False
// when the record does not fit in what remains.
bool parsePackRecord(ByteReader& reader, PackEntry& entry);

// Serialises one record (the pack tool's writer, the reader's exact inverse).
void writePackRecord(const PackEntry& entry, Bytes& out);

}  // namespace velmo
