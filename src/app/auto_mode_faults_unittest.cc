// The unattended run over an older install with the player's own files,
// with each file-system call failing in turn, and with the power cut at
// each call followed by a plain run.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "app/auto_mode.h"
#include "common/utf8.h"
#include "support/demo_fixture.h"
#include "support/fault_sweep.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "xapk/xapk_source.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

class AutoModeFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    fs::create_directories(tmp / "temp");
    fs::create_directories(tmp / "exe");
    useTempFolder(tmp / "temp");
    container = readBytes(demo + "/pack.bin");
    digest = digestOf(container);
    ASSERT_TRUE(loadPatchPackFrom(container, digest, startup.pack));
    ASSERT_TRUE(older.make(demo, tmp.path()));
    startup.exeDirectory = wide(tmp / "exe");
    startup.commandLine = {true, wide(demo + "/harrowmere-1.0.7.xapk"), wide(tmp / "game")};
    faults.setEnvironment(kThreadsEnvName, L"1");
  }
  void TearDown() override { restoreTempFolder(); }

  int run() {
    InstallState state;
    return runAutoMode(startup, state);
  }
  std::string log() { return exists(tmp / "exe/patcher-auto.txt") ? readText(tmp / "exe/patcher-auto.txt") : ""; }
  bool hasLog() { return exists(tmp / "exe/patcher-auto.txt"); }
  // A run with nothing failing, as the next start of the program makes it.
  std::string plainRunAfter(const std::string& what) {
    faults.disarm();
    faults.actAsNextProcess(true);
    removeStaleXapkTempFolders();
    int code = run();
    faults.actAsNextProcess(false);
    std::string problem = older.judge(code == 0, tmp / "game", tmp / "temp", FaultCall());
    if (code != 0) problem = "the plain run failed: " + log();
    else if (log() != "OK") problem = "the plain run logged " + log();
    return problem.empty() ? problem : what + ", then " + problem;
  }
  void reset() {
    older.restore(tmp / "game");
    fs::remove(tmp / "exe/patcher-auto.txt");
  }

  static constexpr const wchar_t* kThreadsEnvName = L"VELMO_THREADS";
  std::string demo;
  TempDir tmp;
  Bytes container, digest;
  Startup startup;
  OlderInstall older;
  FaultPlatform faults;
};

TEST_F(AutoModeFaults, EveryCallFailingInTurnGivesOkOverTheExactTreeOrTheFolderAsBefore) {
  reset();
  ASSERT_EQ(run(), 0) << log();
  const uint64_t count = faults.calls();
  std::map<std::string, int> outcomes;
  std::vector<std::string> unsound;
  for (uint64_t k = 1; k <= count; ++k) {
    reset();
    faults.arm(FaultMode::Once, k);
    int code = run();
    FaultCall failed = faults.failed();
    faults.disarm();
    if (failed.op.empty()) continue;
    std::string what = describeFault(k, failed);
    bool setAside = false;
    std::string problem = older.judge(code == 0, tmp / "game", tmp / "temp", failed, &setAside);
    // The log holds the result whole, or is absent when the fault was its own.
    bool logFault = toUtf8(failed.path).ends_with("patcher-auto.txt");
    bool logSound = hasLog() ? !log().empty() && (code == 0) == (log() == "OK") : logFault;
    if (problem.empty() && !logSound) {
      problem = "exit code " + std::to_string(code) + (hasLog() ? " with the log \"" + log() + "\"" : " and no log");
    }
    if (problem.empty() && setAside) problem = plainRunAfter(what);
    if (!problem.empty()) unsound.push_back(what + ": " + problem);
    ++outcomes[(code == 0 ? "OK, " : "failed, ") + failed.op];
  }
  std::cout << count << " calls failed in turn:";
  for (const auto& [outcome, n] : outcomes) std::cout << " " << outcome << " " << n << ";";
  std::cout << "\n";
  EXPECT_GT(count, 100u);
  for (const auto& u : unsound) ADD_FAILURE() << u;
}

TEST_F(AutoModeFaults, APowerCutAtAnyCallIsRepairedByThePlainRunAfter) {
  reset();
  ASSERT_EQ(run(), 0) << log();
  const uint64_t count = faults.calls();
  std::vector<std::string> unsound;
  for (uint64_t k = 1; k <= count; ++k) {
    reset();
    faults.arm(FaultMode::PowerCut, k);
    run();
    FaultCall failed = faults.failed();
    faults.closeLeftHandles();  // the process ends
    std::string problem = plainRunAfter("cut at " + describeFault(k, failed));
    if (!problem.empty()) unsound.push_back(problem);
  }
  std::cout << count << " power cuts, each repaired by the next run\n";
  for (const auto& u : unsound) ADD_FAILURE() << u;
}

}  // namespace
}  // namespace velmo
