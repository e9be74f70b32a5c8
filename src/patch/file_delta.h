#pragma once
#include <string>

#include "common/bytes.h"
#include "common/progress.h"
#include "pack/pack_loader.h"

namespace velmo {

// Builds a FileDelta record's output from its source entry's bytes, which
// the caller read and proved against the archive's CRC-32 (sourceCrc): that
// CRC must be the record's, the delta must apply, and the result must match
// the record's size and CRC-32. Writes nothing; on failure message holds the
// reason. progress hears of the output as the delta is applied.
bool applyFileDelta(const PatchPack& pack, const PackEntry& entry, ByteView source, uint32_t sourceCrc,
                    Bytes& output, std::wstring& message, const ProgressFn& progress = {});

}  // namespace velmo
