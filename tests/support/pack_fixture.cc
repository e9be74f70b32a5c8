#include "support/pack_fixture.h"

#include "pack/pack_loader.h"

namespace velmo::test {

Bytes makeContainer(ByteView dataArea, const std::vector<PackEntry>& records, uint32_t formatVersion) {
  Bytes out(kPackDataStart + dataArea.size(), 0);
  std::copy(kPackMagic, kPackMagic + 8, out.begin());
  std::copy(dataArea.begin(), dataArea.end(), out.begin() + kPackDataStart);
  uint64_t directoryOffset = out.size();
  for (const auto& r : records) writePackRecord(r, out);
  Bytes fields;
  appendLe32(fields, formatVersion);
  appendLe32(fields, uint32_t(records.size()));
  appendLe64(fields, directoryOffset);
  std::copy(fields.begin(), fields.end(), out.begin() + 8);
  return out;
}

Bytes digestOf(ByteView container) {
  Bytes d(32);
  sha256(container, d.data());
  return d;
}

bool damageDeltaBlob(Bytes& container, const std::wstring& targetPath) {
  Bytes digest = digestOf(container);
  PatchPack pack;
  if (!loadPatchPackFrom(container, digest, pack)) return false;
  for (const auto& e : pack.entries) {
    if (e.targetPath != targetPath || e.compressed || e.storedSize < 16) continue;
    for (uint64_t i = e.storedSize / 2; i < e.storedSize / 2 + 6; ++i) container[size_t(e.dataOffset + i)] ^= 0xA5;
    return true;
  }
  return false;
}

}  // namespace velmo::test
