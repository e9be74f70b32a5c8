#include "xapk/xapk_source.h"

#include <cwctype>
#include <exception>
#include <random>

#include "common/size_text.h"
#include "common/utf8.h"
#include "pack/pack_items.h"
#include "platform/folder_tree.h"
#include "platform/platform.h"
#include "platform/staged_output.h"

namespace velmo {
namespace {

bool endsWithLower(const std::wstring& name, const wchar_t* suffix) {
  std::wstring lower;
  for (wchar_t c : name) lower.push_back(wchar_t(std::towlower(wint_t(c))));
  return lower.size() > 4 && lower.compare(lower.size() - 4, 4, suffix) == 0;
}

enum class CopyResult { Ok, NotWritten, Damaged };

// A stored inner archive is read in place; a compressed one is copied out.
bool readInPlace(const ZipEntryStat& st) { return st.method == 0 && st.compressedSize == st.uncompressedSize; }

size_t discardChunk(void*, uint64_t, const void*, size_t size) { return size; }

// Proves one inner archive's CRC-32: one pass through it where it lies, or
// while streaming it into a temporary copy.
CopyResult prepareInnerArchive(XapkSource& s, int64_t index, const ZipEntryStat& st, const std::wstring& path) {
  if (readInPlace(st)) {
    // The reader fails on a CRC-32 other than the recorded one.
    return s.xapk.extractToCallback(uint64_t(index), discardChunk, nullptr) ? CopyResult::Ok : CopyResult::Damaged;
  }
  // Created new: never through a link or over what is there.
  const PlatformOps& os = platform();
  FileHandle f = os.createNewFile(path);
  if (f == kInvalidFile) return CopyResult::NotWritten;
  ExtractSink sink;
  sink.file = f;
  bool ok = s.xapk.extractToCallback(uint64_t(index), extractSinkWrite, &sink);
  os.closeFile(f);
  // A full temporary drive is the machine's fault, not the XAPK's; a damaged
  // copy stays until the folder is removed.
  if (sink.writeFailed) return CopyResult::NotWritten;
  return ok && sink.crc == st.crc32 ? CopyResult::Ok : CopyResult::Damaged;
}

bool openInnerArchive(XapkSource& s, ZipReader& reader, int64_t index, const ZipEntryStat& st,
                      const std::wstring& path) {
  return readInPlace(st) ? reader.openStoredEntry(s.xapk, uint64_t(index)) : reader.open(path);
}

uint32_t randomSuffix(uint32_t attempt) {
  try {
    static std::random_device device;
    return device();
  } catch (const std::exception&) {
    // Only a clash becomes likelier: the folder is still made exclusively.
    return platform().tickCount() * 2654435761u + attempt;
  }
}

// Makes this run's private temporary folder; empty when it cannot.
std::wstring createPrivateTempFolder(const std::wstring& base) {
  const PlatformOps& os = platform();
  createDirectoryChain(base);  // a missing temporary folder is made, as before
  for (uint32_t attempt = 0; attempt < 32; ++attempt) {
    std::wstring path = joinPath(base, xapkTempFolderName(os.processId(), randomSuffix(attempt)));
    if (os.createPrivateDirectory(path)) return path;
    if (!os.pathExists(path)) break;  // not a clash of names: it cannot be made
  }
  return std::wstring();
}

}  // namespace

std::wstring xapkTempFolderName(uint32_t pid, uint32_t suffix) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name = kTempFolderPrefix + std::to_wstring(pid) + L"-";
  for (int shift = 28; shift >= 0; shift -= 4) name.push_back(kHex[(suffix >> shift) & 0xF]);
  return name;
}

bool parseXapkTempFolderName(const std::wstring& name, uint32_t& pid) {
  const size_t prefix = sizeof kTempFolderPrefix / sizeof(wchar_t) - 1;
  if (name.compare(0, prefix, kTempFolderPrefix) != 0) return false;
  size_t i = prefix;
  if (i < name.size() && name[i] == L'0') return false;  // never written with leading zeros
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < name.size() && name[i] >= L'0' && name[i] <= L'9'; ++i, ++digits) {
    value = value * 10 + uint64_t(name[i] - L'0');
    if (value > UINT32_MAX) return false;
  }
  if (digits == 0 || i >= name.size() || name[i] != L'-' || name.size() - i - 1 != 8) return false;
  for (++i; i < name.size(); ++i) {
    wchar_t c = name[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  pid = uint32_t(value);
  return true;
}

void removeStaleXapkTempFolders() {
  const PlatformOps& os = platform();
  std::wstring base = os.tempFolder();
  std::vector<DirEntry> entries;
  // Through "." so that a temporary folder reached by a link is listed too;
  // its entries are still looked at without following them.
  if (base.empty() || !os.listDirectory(joinPath(base, L"."), entries)) return;
  for (const auto& e : entries) {
    uint32_t pid = 0;
    if (e.type != EntryType::Directory || !parseXapkTempFolderName(e.name, pid)) continue;
    if (pid == os.processId() || os.processExists(pid)) continue;
    std::wstring path = joinPath(base, e.name);
    PathInfo info;
    if (os.pathInfo(path, info) && info.type == EntryType::Directory && info.privateToUser) removeTree(path);
  }
}

void parseXapkInfo(ByteView text, XapkInfo& info) {
  std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = line.substr(0, eq);
      std::wstring value = fromUtf8(line.substr(eq + 1));
      if (key == "apk_entry") info.apkEntry = value;
      else if (key == "obb_entry") info.obbEntry = value;
      else if (key == "name") info.name = value;
      else if (key == "version") info.version = value;
    }
    start = end + 1;
  }
}

