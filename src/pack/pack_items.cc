#include "pack/pack_items.h"

#include <algorithm>
#include <functional>

#include "common/crc32.h"
#include "pack/lzms_buffer.h"

namespace velmo {
namespace {

using ChunkFn = std::function<bool(const uint8_t* data, size_t size)>;

// The block loop shared by every operation on a compressed item. rawLimit
// bounds the sum of the blocks' raw sizes (the item's size, or the blob cap).
bool forEachBlock(const PatchPack& pack, const PackEntry& entry, uint64_t rawLimit, const ChunkFn& onChunk) {
  LzmsDecoder decoder;
  Bytes packed, raw;
  uint64_t pos = entry.dataOffset;
  uint64_t end = entry.dataOffset + entry.storedSize;
  if (end < pos) return false;  // offset + size wrapped
  uint64_t rawDone = 0;
  while (pos < end) {
    if (!pack.data || pos > pack.dataSize || pack.dataSize - pos < 8) return false;
    uint32_t rawSize = readLe32(pack.data + pos);
    uint32_t packedSize = readLe32(pack.data + pos + 4);
    if (rawSize > rawLimit - rawDone) return false;
    pos += 8;
    if (packedSize > pack.dataSize - pos) return false;
    packed.assign(pack.data + pos, pack.data + pos + packedSize);
    raw.resize(rawSize);
    if (!lzmsDecodeBuffer(decoder, packed, raw)) return false;
    if (!onChunk(raw.data(), raw.size())) return false;
    rawDone += rawSize;
    pos += packedSize;
  }
  return true;
}

// Plain items: chunks of at most kCopyChunkSize copied through one buffer.
bool forEachPlainChunk(const PatchPack& pack, const PackEntry& entry, const ChunkFn& onChunk) {
  if (entry.size == 0) return true;
  Bytes buffer(size_t(std::min<uint64_t>(entry.size, kCopyChunkSize)), 0);
  uint64_t done = 0;
  while (done < entry.size) {
    size_t chunk = size_t(std::min<uint64_t>(entry.size - done, buffer.size()));
    uint64_t at = entry.dataOffset + done;
    if (!pack.data || at < entry.dataOffset || at > pack.dataSize || chunk > pack.dataSize - at) return false;
    std::copy(pack.data + at, pack.data + at + chunk, buffer.begin());
    if (!onChunk(buffer.data(), chunk)) return false;
    done += chunk;
  }
  return true;
}

bool forEachChunk(const PatchPack& pack, const PackEntry& entry, const ChunkFn& onChunk) {
  if (!entry.compressed) return forEachPlainChunk(pack, entry, onChunk);
  uint64_t produced = 0;
  bool ok = forEachBlock(pack, entry, entry.size, [&](const uint8_t* data, size_t size) {
    produced += size;
    return onChunk(data, size);
  });
  return ok && produced == entry.size;
}

}  // namespace

bool unpackToFile(const PatchPack& pack, const PackEntry& entry, UnpackSink& sink) {
  return forEachChunk(pack, entry, [&](const uint8_t* data, size_t size) {
    if (!keepGoing(sink.progress, size)) return false;
    sink.crc = crc32Update(sink.crc, data, size);
    return platform().writeFile(sink.file, data, size);
  });
}

bool unpackToMemory(const PatchPack& pack, const PackEntry& entry, Bytes& out) {
  return forEachChunk(pack, entry, [&](const uint8_t* data, size_t size) {
    out.insert(out.end(), data, data + size);
    return true;
  });
}

Bytes readAsset(const PatchPack& pack, const std::wstring& name) {
  const std::wstring key = L"asset:" + name;
  Bytes result;
  for (const auto& e : pack.entries) {
    if (e.kind != Asset || e.name != key) continue;
    // The claimed size is trusted only as far as the pack holds bytes.
    result.reserve(size_t(std::min<uint64_t>(e.size, pack.dataSize)));
    // A half-unpacked or wrong asset is as good as none.
    if (!unpackToMemory(pack, e, result) || crc32Update(0, result.data(), result.size()) != e.crc) return Bytes();
  }
  return result;
}

bool readDeltaBlob(const PatchPack& pack, const PackEntry& entry, Bytes& out) {
  out.clear();
  if (entry.compressed) {
    return forEachBlock(pack, entry, kMaxDeltaBlobSize, [&](const uint8_t* data, size_t size) {
      out.insert(out.end(), data, data + size);
      return true;
    });
  }
  if (entry.storedSize == 0) return true;
  if (!pack.data || entry.dataOffset > pack.dataSize || entry.storedSize > pack.dataSize - entry.dataOffset) {
    return false;
  }
  out.assign(pack.data + entry.dataOffset, pack.data + entry.dataOffset + entry.storedSize);
  return true;
}

}  // namespace velmo
