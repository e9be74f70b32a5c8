// Opening an XAPK from arbitrary bytes (the outer zip, the inner APK and OBB
// copied out and opened) and the fingerprint check against a fixed pack.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/crc32.h"
#include "common/utf8.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "xapk/xapk_extract.h"

using namespace velmo;

namespace {

// The pack's two text assets; the fingerprint names entries the seeds hold.
struct AssetPack {
  Bytes data;
  PatchPack pack;
  AssetPack() {
    std::vector<PackEntry> entries;
    add(entries, L"asset:xapk_info", "name=VELMO\nversion=1.0.7\n");
    add(entries, L"asset:xapk_fingerprint",
        "1|assets/bin/Data/level0|10|" + hexCrc("level zero") + "\n2|A.unity3d|6|" + hexCrc("bundle") + "\n");
    pack = fuzz::packOver(data, entries);
  }
  static std::string hexCrc(const std::string& s) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", crc32Update(0, s.data(), s.size()));
    return buf;
  }
  void add(std::vector<PackEntry>& entries, const std::wstring& name, const std::string& text) {
    PackEntry e;
    e.kind = Asset, e.name = name, e.dataOffset = data.size(), e.size = e.storedSize = text.size();
    e.crc = crc32Update(0, text.data(), text.size());
    data.insert(data.end(), text.begin(), text.end());
    entries.push_back(e);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static AssetPack assets;
  std::wstring path = fromUtf8(fuzz::scratchFolder() + "/input.xapk");
  if (!writeWholeFile(path, ByteView(data, size))) std::abort();
  static XapkSource source;  // one per process, as in the patcher
  std::wstring text;
  bool opened = openXapk(source, assets.pack, path, text);
  if (opened != source.isOpen || (opened && !text.empty()) || (!opened && text.empty())) std::abort();
  std::wstring line;
  bool verified = verifyXapkFingerprint(source, assets.pack, line);
  if (verified && (!opened || line != L"VELMO 1.0.7 - XAPK verified")) std::abort();
  std::wstring temp = source.tempFolder;
  closeXapk(source);
  if (!temp.empty() && platform().pathExists(temp)) std::abort();  // closing leaves nothing behind
  return 0;
}
