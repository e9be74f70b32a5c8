#include "support/demo_fixture.h"

#include <filesystem>
#include <map>

#include "pack/pack_items.h"
#include "pack/pack_loader.h"
#include "support/test_util.h"

namespace velmo::test {

namespace fs = std::filesystem;

const std::string& smallDemoGame() {
#ifdef VELMO_PREBUILT_DEMO_DIR
  // Made before the tests by the build machine's tool (a cross-built test
  // cannot run it).
  static std::string configured = dataDir(VELMO_PREBUILT_DEMO_DIR, "demo");
  static std::string prebuilt = exists(configured + "/pack.bin") ? configured : "";
  return prebuilt;
#endif
  // Removed when the process ends: every test process makes its own.
  static TempDir dir;
  static std::string path = [] {
    std::string out = dir.path() + "/demo";
    int rc = runCommand(shellQuote(buildPath("velmo-demo-game")) + " " + shellQuote(out) +
                        " --scale small --patcher " + shellQuote(buildPath("velmo-patcher")));
    return rc == 0 ? out : std::string();
  }();
  return path;
}

std::string firstFingerprintEntry(const std::string& demoDir) {
  Bytes container = readBytes(demoDir + "/pack.bin"), digest(32);
  PatchPack pack;
  if (!sha256(container, digest.data()) || !loadPatchPackFrom(container, digest, pack)) return "";
  Bytes listed = readAsset(pack, L"xapk_fingerprint");
  std::string text(listed.begin(), listed.end());
  if (text.rfind("1|", 0) != 0) return "";
  return text.substr(2, text.find('|', 2) - 2);
}

static std::map<std::string, std::string> listTree(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) files[fs::relative(it->path(), root).string()] = it->path().string();
  }
  return files;
}

bool sameTree(const std::string& a, const std::string& b, std::string& difference) {
  auto left = listTree(a), right = listTree(b);
  for (const auto& [rel, path] : left) {
    auto it = right.find(rel);
    if (it == right.end()) return difference = "missing " + rel, false;
    if (readBytes(path) != readBytes(it->second)) return difference = "differs " + rel, false;
  }
  for (const auto& [rel, path] : right) {
    if (!left.count(rel)) return difference = "extra " + rel, false;
  }
  return true;
}

}  // namespace velmo::test
