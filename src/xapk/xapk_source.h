#pragma once
// The one opened XAPK: the user's zip, temporary copies of its inner APK and
// OBB (read through their own zip readers), and the package name and
// version from the pack's xapk_info asset.
#include <atomic>
#include <string>

#include "common/bytes.h"
#include "pack/pack_format.h"
#include "pack/pack_loader.h"
#include "xapk/zip_reader.h"

namespace velmo {

constexpr uint64_t kTempSpaceMargin = 134217728;  // 128 MiB above the two copies

struct XapkSource {
  ZipReader xapk;
  ZipReader apk;
  ZipReader obb;
  std::wstring tempFolder;
  std::wstring apkPath;
  std::wstring obbPath;
  // The XAPK entries the APK and OBB were read from.
  std::wstring apkEntry;
  std::wstring obbEntry;
  std::wstring name = L"Harrowmere";
  std::wstring version;
  bool isOpen = false;
};

// What xapk_info says; fields the asset does not set keep their values.
struct XapkInfo {
  std::wstring apkEntry;
  std::wstring obbEntry;
  std::wstring name;
  std::wstring version;
};
// key=value lines split at the first "=", LF-separated, no trimming; the
// last of a repeated key wins.
void parseXapkInfo(ByteView text, XapkInfo& info);

bool openXapk(XapkSource& source, const PatchPack& pack, const std::wstring& path, std::wstring& errorText);
void closeXapk(XapkSource& source);

// The temporary folder of an open XAPK is "velmo-patcher-" + the process id
// + "-" + 8 random lowercase hex digits, made by that run alone and private
// to its user. The id lets a later run tell a folder whose run is gone.
constexpr wchar_t kTempFolderPrefix[] = L"velmo-patcher-";
std::wstring xapkTempFolderName(uint32_t pid, uint32_t suffix);
// The process id in such a name; false for any other name.
bool parseXapkTempFolderName(const std::wstring& name, uint32_t& pid);
// Removes the temporary folders of this user's runs that are gone: only
// folders (never links) with such a name, owned by this user with access
// for the owner only, whose process no longer exists.
void removeStaleXapkTempFolders();

// The inner archive a selector names: 1 the APK, anything else the OBB.
ZipReader& innerArchive(XapkSource& source, XapkArchive archive);

}  // namespace velmo
