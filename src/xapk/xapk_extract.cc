#include "xapk/xapk_extract.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/utf8.h"
#include "pack/pack_items.h"
#include "platform/folder_tree.h"
#include "platform/platform.h"
#include "platform/staged_output.h"

namespace velmo {
namespace {

// Deflate expands at most about 1032:1; any claim beyond that is damage.
constexpr uint64_t kMaxDeflateRatio = 1032;

// An entry located in one of the inner archives, with its stat.
struct FoundEntry {
  ZipReader* reader = nullptr;
  uint64_t index = 0;
  ZipEntryStat st;
};

// Finds the entry and reads its stat, wording the two failures shared by
// both kinds of extraction.
bool findEntry(XapkSource& s, XapkArchive archive, const std::wstring& entryPath, FoundEntry& found,
               std::wstring& errorText) {
  found.reader = &innerArchive(s, archive);
  int64_t index = found.reader->locate(entryPath);
  if (index < 0) {
    errorText = L"The XAPK is missing " + entryPath + L".";
    return false;
  }
  found.index = uint64_t(index);
  if (!found.reader->isOpen || !found.reader->stat(found.index, found.st)) {
    errorText = L"The XAPK entry could not be read (" + entryPath + L").";
    return false;
  }
  return true;
}

}  // namespace

bool statXapkEntry(XapkSource& s, XapkArchive archive, const std::wstring& entryPath, ZipEntryStat& stat,
                   std::wstring& errorText) {
  FoundEntry found;
  if (!findEntry(s, archive, entryPath, found, errorText)) return false;
  stat = std::move(found.st);
  return true;
}

bool parseFingerprintLine(const std::string& line, FingerprintLine& f) {
  size_t bar1 = line.find('|');
  if (bar1 == std::string::npos || bar1 + 1 == line.size()) return false;
  size_t bar2 = line.find('|', bar1 + 1);
  if (bar2 == std::string::npos || bar2 + 1 == line.size()) return false;
  size_t bar3 = line.find('|', bar2 + 1);
  if (bar3 == std::string::npos) return false;
  // Each numeric field is parsed as the C runtime does, which stops at the
  // first character that does not belong to the number.
  f.archive = std::atol(line.substr(0, bar1).c_str());
  f.entry = fromUtf8(std::string_view(line).substr(bar1 + 1, bar2 - bar1 - 1));
  f.size = std::strtoull(line.substr(bar2 + 1, bar3 - bar2 - 1).c_str(), nullptr, 10);
  f.crc = std::strtoull(line.substr(bar3 + 1).c_str(), nullptr, 16);
  return true;
}

bool extractEntryToFile(XapkSource& s, XapkArchive archive, const std::wstring& entryPath,
                        const std::wstring& destination, uint64_t expectedSize, uint32_t expectedCrc,
                        const ProgressFn& progress, std::wstring& errorText) {
  FoundEntry found;
  if (!findEntry(s, archive, entryPath, found, errorText)) return false;
  const ZipEntryStat& st = found.st;
  if (st.uncompressedSize != expectedSize || st.crc32 != expectedCrc) {
    errorText = L"The XAPK entry does not match the expected data (" + entryPath + L").";
    return false;
  }
  createDirectoryChain(parentFolder(destination));
  StagedOutput out;
  if (!out.create(destination)) {
    errorText = L"Could not write\n" + destination;
    return false;
  }
  ExtractSink sink;
  sink.file = out.file;
  sink.expectedSize = expectedSize;
  sink.progress = progress;
  bool ok = found.reader->extractToCallback(found.index, extractSinkWrite, &sink);
  if (out.finish(ok && sink.crc == expectedCrc && sink.written == expectedSize)) return true;
  if (sink.stopped) errorText = kCancelledText;
  else if (sink.writeFailed) errorText = L"Could not write\n" + destination;
  else errorText = L"The XAPK entry failed its CRC (" + entryPath + L").";
  return false;
}

bool extractEntryToMemory(XapkSource& s, XapkArchive archive, const std::wstring& entryPath, Bytes& out,
                          std::wstring& errorText, uint32_t* crc) {
  FoundEntry found;
  if (!findEntry(s, archive, entryPath, found, errorText)) return false;
  const ZipEntryStat& st = found.st;
  uint64_t cap = kMaxEntryInMemory;
  if (st.compressedSize <= cap / kMaxDeflateRatio) cap = std::max<uint64_t>(st.compressedSize * kMaxDeflateRatio, 4096);
  if (st.method == 0) cap = std::min(cap, st.compressedSize);
  out.clear();
  if (st.uncompressedSize > cap) {
    errorText = L"The XAPK entry could not be read (" + entryPath + L").";
    return false;
  }
  if (!found.reader->extractToMemory(found.index, cap, out)) {
    errorText = found.reader->lastError == ZipError::DataMismatch
                    ? L"The XAPK entry failed its CRC (" + entryPath + L")."
                    : L"The XAPK entry could not be read (" + entryPath + L").";
    return false;
  }
  // The reader proved the data against the recorded CRC-32 as it read it.
  if (out.size() != st.uncompressedSize) {
    errorText = L"The XAPK entry failed its CRC (" + entryPath + L").";
    return false;
  }
  if (crc) *crc = st.crc32;
  return true;
}

bool verifyXapkFingerprint(XapkSource& s, const PatchPack& pack, std::wstring& text) {
  if (!s.isOpen) {
    text = L"The XAPK is not open.";
    return false;
  }
  Bytes asset = readAsset(pack, L"xapk_fingerprint");
  if (asset.empty()) {
    text = L"The patcher data is missing its XAPK fingerprint.";
    return false;
  }
  std::string all(asset.begin(), asset.end());
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    start = end + 1;
    FingerprintLine f;
    if (!parseFingerprintLine(line, f)) continue;
    FoundEntry found;
    std::wstring unused;
    bool pass = findEntry(s, f.archive == 1 ? XapkArchive::Apk : XapkArchive::Obb, f.entry, found, unused) &&
                found.st.uncompressedSize == f.size && found.st.crc32 == uint32_t(f.crc) && f.crc <= 0xFFFFFFFFull;
    if (!pass) {
      text = L"This is not the expected VELMO XAPK (entry " + f.entry + L" failed its CRC).";
      return false;
    }
  }
  text = s.name;
  if (!s.version.empty()) text += L" " + s.version;
  text += L" - XAPK verified";
  return true;
}

}  // namespace velmo
