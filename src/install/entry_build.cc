#include "install/entry_build.h"

#include "pack/pack_items.h"
#include "patch/bundle_patch.h"
#include "patch/file_delta.h"
#include "platform/staged_output.h"
#include "xapk/xapk_extract.h"

namespace velmo {

bool readEntrySource(XapkSource& source, const PackEntry& entry, EntrySource& out, std::wstring& message) {
  return extractEntryToMemory(source, entry.source, entry.sourceName, out.bytes, message, &out.crc);
}

bool buildPatchedEntry(const PatchPack& pack, const PackEntry& entry, const EntrySource& source,
                       const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message) {
  Bytes output;
  // Nothing more is written once the job stops.
  auto stopped = [&] {
    if (keepGoing(progress, 0)) return false;
    message = L"Cancelled.";
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
