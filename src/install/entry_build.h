#pragma once
// Building one installable pack entry into its output file, each kind by its
// own rules and messages. The builders take a progress function (which may
// stop them) and never touch InstallState, so the pipeline may run the delta
// and bundle kinds on any thread; reading from the XAPK stays with the caller.
#include <string>

#include "common/bytes.h"
#include "common/progress.h"
#include "pack/pack_loader.h"
#include "xapk/xapk_source.h"

namespace velmo {

// A FileDelta or BundlePatch entry's source, read whole from its archive and
// proven there; crc is the archive's CRC-32 of it.
struct EntrySource {
  Bytes bytes;
  uint32_t crc = 0;
};
bool readEntrySource(XapkSource& source, const PackEntry& entry, EntrySource& out, std::wstring& message);

// Builds a FileDelta or BundlePatch entry from its source and writes the
// proven result to outputPath.
bool buildPatchedEntry(const PatchPack& pack, const PackEntry& entry, const EntrySource& source,
                       const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message);

// Unpacks a PackFile entry into outputPath, proven by its CRC-32.
bool buildPackFile(const PatchPack& pack, const PackEntry& entry, const std::wstring& relative,
                   const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message);

// Copies an ArchiveCopy entry out of its archive into outputPath.
bool buildArchiveCopy(XapkSource& source, const PackEntry& entry, const std::wstring& relative,
                      const std::wstring& outputPath, const ProgressFn& progress, std::wstring& message);

// The units of work the builders report for an entry in all.
uint64_t entryWorkUnits(const PackEntry& entry);

}  // namespace velmo
