// Making a pack from a demo game's two releases (velmo-demo-game DIR --scale
// ...): wall time and peak RSS of make with one worker and with all cores,
// against one install of the pack it made; and the made pack's size against
// the pack of the demo's hand-made manifest.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "bench_util.h"
#include "common/utf8.h"
#include "install/install_driver.h"
#include "install/install_job.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/pack_maker.h"
#include "velmo-pack/tool_io.h"

using namespace velmo;
using namespace velmo::bench;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_make DEMO_DIR\n");
    return 2;
  }
  std::string demo = argv[1], work = "/tmp/velmo-bench-make";
  fs::remove_all(work);
  fs::create_directories(work);
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());

  MakeOptions o;
  o.xapkPath = demo + "/harrowmere-1.0.7.xapk";
  o.gameFolder = demo + "/expected";
  for (const char* asset : {"bg.png", "music_a.pcm", "music_b.pcm"}) {
    std::string file = demo + "/pack-src/assets/" + asset;
    if (fs::exists(file)) o.assets.push_back({asset, file});
  }
  MakeSummary summary;
  double makeWall[2] = {0, 0}, makePeak[2] = {0, 0}, makeCpu[2] = {0, 0};
  for (int run = 0; run < 2; ++run) {
    o.workers = run == 0 ? 1 : cores;
    o.packPath = work + "/pack-" + std::to_string(o.workers) + ".bin";
    std::string error;
    resetPeak();
    auto t0 = Clock::now();
    double cpu0 = cpuSeconds();
    if (!makePack(o, summary, error)) {
      std::printf("make failed: %s\n", error.c_str());
      return 1;
    }
    makeWall[run] = since(t0), makePeak[run] = peakMiB(), makeCpu[run] = cpuSeconds() - cpu0;
  }
  Bytes one, all;
  readFileBytes(work + "/pack-1.bin", one);
  readFileBytes(o.packPath, all);

  // One install of the made pack, the way the patcher runs it.
  Bytes digest(32);
  sha256(all, digest.data());
  PatchPack pack;
  if (!loadPatchPackFrom(all, digest, pack)) return 1;
  resetPeak();
  auto t0 = Clock::now();
  double cpu0 = cpuSeconds();
  XapkSource source;
  std::wstring text;
  if (!openAndCheckXapk(source, pack, fromUtf8(o.xapkPath), text)) {
    std::printf("%s\n", toUtf8(text).c_str());
    return 1;
  }
  InstallOptions options;
  options.destinationFolder = fromUtf8(work + "/game");
  InstallState state;
  InstallContext job;
  bindInstallJob(job, pack, source, options, state);
  bool ok = runInstallHere(job);
  closeXapk(source);
  double installWall = since(t0), installPeak = peakMiB(), installCpu = cpuSeconds() - cpu0;

  Bytes hand;
  std::string error;
  bool handOk = buildPackFromManifest(demo + "/pack-src/hand-manifest.json", hand, error);
  fs::remove_all(work);

  std::printf("make, 1 worker:    %6.1f s (CPU %6.1f s), peak RSS %6.0f MiB\n", makeWall[0], makeCpu[0], makePeak[0]);
  std::printf("make, %u workers:   %6.1f s (CPU %6.1f s), peak RSS %6.0f MiB\n", cores, makeWall[1], makeCpu[1],
              makePeak[1]);
  std::printf("one install:       %6.1f s (CPU %6.1f s), peak RSS %6.0f MiB%s\n", installWall, installCpu, installPeak,
              ok ? "" : " (FAILED)");
  std::printf("make / install:    %.2fx with all workers (target at most 2.5x)\n", makeWall[1] / installWall);
  std::printf("same pack with 1 and %u workers: %s\n", cores, one == all ? "yes" : "NO");
  std::printf("made pack:         %zu bytes; hand-made manifest's pack: %s%zu bytes (%+lld)\n", all.size(),
              handOk ? "" : "not built, ", hand.size(), (long long)all.size() - (long long)hand.size());
  for (const auto& k : summary.kinds) {
    std::printf("  %-7s %5zu records %12llu bytes\n", k.kind.c_str(), k.records, (unsigned long long)k.bytes);
  }
  std::printf("  install re-encodes %llu bytes; %zu fell back\n", (unsigned long long)summary.reencodedBytes,
              summary.fallbacks.size());
  return ok && one == all ? 0 : 1;
}
