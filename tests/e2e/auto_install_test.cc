// The patcher with the small demo game's pack, run unattended as a user
// would: the tree it builds, the log beside it, the exit code, and what is
// left behind when it fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/demo_fixture.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

class AutoInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    fs::copy_file(demo + "/velmo-patcher", dir / "velmo-patcher");
    xapk = demo + "/harrowmere-1.0.7.xapk";
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("TMPDIR"); }
  int run(const std::string& xapkPath, const std::string& dest, const std::string& env = "") {
    return runCommand(env + " " + shellQuote(dir / "velmo-patcher") + " /auto " + shellQuote(xapkPath) + " " +
                      shellQuote(dest));
  }
  std::string log() { return readText(dir / "patcher-auto.txt"); }
  bool leftNothing(const std::string& dest) {
    return !exists(dest + "/.velmo-staging") && fs::is_empty(tmp.path());
  }

  std::string demo, xapk;
  TempDir dir, tmp, out;
};

TEST_F(AutoInstall, BuildsExactlyTheExpectedTreeAndMergesIntoWhatIsThere) {
  std::string game = out / "game";
  ASSERT_EQ(run(xapk, game), 0);
  EXPECT_EQ(log(), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));

  // A second run over it: same-named files replaced, the user's kept, a
  // leftover staging folder removed first; the log is replaced.
  writeText(game + "/VELMO.exe", "an old exe");
  writeText(game + "/VELMO_Data/savegame.dat", "the player's save");
  fs::create_directories(game + "/.velmo-staging/VELMO_Data");
  writeText(game + "/.velmo-staging/VELMO_Data/stale.bin", "from a killed run");
  writeText(dir / "patcher-auto.txt", "a much longer text from an earlier run");
  ASSERT_EQ(run(xapk, game), 0);
  EXPECT_EQ(log(), "OK");
  EXPECT_EQ(readBytes(game + "/VELMO.exe"), readBytes(demo + "/expected/VELMO.exe"));
  EXPECT_EQ(readText(game + "/VELMO_Data/savegame.dat"), "the player's save");
  EXPECT_FALSE(exists(game + "/VELMO_Data/stale.bin"));
  EXPECT_TRUE(leftNothing(game));
}

TEST_F(AutoInstall, CancelledByTheEnvironmentLeavesNoDestinationItCreated) {
  std::string game = out / "new-parent/game";
  EXPECT_EQ(run(xapk, game, "VELMO_CANCEL_MS=1"), 1);
  EXPECT_EQ(log(), "Cancelled.");
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_directory(out / "new-parent"));  // parents it created stay
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  for (const char* off : {"VELMO_CANCEL_MS=", "VELMO_CANCEL_MS=0", "VELMO_CANCEL_MS=soon", "VELMO_CANCEL_MS=-5"}) {
    fs::remove_all(game);
    EXPECT_EQ(run(xapk, game, off), 0) << off;
  }
}

TEST_F(AutoInstall, BadInputsGiveTheirMessageAndLeaveNothingBehind) {
  std::string game = out / "game";
  // A damaged XAPK: cut short.
  Bytes bytes = readBytes(xapk);
  bytes.resize(bytes.size() / 2);
  writeBytes(dir / "cut.xapk", bytes);
  EXPECT_EQ(run(dir / "cut.xapk", game), 1);
  EXPECT_EQ(log(), "The XAPK is missing or is not a zip file.");
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  // Another build: the right names, other contents.
  XapkLayout other;
  other.apkName = "com.velmo.harrowmere.apk";
  other.obbName = "Android/obb/com.velmo.harrowmere/main.107.com.velmo.harrowmere.obb";
  other.apkEntries = {{"assets/bin/Data/mainData", Bytes(39008, 1), false}};
  other.obbEntries = {{"TITMN01A.unity3d", Bytes(10, 2), true}};
  ASSERT_TRUE(writeXapk(dir / "other.xapk", other));
  EXPECT_EQ(run(dir / "other.xapk", game), 1);
  EXPECT_EQ(log(), "This is not the expected VELMO XAPK (entry assets/bin/Data/mainData failed its CRC).");
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  EXPECT_EQ(run(xapk, ""), 1);
  EXPECT_EQ(log(), "usage: VELMO Patcher.exe /auto <xapk> <dest>");
}

TEST_F(AutoInstall, AFileSizeLimitEndsInTheNormalFailurePath) {
  // 250 blocks of 512 bytes (sh): the XAPK's copies fit, VELMO.exe does not.
  std::string game = out / "game";
  EXPECT_EQ(run(xapk, game, "ulimit -f 250;"), 1);
  EXPECT_EQ(log().rfind("Could not ", 0), 0u) << log();
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST_F(AutoInstall, ADamagedDeltaStopsTheJobWithItsMessage) {
  // Re-embed the pack with one delta blob damaged; its digest is rebuilt, so
  // only the delta itself is wrong.
  Bytes pack = readBytes(demo + "/pack.bin");
  ASSERT_TRUE(damageDeltaBlob(pack, L"VELMO_Data\\level0"));
  writeBytes(dir / "pack.bin", pack);
  ASSERT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " embed " + shellQuote(dir / "velmo-patcher") + " " +
                       shellQuote(dir / "pack.bin") + " -o " + shellQuote(dir / "velmo-patcher")),
            0);
  std::string game = out / "game";
  EXPECT_EQ(run(xapk, game), 1);
  std::string message = log();
  EXPECT_TRUE(message == "Could not apply the delta for VELMO_Data\\level0." ||
              message == "The patched file did not match (VELMO_Data\\level0).")
      << message;
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST_F(AutoInstall, KilledMidwayThenRunAgainEndsWithTheRightTree) {
  std::string game = out / "game";
  for (int delayMs : {20, 80, 200}) {
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string exe = dir / "velmo-patcher";
      ::execl(exe.c_str(), exe.c_str(), "/auto", xapk.c_str(), game.c_str(), nullptr);
      ::_exit(127);
    }
    ::usleep(useconds_t(delayMs) * 1000);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(run(xapk, game), 0) << delayMs;
    std::string difference;
    EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << delayMs << ": " << difference;
    EXPECT_FALSE(exists(game + "/.velmo-staging"));
  }
}

}  // namespace
}  // namespace velmo
