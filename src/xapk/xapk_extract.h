#pragma once
// Reading one entry of the inner APK or OBB, into a file or into memory,
// proven by size and CRC-32; and the fingerprint check of the opened XAPK.
#include <string>

#include "common/progress.h"
#include "xapk/xapk_source.h"

namespace velmo {

// Entries read whole into memory are at most this large; a claim above it
// (or above what the entry's compressed bytes can expand to) is refused
// before anything is allocated.
constexpr uint64_t kMaxEntryInMemory = uint64_t(1) << 30;

// What the inner archive records for an entry, for checks before reading
// it; fails with the same messages as the extractions.
bool statXapkEntry(XapkSource& source, XapkArchive archive, const std::wstring& entryPath, ZipEntryStat& stat,
                   std::wstring& errorText);

bool extractEntryToFile(XapkSource& source, XapkArchive archive, const std::wstring& entryPath,
                        const std::wstring& destination, uint64_t expectedSize, uint32_t expectedCrc,
                        const ProgressFn& progress, std::wstring& errorText);
// Reads the entry whole, proven against the archive's size and CRC-32; that
// CRC is stored in *crc when given, so callers need not take it again.
bool extractEntryToMemory(XapkSource& source, XapkArchive archive, const std::wstring& entryPath, Bytes& out,
                          std::wstring& errorText, uint32_t* crc = nullptr);

// One line of the xapk_fingerprint asset: archive|entry|size|crc (hex).
struct FingerprintLine {
  long archive = 0;
  std::wstring entry;
  uint64_t size = 0;
  uint64_t crc = 0;
};
// False for a line the check passes over: fewer than three "|", or a first
// or second "|" that ends the line.
bool parseFingerprintLine(const std::string& line, FingerprintLine& parsed);

bool verifyXapkFingerprint(XapkSource& source, const PatchPack& pack, std::wstring& text);

}  // namespace velmo
