#include "support/xapk_fixture.h"

#include "support/test_util.h"
#include "velmo-pack/pack_builder.h"

namespace velmo::test {

bool makeAssetPack(const std::vector<std::pair<std::string, std::string>>& assets, OwnedPack& out) {
  PackBuilder b;
  beginPack(b);
  std::string error;
  for (const auto& [name, text] : assets) {
    PackEntry e;
    e.kind = Asset;
    e.name = wide("asset:" + name);
    Bytes bytes(text.begin(), text.end());
    if (!addPackItem(b, e, bytes, false, error)) return false;
    b.entries.push_back(e);
  }
  out.container = finishPack(b);
  Bytes digest(32);
  sha256(out.container, digest.data());
  out.pack = PatchPack();
  return loadPatchPackFrom(out.container, digest, out.pack);
}

Bytes zipBytes(const std::vector<ZipBuilderEntry>& entries) {
  TempDir t;
  if (!writeZip(t / "z.zip", entries)) return {};
  return readBytes(t / "z.zip");
}

bool writeXapk(const std::string& path, const XapkLayout& layout) {
  std::vector<ZipBuilderEntry> outer = layout.extraOuter;
  if (!layout.omitApk) outer.push_back({layout.apkName, zipBytes(layout.apkEntries), layout.storeInner});
  if (!layout.omitObb) outer.push_back({layout.obbName, zipBytes(layout.obbEntries), layout.storeInner});
  return writeZip(path, outer);
}

}  // namespace velmo::test
