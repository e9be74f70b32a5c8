#include "support/fault_sweep.h"

#include <algorithm>
#include <filesystem>
#include <random>

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

std::string SweepResult::summary() const {
  std::string out = std::to_string(calls) + " calls, " + std::to_string(runs) + " faults:";
  for (const auto& [outcome, n] : outcomes) out += " " + outcome + " " + std::to_string(n) + ";";
  return out + " " + std::to_string(unsound.size()) + " unsound";
}

std::vector<uint64_t> sweepPoints(const std::vector<FaultCall>& trace, size_t sample) {
  std::vector<uint64_t> all(trace.size());
  for (size_t i = 0; i < trace.size(); ++i) all[i] = i + 1;
  if (sample == 0) return all;
  size_t tail = 0;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].op == "flushFile" && toUtf8(trace[i].path).find(".velmo-staging") != std::string::npos) {
      tail = i + 1;
    }
  }
  std::vector<uint64_t> points(all.begin(), all.begin() + tail), picked;
  std::mt19937 pick(20261209);
  std::sample(points.begin(), points.end(), std::back_inserter(picked), sample, pick);
  picked.insert(picked.end(), all.begin() + tail, all.end());
  return picked;
}

namespace {

// A run without faults: the trace the points are chosen from.
std::vector<FaultCall> cleanTrace(FaultPlatform& faults, const SweepRoad& road, SweepResult& result) {
  road.reset();
  faults.arm(FaultMode::None, 0);
  int code = road.run();
  std::vector<FaultCall> trace = faults.trace();
  result.calls = trace.size();
  if (code != 0) result.unsound.push_back("the run without faults failed");
  return trace;
}

// The next start's run, with nothing failing, must repair everything.
std::string plainRunAfter(FaultPlatform& faults, const OlderInstall& older, const SweepRoad& road) {
  faults.disarm();
  faults.actAsNextProcess(true);
  if (road.nextStart) road.nextStart();
  int code = road.run();
  faults.actAsNextProcess(false);
  if (code != 0) return "the plain run after failed";
  std::string problem = older.judge(true, road.dest, road.tempRoot, FaultCall());
  if (problem.empty() && road.check) problem = road.check(code, FaultCall());
  return problem.empty() ? problem : "the plain run after: " + problem;
}

}  // namespace

SweepResult sweepFaults(FaultPlatform& faults, const OlderInstall& older, const SweepRoad& road, FaultMode mode,
                        size_t sample) {
  SweepResult result;
  const bool cut = mode == FaultMode::PowerCut;
  for (uint64_t k : sweepPoints(cleanTrace(faults, road, result), sample)) {
    road.reset();
    faults.arm(mode, k);
    int code = road.run();
    FaultCall failed = faults.failed();
    faults.disarm();
    if (failed.op.empty()) continue;
    ++result.runs;
    ++result.outcomes[(code == 0 ? "OK, " : "failed, ") + std::string(cut ? "cut at " : "") + failed.op];
    std::string problem;
    if (cut) {
      faults.closeLeftHandles();  // the process ends
      problem = plainRunAfter(faults, older, road);
    } else {
      bool setAside = false;
      problem = older.judge(code == 0, road.dest, road.tempRoot, failed, &setAside);
      if (problem.empty() && road.check) problem = road.check(code, failed);
      // The file kept aside must go with the next move.
      if (problem.empty() && setAside) problem = plainRunAfter(faults, older, road);
    }
    if (!problem.empty()) result.unsound.push_back((cut ? "cut at " : "") + describeFault(k, failed) + ": " + problem);
  }
  return result;
}

}  // namespace velmo::test
