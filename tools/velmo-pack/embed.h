#pragma once
// Putting a pack into a built patcher, and finding it there again: resources
// 101 (the pack) and 102 (its SHA-256) of a Windows executable, beside its
// program icon (icon group 1), or the appended trailer of any other.
#include <string>

#include "common/bytes.h"

namespace velmo {

// Replaces any pack the patcher carries with `pack`. False with a one-line
// reason in error (patcher unchanged).
bool embedPack(Bytes& patcher, ByteView pack, std::string& error);

// The pack and digest a patcher carries; false when it carries none.
bool findPatcherPack(ByteView patcher, ByteView& pack, ByteView& digest);

}  // namespace velmo
