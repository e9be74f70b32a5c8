#include "patch/file_delta.h"

#include "common/crc32.h"
#include "pack/pack_items.h"
#include "patch/pa30.h"

namespace velmo {

bool applyFileDelta(const PatchPack& pack, const PackEntry& entry, ByteView source, uint32_t sourceCrc,
                    Bytes& output, std::wstring& message, const ProgressFn& progress) {
  output.clear();
  if (sourceCrc != entry.sourceCrc) {
    message = L"The XAPK entry failed its CRC (" + entry.sourceName + L").";
    return false;
  }
  Bytes delta;
  if (!readDeltaBlob(pack, entry, delta)) {
    message = L"The delta data is damaged (" + entry.targetPath + L").";
    return false;
  }
  // Room for a result somewhat off the expected size, so that it reaches
  // the size check below rather than being refused as a broken delta.
  uint64_t maxTarget = entry.size + entry.size / 2 + (1u << 20);
  if (!pa30Apply(source, delta, maxTarget, output, progress)) {
    message = L"Could not apply the delta for " + entry.targetPath + L".";
    return false;
  }
  if (output.size() != entry.size || crc32Update(0, output.data(), output.size()) != entry.targetCrc) {
    message = L"The patched file did not match (" + entry.targetPath + L").";
    return false;
  }
  return true;
}

}  // namespace velmo
