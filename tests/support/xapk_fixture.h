#pragma once
// Builds XAPKs (a zip holding an APK zip and an OBB zip) and packs carrying
// the xapk_info and xapk_fingerprint assets, for tests.
#include <string>
#include <vector>

#include "pack/pack_loader.h"
#include "support/zip_builder.h"

namespace velmo::test {

struct OwnedPack {
  Bytes container;
  PatchPack pack;
};

// A loaded pack holding the given assets (name, bytes), stored plain.
bool makeAssetPack(const std::vector<std::pair<std::string, std::string>>& assets, OwnedPack& out);

// An XAPK at path: the outer entries as given; inner archives are built from
// their own entry lists (empty list: that entry is left out).
struct XapkLayout {
  std::string apkName = "com.example.harrowmere.apk";
  std::string obbName = "Android/obb/com.example.harrowmere/main.7.com.example.harrowmere.obb";
  std::vector<ZipBuilderEntry> apkEntries;
  std::vector<ZipBuilderEntry> obbEntries;
  std::vector<ZipBuilderEntry> extraOuter;  // written before the APK and OBB
  bool omitApk = false;
  bool omitObb = false;
  bool storeInner = true;  // false: the APK and OBB are deflated in the XAPK (and so copied out)
};
bool writeXapk(const std::string& path, const XapkLayout& layout);

// The zip bytes of entries (via a temporary file).
Bytes zipBytes(const std::vector<ZipBuilderEntry>& entries);

}  // namespace velmo::test
