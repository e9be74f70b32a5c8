#pragma once
// What the fuzz targets that drive whole operations share: a private
// temporary folder, an inner archive made from the input, a pack over the
// input's bytes.
#include <string>
#include <vector>

#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo::fuzz {

// A folder of this process, made once; TMPDIR points into it.
const std::string& scratchFolder();

// Opens `archive` of `source` on a one-entry stored zip holding `bytes` under
// `name`, and marks the source open.
bool openInnerArchive(XapkSource& source, XapkArchive archive, const std::string& name, ByteView bytes);

// A pack whose container is `data` (not copied) and whose directory is
// `entries`.
PatchPack packOver(ByteView data, std::vector<PackEntry> entries);

// A 32-bit little-endian length and that many bytes (fewer when the input
// ends); advances `in`.
ByteView takeSized(ByteView& in);

// Reads a delta or bundle entry's source as the install job does, then builds
// the entry and writes it to `out`.
bool buildFromArchive(const PatchPack& pack, XapkSource& source, const PackEntry& entry, const std::wstring& out,
                      std::wstring& message);

}  // namespace velmo::fuzz
