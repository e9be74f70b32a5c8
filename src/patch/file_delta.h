#pragma once
#include <string>

#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo {

// Builds a FileDelta record's output: the source entry read and proven, the
// delta applied, the result proven by size and CRC-32 and only then written
// to outputPath. On failure message holds the reason and no output exists.
bool applyFileDelta(const PatchPack& pack, XapkSource& source, const PackEntry& entry,
                    const std::wstring& outputPath, std::wstring& message);

}  // namespace velmo
