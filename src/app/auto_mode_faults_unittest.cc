// The unattended run over an older install with the player's own files,
// with each file-system call failing in turn, and with the power cut at
// each call followed by a plain run.
#include <gtest/gtest.h>

#include <iostream>

#include "support/auto_road.h"
#include "support/demo_fixture.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using namespace velmo::test;

class AutoModeFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    useTempFolder(auto_.tmp / "temp");
    ASSERT_TRUE(auto_.make(demo));
    faults.setEnvironment(L"VELMO_THREADS", L"1");
  }
  void TearDown() override { restoreTempFolder(); }

  void expectSound(const SweepResult& result) {
    std::cout << result.summary() << "\n";
    EXPECT_GT(result.calls, 100u);
    EXPECT_GT(result.runs, kSample);
    for (const auto& u : result.unsound) ADD_FAILURE() << u;
  }

  // Calls before the move failed in the tests; bench_fault_sweep fails every call.
  static constexpr size_t kSample = 40;
  AutoRoad auto_;
  FaultPlatform faults;
};

TEST_F(AutoModeFaults, EveryCallFailingGivesOkOverTheExactTreeOrTheFolderAsBefore) {
  expectSound(sweepFaults(faults, auto_.older, auto_.road, FaultMode::Once, kSample));
}

TEST_F(AutoModeFaults, APowerCutAtAnyCallIsRepairedByTheNextRun) {
  expectSound(sweepFaults(faults, auto_.older, auto_.road, FaultMode::PowerCut, kSample));
}

}  // namespace
}  // namespace velmo