ZipReader& innerArchive(XapkSource& source, XapkArchive archive) {
  return archive == XapkArchive::Apk ? source.apk : source.obb;
}

void closeXapk(XapkSource& s) {
  s.apk.close();
  s.obb.close();
  s.xapk.close();
  if (!s.tempFolder.empty()) {
    removeTree(s.tempFolder);
    s.tempFolder.clear();
  }
  s.isOpen = false;
}

bool openXapk(XapkSource& s, const PatchPack& pack, const std::wstring& path, std::wstring& errorText) {
  auto fail = [&](const std::wstring& text) {
    errorText = text;
    return false;
  };
  closeXapk(s);
  // The folder is made by this call alone and only then recorded, so that
  // closing never removes a folder (or a link) someone else put there.
  std::wstring base = platform().tempFolder();
  if (base.empty()) return fail(L"Could not find the temporary folder.");
  std::wstring temp = createPrivateTempFolder(base);
  if (temp.empty()) return fail(L"Could not create the temporary folder.");
  s.tempFolder = temp;
  if (!s.xapk.open(path)) return fail(L"The XAPK is missing or is not a zip file.");

  XapkInfo info{L"", L"", s.name, s.version};
  Bytes infoBytes = readAsset(pack, L"xapk_info");
  if (!infoBytes.empty()) parseXapkInfo(infoBytes, info);
  s.name = info.name;
  s.version = info.version;
  std::wstring apkEntry = info.apkEntry, obbEntry = info.obbEntry;

  if (apkEntry.empty() || obbEntry.empty()) {
    for (uint64_t i = 0, n = s.xapk.entryCount(); i < n; ++i) {
      ZipEntryStat st;
      if (!s.xapk.stat(i, st)) continue;
      std::wstring entryName = fromUtf8(st.name);
      if (apkEntry.empty() && endsWithLower(entryName, L".apk")) apkEntry = entryName;
      if (obbEntry.empty() && endsWithLower(entryName, L".obb")) obbEntry = entryName;
    }
  }
  if (apkEntry.empty() || obbEntry.empty()) {
    return fail(L"This XAPK does not contain an APK and an OBB.\nIt is not a Harrowmere XAPK.");
  }
  s.apkPath = joinPath(s.tempFolder, L"game.apk");
  s.obbPath = joinPath(s.tempFolder, L"game.obb");

  int64_t apkIndex = s.xapk.locate(apkEntry);
  int64_t obbIndex = s.xapk.locate(obbEntry);
  if (apkIndex < 0) return fail(L"The XAPK is missing " + apkEntry + L".");
  if (obbIndex < 0) return fail(L"The XAPK is missing " + obbEntry + L".");
  ZipEntryStat apkStat, obbStat;
  if (!s.xapk.stat(uint64_t(apkIndex), apkStat) || !s.xapk.stat(uint64_t(obbIndex), obbStat)) {
    return fail(L"The XAPK's inner archives could not be read.");
  }

  // Only the archives that are copied need temporary space. Saturating:
  // claimed sizes come from the user's file.
  uint64_t apkCopy = readInPlace(apkStat) ? 0 : apkStat.uncompressedSize;
  uint64_t obbCopy = readInPlace(obbStat) ? 0 : obbStat.uncompressedSize;
  uint64_t freeBytes = 0;
  if ((apkCopy != 0 || obbCopy != 0) && platform().freeSpace(s.tempFolder, freeBytes)) {
    uint64_t needed = apkCopy > UINT64_MAX - obbCopy ? UINT64_MAX : apkCopy + obbCopy;
    needed = needed > UINT64_MAX - kTempSpaceMargin ? UINT64_MAX : needed + kTempSpaceMargin;
    if (freeBytes < needed) {
      return fail(L"Not enough temporary disk space for the XAPK's inner archives.\nNeed " + formatSize(needed) +
                  L"; " + formatSize(freeBytes) + L" are free.");
    }
  }
  errorText.clear();

  switch (prepareInnerArchive(s, apkIndex, apkStat, s.apkPath)) {
    case CopyResult::NotWritten: return fail(L"Could not write the temporary APK.");
    case CopyResult::Damaged: return fail(L"The XAPK's APK is damaged (" + apkEntry + L").");
    case CopyResult::Ok: break;
  }
  switch (prepareInnerArchive(s, obbIndex, obbStat, s.obbPath)) {
    case CopyResult::NotWritten: return fail(L"Could not write the temporary OBB.");
    case CopyResult::Damaged: return fail(L"The XAPK's OBB is damaged (" + obbEntry + L").");
    case CopyResult::Ok: break;
  }
  if (!openInnerArchive(s, s.apk, apkIndex, apkStat, s.apkPath) ||
      !openInnerArchive(s, s.obb, obbIndex, obbStat, s.obbPath)) {
    return fail(L"The XAPK's inner APK/OBB could not be opened.");
  }
  s.apkEntry = apkEntry;
  s.obbEntry = obbEntry;
  s.isOpen = true;
  return true;
}

}  // namespace velmo
