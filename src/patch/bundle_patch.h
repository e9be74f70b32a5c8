#pragma once
#include <string>

#include "common/bytes.h"
#include "common/progress.h"
#include "pack/pack_loader.h"

namespace velmo {

// Rebuilds a BundlePatch record's bundle from the source bundle's bytes:
// decode its LZMA level, apply the delta segment by segment, re-encode with
// the fixed settings and rebuild the header; true only when the result
// matches the record's size and CRC-32 byte for byte. Writes nothing.
// progress hears of the decoded bytes and then of the re-encoded input
// (sourceDecodedSize + targetDecodedSize in all); when it says stop, the
// call ends with false and "Cancelled.".
bool patchBundle(const PatchPack& pack, const PackEntry& entry, ByteView bundle, Bytes& rebuilt,
                 std::wstring& message, const ProgressFn& progress = {});

// The work units patchBundle reports for an entry.
inline uint64_t bundleWorkUnits(const PackEntry& entry) { return entry.sourceDecodedSize + entry.targetDecodedSize; }

}  // namespace velmo
