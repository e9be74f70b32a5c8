// How long a job takes to end after Cancel is pressed in the middle of a
// bundle: the press is seen at the running coder's next progress poll (for
// the encoder every kLzmaEncodeStep of input), then the staging folder is
// removed. The target is 100 ms. Runs the same 6 MB bundle as the unit test,
// with one worker and with two, ROUNDS times each (default 5).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/utf8.h"
#include "install/install_driver.h"
#include "support/patch_fixture.h"
#include "velmo-pack/source_records.h"

using namespace velmo;
using namespace velmo::test;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  PatchFixture f;
  f.layout.apkEntries = {{"assets/unused", {1}, true}};
  Bytes payload = gameLikePayload(6000000, 5), target = payload;
  for (size_t i = 300; i < target.size(); i += 7001) target[i] ^= 0x21;
  Bytes bundle = unityWebBundleOf(payload, foreignEncoderSettings());
  f.layout.obbEntries.push_back({"slow.unity3d", bundle, true});
  PackEntry e;
  e.source = XapkArchive::Obb;
  e.sourceName = L"slow.unity3d";
  e.targetPath = L"VELMO_Data\\StreamingAssets\\slow.unity3d";
  std::string error;
  if (!addBundleRecord(f.builder, e, bundle, target, false, error) || !f.open()) {
    std::printf("could not make the pack: %s\n", error.c_str());
    return 1;
  }
  const uint64_t size = f.pack.entries.back().size;

  for (const char* workers : {"1", "2"}) {
    setenv("VELMO_THREADS", workers, 1);
    std::vector<double> waits;
    for (int r = 0; r < rounds; ++r) {
      InstallState state;
      InstallOptions options;
      options.destinationFolder = wide(f.dir / ("game" + std::to_string(r)));
      InstallContext job;
      bindInstallJob(job, f.pack, f.source, options, state);
      std::atomic<bool> done{false};
      bool ok = true;
      std::thread worker([&] {
        ok = runInstallHere(job);
        done = true;
      });
      // Mid-bundle: the bar has moved half-way through it.
      while (!done && state.bytesDone.load() < size / 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
      auto pressed = Clock::now();
      state.cancelRequested = true;
      while (!done) std::this_thread::sleep_for(std::chrono::microseconds(100));
      double ms = std::chrono::duration<double, std::milli>(Clock::now() - pressed).count();
      worker.join();
      if (ok || copyErrorText(state) != kCancelledText) {
        std::printf("the job was not cancelled: %s\n", toUtf8(copyErrorText(state)).c_str());
        return 1;
      }
      waits.push_back(ms);
    }
    std::sort(waits.begin(), waits.end());
    std::printf("%s worker(s): Cancel to job end  median %.1f ms, max %.1f ms over %d rounds (target 100 ms)\n",
                workers, waits[waits.size() / 2], waits.back(), rounds);
  }
  return 0;
}
