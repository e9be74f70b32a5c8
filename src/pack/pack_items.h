#pragma once
// Turning the stored bytes of pack items into usable bytes: plain items, or
// block streams of LZMS buffers ([u32 raw size][u32 packed size][packed]...).
// Every read is checked against the container's end; the operations report
// success only, the callers word the messages.
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/progress.h"
#include "pack/pack_loader.h"
#include "platform/platform.h"

namespace velmo {

constexpr size_t kCopyChunkSize = 16 * 1024 * 1024;
// Upper bound for a delta blob's unpacked length, which the pack does not
// record; far above any real blob, low enough that a damaged block cannot
// make us reserve memory without bound.
constexpr uint64_t kMaxDeltaBlobSize = uint64_t(1) << 31;

// What unpackToFile writes through: for every chunk it tells progress (which
// may stop the unpack), continues the CRC and writes the chunk in one call.
struct UnpackSink {
  uint32_t crc = 0;
  FileHandle file = kInvalidFile;
  ProgressFn progress;
};

bool unpackToFile(const PatchPack& pack, const PackEntry& entry, UnpackSink& sink);
// Appends the unpacked item to out (no CRC, progress or cancel).
bool unpackToMemory(const PatchPack& pack, const PackEntry& entry, Bytes& out);
// The unpacked bytes of the asset "asset:" + name (case-sensitive), or empty.
Bytes readAsset(const PatchPack& pack, const std::wstring& name);
// Replaces out with the delta blob of a FileDelta or BundlePatch record.
bool readDeltaBlob(const PatchPack& pack, const PackEntry& entry, Bytes& out);

}  // namespace velmo
