#include "pack/pack_format.h"

#include "common/utf8.h"

namespace velmo {
namespace {

bool readString(ByteReader& r, std::wstring& out) {
  uint16_t count;
  ByteView bytes;
  if (!r.readU16(count) || !r.readBytes(count, bytes)) return false;
  out = fromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return true;
}

void writeString(const std::wstring& text, Bytes& out) {
  std::string utf8 = toUtf8(text);
  appendLe16(out, uint16_t(utf8.size()));
  out.insert(out.end(), utf8.begin(), utf8.end());
}

constexpr size_t kCopyFixedSize = 12;
constexpr size_t kDeltaFixedSize = 33;
constexpr size_t kBundleFixedSize = 65;
constexpr size_t kSegmentSize = 40;
constexpr size_t kItemFixedSize = 29;

}  // namespace

const std::wstring& outputPathOf(const PackEntry& entry) {
  return entry.kind == PackFile ? entry.name : entry.targetPath;
}

bool parsePackRecord(ByteReader& r, PackEntry& e) {
  e = PackEntry();
  uint8_t kind;
  if (!r.readU8(kind)) return false;
  e.kind = kind;
  if (hasSourceLayout(kind)) {
    uint8_t source;
    if (!r.readU8(source)) return false;
    e.source = XapkArchive(source);
    if (!readString(r, e.sourceName) || !readString(r, e.targetPath)) return false;
    uint8_t compressed = 0;
    switch (kind) {
      case ArchiveCopy:
        if (r.remaining() < kCopyFixedSize) return false;
        r.readU64(e.size), r.readU32(e.crc);
        return true;
      case FileDelta:
        if (r.remaining() < kDeltaFixedSize) return false;
        r.readU64(e.size), r.readU32(e.sourceCrc), r.readU32(e.targetCrc);
        r.readU8(compressed), r.readU64(e.storedSize), r.readU64(e.dataOffset);
        e.compressed = compressed != 0;
        return true;
      default: {
        if (r.remaining() < kBundleFixedSize) return false;
        uint32_t count = 0;
        r.readU64(e.size), r.readU64(e.sourceDecodedSize), r.readU64(e.targetDecodedSize);
        r.readU32(e.sourceDecodedCrc), r.readU32(e.targetDecodedCrc), r.readU32(e.bundleCrc);
        r.readU32(e.headerSize), r.readU32(e.fileInfoHeaderSize), r.readU32(count);
        r.readU8(compressed), r.readU64(e.storedSize), r.readU64(e.dataOffset);
        e.compressed = compressed != 0;
        if (count < 1 || count > kMaxBundleSegments) return false;
        if (r.remaining() < kSegmentSize * count) return false;
        e.segments.resize(count);
        for (auto& s : e.segments) {
          r.readU64(s.sourceOffset), r.readU64(s.sourceLength), r.readU64(s.targetOffset);
          r.readU64(s.targetLength), r.readU64(s.deltaLength);
        }
        return true;
      }
    }
  }
  if (!readString(r, e.name)) return false;
  if (r.remaining() < kItemFixedSize) return false;
  uint8_t compressed = 0;
  r.readU8(compressed), r.readU64(e.size), r.readU64(e.storedSize), r.readU64(e.dataOffset), r.readU32(e.crc);
  e.compressed = compressed != 0;
  return true;
}

void writePackRecord(const PackEntry& e, Bytes& out) {
  out.push_back(uint8_t(e.kind));
  if (hasSourceLayout(e.kind)) {
    out.push_back(uint8_t(e.source));
    writeString(e.sourceName, out);
    writeString(e.targetPath, out);
    switch (e.kind) {
      case ArchiveCopy:
        appendLe64(out, e.size), appendLe32(out, e.crc);
        return;
      case FileDelta:
        appendLe64(out, e.size), appendLe32(out, e.sourceCrc), appendLe32(out, e.targetCrc);
        out.push_back(e.compressed ? 1 : 0), appendLe64(out, e.storedSize), appendLe64(out, e.dataOffset);
        return;
      default:
        appendLe64(out, e.size), appendLe64(out, e.sourceDecodedSize), appendLe64(out, e.targetDecodedSize);
        appendLe32(out, e.sourceDecodedCrc), appendLe32(out, e.targetDecodedCrc), appendLe32(out, e.bundleCrc);
        appendLe32(out, e.headerSize), appendLe32(out, e.fileInfoHeaderSize);
        appendLe32(out, uint32_t(e.segments.size()));
        out.push_back(e.compressed ? 1 : 0), appendLe64(out, e.storedSize), appendLe64(out, e.dataOffset);
        for (const auto& s : e.segments) {
          appendLe64(out, s.sourceOffset), appendLe64(out, s.sourceLength), appendLe64(out, s.targetOffset);
          appendLe64(out, s.targetLength), appendLe64(out, s.deltaLength);
        }
        return;
    }
  }
  writeString(e.name, out);
  out.push_back(e.compressed ? 1 : 0);
  appendLe64(out, e.size), appendLe64(out, e.storedSize), appendLe64(out, e.dataOffset), appendLe32(out, e.crc);
}

}  // namespace velmo
