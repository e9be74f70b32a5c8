#pragma once
#include <string>

#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo {

// Rebuilds a BundlePatch record's bundle: decode the source bundle's LZMA
// level, apply the delta segment by segment, re-encode with the fixed
// settings, rebuild the header, and write only when the result matches the
// record's size and CRC-32 byte for byte.
bool patchBundle(const PatchPack& pack, XapkSource& source, const PackEntry& entry, const std::wstring& outputPath,
                 std::wstring& message);

}  // namespace velmo
