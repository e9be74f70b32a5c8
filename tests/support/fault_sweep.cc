#include "support/fault_sweep.h"

#include <filesystem>

#include "common/utf8.h"
#include "support/test_util.h"

namespace velmo::test {

namespace fs = std::filesystem;

bool OlderInstall::make(const std::string& demo, const std::string& work) {
  expected = demo + "/expected";
  original = work + "/older-install";
  std::error_code ec;
  fs::remove_all(original, ec);
  fs::copy(expected, original, fs::copy_options::recursive, ec);
  if (ec) return false;
  // The older build: every other file differs, the last one is new in this
  // build, one file of the old build is gone from the new.
  std::string last;
  int n = 0;
  for (auto& f : fs::recursive_directory_iterator(original)) {
    if (!f.is_regular_file()) continue;
    last = f.path().string();
    if (n++ % 2 == 0 && !writeText(last, "older build of " + f.path().filename().string())) return false;
  }
  if (last.empty() || !fs::remove(last, ec)) return false;
  bool ok = writeText(original + "/VELMO_Data/Managed/Retired.dll", "only in the older build");
  // The player's own files.
  fs::create_directories(original + "/saves", ec);
  ok = ok && writeText(original + "/saves/slot1.sav", "the player's save") &&
       writeText(original + "/VELMO_Data/player-settings.cfg", "fullscreen=0") &&
       writeText(original + "/notes.txt", "the player's note");
  if (!ok) return false;
  before = treeSnapshot(original);
  after = before;
  for (const auto& [rel, contents] : treeSnapshot(expected)) after[rel] = contents;
  return true;
}

void OlderInstall::restore(const std::string& dest) const {
  std::error_code ec;
  fs::remove_all(dest, ec);
  fs::copy(original, dest, fs::copy_options::recursive, ec);
}

namespace {

bool isSetAside(const std::string& rel) {
  std::string name = fs::path(rel).filename().string();
  return name.starts_with(".") && name.find(".velmo-old-") != std::string::npos;
}

std::string firstDifference(const std::map<std::string, std::string>& want,
                            const std::map<std::string, std::string>& got) {
  for (const auto& [rel, contents] : want) {
    auto it = got.find(rel);
    if (it == got.end()) return "missing " + rel;
    if (it->second != contents) return "differs " + rel;
  }
  for (const auto& [rel, contents] : got) {
    if (!want.count(rel)) return "extra " + rel;
  }
  return std::string();
}

}  // namespace

std::string OlderInstall::judge(bool ok, const std::string& dest, const std::string& tempRoot,
                                const FaultCall& failed, bool* setAsideLeft) const {
  auto tree = treeSnapshot(dest);
  if (setAsideLeft) *setAsideLeft = false;
  // The one accepted leftover: the kept-aside file whose deletion failed.
  if (ok && failed.op == "deleteFile" && toUtf8(failed.path).find(".velmo-old-") != std::string::npos) {
    size_t before = tree.size();
    std::erase_if(tree, [](const auto& entry) { return isSetAside(entry.first); });
    if (setAsideLeft) *setAsideLeft = tree.size() != before;
  }
  std::string difference = firstDifference(ok ? after : before, tree);
  if (!difference.empty()) return (ok ? "OK over a wrong tree: " : "failed, folder changed: ") + difference;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(tempRoot, ec)) return "left in the temporary folder: " + e.path().string();
  return std::string();
}

std::string describeFault(uint64_t k, const FaultCall& failed) {
  return "k=" + std::to_string(k) + " " + failed.op + "(" + toUtf8(failed.path) + ")";
}

}  // namespace velmo::test
