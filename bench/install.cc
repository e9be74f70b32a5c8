// The whole install on a demo game (velmo-demo-game DIR --scale ...), once
// with one worker and once with all cores: wall time of the job, CPU time and peak RSS of open and job, and
// wall time against the floor, which is timed in the same run by running
// liblzma alone over the same bundle payloads: max(largest, sum / workers).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "common/utf8.h"
#include "install/build_pipeline.h"
#include "install/install_driver.h"
#include "install/install_job.h"
#include "patch/lzma_raw.h"
#include "patch/unityweb.h"
#include "velmo-pack/tool_io.h"
#include "xapk/xapk_extract.h"

using namespace velmo;
using namespace velmo::bench;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Encode time of every bundle payload of the expected tree, liblzma alone.
std::vector<double> encodeTimes(const std::string& expected) {
  std::vector<double> times;
  for (auto& f : fs::recursive_directory_iterator(expected)) {
    if (!f.is_regular_file() || f.path().extension() != ".unity3d") continue;
    Bytes bundle, payload, encoded;
    UnityWebHeader h;
    if (!readFileBytes(f.path().string(), bundle) || !parseUnityWebHeader(bundle, h)) continue;
    if (lzmaDecodeRaw(unityWebLzmaData(bundle, h), h.dictionarySize, h.lc, h.lp, h.pb, uint64_t(1) << 32,
                      payload) != LzmaDecodeResult::Ok) {
      continue;
    }
    auto t0 = Clock::now();
    lzmaEncodeRaw(payload, encoded);
    times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_install DEMO_DIR\n");
    return 2;
  }
  std::string demo = argv[1];
  Bytes container, digest(32);
  if (!readFileBytes(demo + "/pack.bin", container)) return 2;
  sha256(container, digest.data());
  PatchPack pack;
  if (!loadPatchPackFrom(container, digest, pack)) return 2;
  std::string work = "/tmp/velmo-bench-install";
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const char* fromEnv = std::getenv("VELMO_THREADS");
  std::vector<unsigned> runs = {1, fromEnv ? unsigned(std::atoi(fromEnv)) : cores};

  struct Run {
    unsigned workers;
    double wall, cpu, peak, open;
    bool ok;
  };
  std::vector<Run> results;
  uint64_t innerBytes = 0, total = 0;
  for (unsigned workers : runs) {
    fs::remove_all(work);
    fs::create_directories(work);
    setenv("VELMO_THREADS", std::to_string(workers).c_str(), 1);
    resetPeak();
    double cpu0 = cpuSeconds();
    auto t0 = Clock::now();
    XapkSource source;
    std::wstring text;
    if (!openXapk(source, pack, fromUtf8(demo + "/harrowmere-1.0.7.xapk"), text) ||
        !verifyXapkFingerprint(source, pack, text)) {
      std::printf("%s\n", toUtf8(text).c_str());
      return 1;
    }
    double openS = std::chrono::duration<double>(Clock::now() - t0).count();
    innerBytes = 0;  // what opening wrote: the copies of compressed inner archives
    for (auto& f : fs::recursive_directory_iterator(toUtf8(source.tempFolder)))
      if (f.is_regular_file()) innerBytes += f.file_size();
    InstallOptions options;
    options.destinationFolder = fromUtf8(work + "/game");
    InstallState state;
    InstallContext job{&pack, &source, &options, &state, L"", nullptr};
    auto t1 = Clock::now();
    bool ok = runInstallHere(job);
    double wall = std::chrono::duration<double>(Clock::now() - t1).count();
    closeXapk(source);
    total = state.bytesTotal;
    if (!ok) std::printf("FAILED: %s\n", toUtf8(copyErrorText(state)).c_str());
    bool same = ok && std::system(("diff -r -q " + demo + "/expected " + work + "/game > /dev/null").c_str()) == 0;
    results.push_back({workers, wall, cpuSeconds() - cpu0, peakMiB(), openS, same});
  }
  fs::remove_all(work);

  std::vector<double> enc = encodeTimes(demo + "/expected");
  double sum = 0, largest = 0;
  for (double t : enc) sum += t, largest = std::max(largest, t);
  std::printf("%zu bundles: liblzma alone %.1f s in all, largest %.1f s; %u cores; budget %.0f MiB\n", enc.size(), sum,
              largest, cores, double(pipelineLimits().memoryBudget) / (1 << 20));
  std::printf("written: %.0f MB inner-archive copies (a copy of every inner archive would be about %.0f MB) + %.0f MB "
              "game files\n",
              innerBytes / 1e6, fs::file_size(demo + "/harrowmere-1.0.7.xapk") / 1e6, total / 1e6);
  std::printf("workers  tree       open s   job s   cpu s  peak RSS MiB  floor s  wall/floor\n");
  for (const Run& r : results) {
    double floor = std::max(largest, sum / r.workers);
    std::printf("%7u  %-9s  %6.1f  %6.1f  %6.1f  %12.0f  %7.1f  %10.2f\n", r.workers, r.ok ? "identical" : "DIFFERENT",
                r.open, r.wall, r.cpu, r.peak, floor, r.wall / floor);
  }
  if (results.size() == 2) std::printf("speed-up %.2fx\n", results[0].wall / results[1].wall);
  return results[0].ok && results.back().ok ? 0 : 1;
}
