#include "patch/file_delta.h"

#include "common/crc32.h"
#include "pack/pack_items.h"
#include "patch/pa30.h"
#include "platform/platform.h"
#include "xapk/xapk_extract.h"

namespace velmo {

bool applyFileDelta(const PatchPack& pack, XapkSource& source, const PackEntry& entry,
                    const std::wstring& outputPath, std::wstring& message) {
  // The archive's own record of the source settles whether it can be the
  // expected one before a byte of it is inflated.
  ZipEntryStat recorded;
  if (!statXapkEntry(source, entry.source, entry.sourceName, recorded, message)) return false;
  if (recorded.crc32 != entry.sourceCrc) {
    message = L"The XAPK entry failed its CRC (" + entry.sourceName + L").";
    return false;
  }
  Bytes sourceBytes;
  if (!extractEntryToMemory(source, entry.source, entry.sourceName, sourceBytes, message)) return false;
  if (crc32Update(0, sourceBytes.data(), sourceBytes.size()) != entry.sourceCrc) {
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
  Bytes output;
  if (!pa30Apply(sourceBytes, delta, maxTarget, output)) {
    message = L"Could not apply the delta for " + entry.targetPath + L".";
    return false;
  }
  bool matches = output.size() == entry.size && crc32Update(0, output.data(), output.size()) == entry.targetCrc;
  if (!matches || !writeWholeFile(outputPath, output)) {
    platform().deleteFile(outputPath);
    message = L"The patched file did not match (" + entry.targetPath + L").";
    return false;
  }
  return true;
}

}  // namespace velmo
