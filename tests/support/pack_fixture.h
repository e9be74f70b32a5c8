#pragma once
// Builds pack containers in memory for tests.
#include <vector>

#include "common/bytes.h"
#include "pack/pack_format.h"

namespace velmo::test {

// A container: header, 40 reserved bytes, the data area, the records. Records
// keep their offsets as given (data starts at offset 64).
Bytes makeContainer(ByteView dataArea, const std::vector<PackEntry>& records, uint32_t formatVersion);
Bytes digestOf(ByteView container);
// Flips bytes in the middle of the delta blob of the record whose target is
// targetPath (a plain blob). False when there is no such record.
bool damageDeltaBlob(Bytes& container, const std::wstring& targetPath);

}  // namespace velmo::test
