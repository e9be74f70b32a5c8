// Every call of the unattended install over an older install failed in
// turn, then the power cut at every call followed by a plain run: the full
// sweeps of which `make test` runs the move, the clean-ups and a sample.
// Prints the call count, the outcomes, every unsound one and the time.
#include <chrono>
#include <cstdio>

#include "support/auto_road.h"
#include "support/demo_fixture.h"

using namespace velmo;
using namespace velmo::test;
using Clock = std::chrono::steady_clock;

int main() {
  std::string demo = smallDemoGame();
  if (demo.empty()) {
    std::printf("the demo game could not be made\n");
    return 1;
  }
  AutoRoad autoRoad;
  useTempFolder(autoRoad.tmp / "temp");
  if (!autoRoad.make(demo)) {
    std::printf("the older install could not be made\n");
    return 1;
  }
  FaultPlatform faults;
  faults.setEnvironment(L"VELMO_THREADS", L"1");
  size_t unsound = 0;
  for (bool cuts : {false, true}) {
    auto start = Clock::now();
    SweepResult r =
        sweepFaults(faults, autoRoad.older, autoRoad.road, cuts ? FaultMode::PowerCut : FaultMode::Once, 0);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s: %s (%.1f s)\n", cuts ? "power cuts" : "single faults", r.summary().c_str(), seconds);
    for (const auto& u : r.unsound) std::printf("  %s\n", u.c_str());
    unsound += r.unsound.size();
  }
  restoreTempFolder();
  return unsound == 0 ? 0 : 1;
}
