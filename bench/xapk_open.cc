// Time to open an XAPK holding a 200 MB stored OBB (copying the APK and the
// OBB out with CRC checks) against a plain `cp` of the same XAPK.
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/utf8.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/tool_io.h"
#include "xapk/xapk_source.h"

using namespace velmo;

static bool addStored(zip_t* z, const char* name, const Bytes& bytes) {
  zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
  zip_int64_t idx = zip_file_add(z, name, src, ZIP_FL_OVERWRITE);
  return idx >= 0 && zip_set_file_compression(z, uint64_t(idx), ZIP_CM_STORE, 0) == 0;
}

static bool writeZipFile(const std::string& path, const std::vector<std::pair<const char*, const Bytes*>>& entries) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) return false;
  for (auto& [name, bytes] : entries)
    if (!addStored(z, name, *bytes)) return false;
  return zip_close(z) == 0;
}

int main() {
  std::string dir = "/tmp/velmo-bench-xapk";
  std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
  Bytes obbEntry(200u << 20);
  uint32_t x = 1;
  for (auto& b : obbEntry) b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  Bytes apkEntry(20u << 20, 7);
  if (!writeZipFile(dir + "/obb.zip", {{"big.unity3d", &obbEntry}}) ||
      !writeZipFile(dir + "/apk.zip", {{"assets/bin/Data/mainData", &apkEntry}}))
    return 1;
  Bytes obb, apk;
  readFileBytes(dir + "/obb.zip", obb);
  readFileBytes(dir + "/apk.zip", apk);
  obbEntry.clear(), obbEntry.shrink_to_fit();
  if (!writeZipFile(dir + "/game.xapk", {{"game.apk", &apk}, {"main.obb", &obb}})) return 1;
  obb.clear(), apk.clear();
  std::system(("sync; cp " + dir + "/game.xapk " + dir + "/warm.xapk").c_str());  // warm the page cache

  PackBuilder b;
  beginPack(b);
  Bytes pack = finishPack(b);
  Bytes digest(32);
  sha256(pack, digest.data());
  PatchPack p;
  loadPatchPackFrom(pack, digest, p);

  setenv("TMPDIR", dir.c_str(), 1);
  XapkSource source;
  std::wstring error;
  auto t0 = std::chrono::steady_clock::now();
  bool ok = openXapk(source, p, fromUtf8(dir + "/game.xapk"), error);
  double openS = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  closeXapk(source);
  t0 = std::chrono::steady_clock::now();
  std::system(("cp " + dir + "/game.xapk " + dir + "/copy.xapk").c_str());
  double cpS = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::system(("rm -rf " + dir).c_str());
  if (!ok) {
    std::printf("open failed: %s\n", toUtf8(error).c_str());
    return 1;
  }
  std::printf("openXapk (220 MB inner archives): %.2f s\ncp of the XAPK: %.2f s\nratio: %.2f\n", openS, cpS,
              openS / cpS);
  return 0;
}
