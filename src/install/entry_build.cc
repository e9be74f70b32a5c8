#include "install/entry_build.h"

#include <algorithm>

#include "pack/pack_items.h"
#include "patch/bundle_patch.h"
#include "patch/file_delta.h"
#include "platform/staged_output.h"
#include "xapk/xapk_extract.h"

namespace velmo {

namespace {

// The stored bundle is a header and an LZMA stream of the decoded payload,
// which no encoder grows by half; anything larger is not the expected bundle
// and is refused before it is read into memory.
uint64_t maxSourceBundleSize(const PackEntry& entry) {
  uint64_t payload = std::min(entry.sourceDecodedSize, kMaxEntryInMemory);
  return entry.headerSize + payload + payload / 2 + (uint64_t(1) << 20);
}

}  // namespace

bool readEntrySource(XapkSource& source, const PackEntry& entry, EntrySource& out, std::wstring& message) {
  // The archive's own record of the source settles whether it can be the
  // expected one before a byte of it is inflated.
  ZipEntryStat recorded;
  if (!statXapkEntry(source, entry.source, entry.sourceName, recorded, message)) return false;
  if (entry.kind == FileDelta && recorded.crc32 != entry.sourceCrc) {
    message = L"The XAPK entry failed its CRC (" + entry.sourceName + L").";
    return false;
  }
  if (entry.kind == BundlePatch && recorded.uncompressedSize > maxSourceBundleSize(entry)) {
    message = L"The XAPK bundle does not match the expected payload (" + entry.sourceName + L").";
    return false;
  }
  return extractEntryToMemory(source, entry.source, entry.sourceName, out.bytes, message, &out.crc);
}

bool buildPatchedEntry(const PatchPack& pack, const PackEntry& entry, const EntrySource& source,
                       const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message) {
  Bytes output;
  // Nothing more is written once the job stops.
  auto stopped = [&] {
    if (keepGoing(progress, 0)) return false;
    message = kCancelledText;
    return true;
  };
  if (entry.kind == BundlePatch) {
    if (!patchBundle(pack, entry, source.bytes, output, message, progress) || stopped()) return false;
    if (!writeWholeFile(outputPath, output)) {
      message = L"Could not write\n" + outputPath;
      return false;
    }
    return true;
  }
  if (!applyFileDelta(pack, entry, source.bytes, source.crc, output, message, progress) || stopped()) return false;
  if (!writeWholeFile(outputPath, output)) {
    message = L"The patched file did not match (" + entry.targetPath + L").";
    return false;
  }
  return true;
}

bool buildPackFile(const PatchPack& pack, const PackEntry& entry, const std::wstring& relative,
                   const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message) {
  StagedOutput out;
  if (!out.create(outputPath)) {
    message = L"Could not write\n" + outputPath;
    return false;
  }
  UnpackSink sink{0, out.file, progress};
  bool ok = unpackToFile(pack, entry, sink);
  if (out.finish(ok && sink.crc == entry.crc)) return true;
  message = L"Could not unpack " + relative + L"\n(embedded patch data damaged, or the disk is full)";
  return false;
}

bool buildArchiveCopy(XapkSource& source, const PackEntry& entry, const std::wstring& relative,
                      const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message) {
  if (extractEntryToFile(source, entry.source, entry.sourceName, outputPath, entry.size, entry.crc, progress,
                         message)) {
    return true;
  }
  if (message.empty()) message = L"Could not copy " + relative;
  return false;
}

uint64_t entryWorkUnits(const PackEntry& entry) {
  return entry.kind == BundlePatch ? bundleWorkUnits(entry) : entry.size;
}

}  // namespace velmo
