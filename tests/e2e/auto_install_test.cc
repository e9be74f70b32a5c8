// The patcher with the small demo game's pack, run unattended as a user
// would: the tree it builds, the log beside it, the exit code, and what is
// left behind when it fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/demo_fixture.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

// A command started through the shell in the background; its exit code.
pid_t startCommand(const std::string& command) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    ::_exit(127);
  }
  return pid;
}
int exitCodeOf(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
// Waits (two minutes at most) for a file to appear.
bool appears(const std::string& path) {
  for (int i = 0; i < 6000 && !exists(path); ++i) ::usleep(20000);
  return exists(path);
}

class AutoInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    fs::copy_file(demo + "/velmo-patcher", dir / "velmo-patcher");
    xapk = demo + "/harrowmere-1.0.7.xapk";
    useTempFolder(tmp.path());
  }
  void TearDown() override { restoreTempFolder(); }
  int run(const std::string& xapkPath, const std::string& dest, const std::string& env = "") {
    return runCommand(env + " " + shellQuote(dir / "velmo-patcher") + " /auto " + shellQuote(xapkPath) + " " +
                      shellQuote(dest));
  }
  std::string log() { return readText(dir / "patcher-auto.txt"); }
  // Runs the patcher after plant(pid) has prepared traps for the process id
  // it will run under; returns its exit code.
  int runWithPid(const std::string& dest, const std::function<void(pid_t)>& plant) {
    int go[2];
    if (::pipe(go) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
      char c;
      ::close(go[1]);
      if (::read(go[0], &c, 1) != 1) ::_exit(126);
      std::string exe = dir / "velmo-patcher";
      ::execl(exe.c_str(), exe.c_str(), "/auto", xapk.c_str(), dest.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(go[0]);
    plant(pid);
    (void)!::write(go[1], "g", 1);
    ::close(go[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
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

  // Another build: the right names, other contents. The check stops at the
  // fingerprint's first line, an APK entry.
  std::string first = firstFingerprintEntry(demo);
  ASSERT_FALSE(first.empty());
  XapkLayout other;
  other.apkName = "com.velmo.harrowmere.apk";
  other.obbName = "Android/obb/com.velmo.harrowmere/main.107.com.velmo.harrowmere.obb";
  other.apkEntries = {{first, Bytes(39008, 1), false}};
  other.obbEntries = {{"TITMN01A.unity3d", Bytes(10, 2), true}};
  ASSERT_TRUE(writeXapk(dir / "other.xapk", other));
  EXPECT_EQ(run(dir / "other.xapk", game), 1);
  EXPECT_EQ(log(), "This is not the expected VELMO XAPK (entry " + first + " failed its CRC).");
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
  // Each later run removed the copies a killed run left.
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST_F(AutoInstall, TheTemporaryFolderCannotBeHijacked) {
  std::string victim = out / "victim";
  fs::create_directories(victim);
  writeText(victim + "/precious.txt", "keep me");
  std::string game = out / "game";
  // The run's old name taken by a link to the victim's folder.
  EXPECT_EQ(runWithPid(game, [&](pid_t pid) {
              fs::create_directory_symlink(victim, tmp / ("velmo-patcher-" + std::to_string(pid)));
            }),
            0);
  EXPECT_EQ(log(), "OK");
  EXPECT_EQ(treeSnapshot(victim).size(), 1u);
  EXPECT_EQ(readText(victim + "/precious.txt"), "keep me");
  // A world-writable folder of that name whose game.apk links to a victim file.
  fs::remove_all(tmp.path()), fs::create_directory(tmp.path());
  EXPECT_EQ(runWithPid(game, [&](pid_t pid) {
              std::string trap = tmp / ("velmo-patcher-" + std::to_string(pid));
              fs::create_directory(trap);
              fs::permissions(trap, fs::perms::all);
              fs::create_symlink(victim + "/precious.txt", trap + "/game.apk");
            }),
            0);
  EXPECT_EQ(log(), "OK");
  EXPECT_EQ(readText(victim + "/precious.txt"), "keep me");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
}

TEST_F(AutoInstall, AMoveThatCannotSucceedChangesNothing) {
  std::string game = out / "game";
  fs::create_directories(game + "/VELMO_Data/StreamingAssets/bg.png");
  writeText(game + "/VELMO_Data/StreamingAssets/bg.png/mine.txt", "a folder where a file goes");
  writeText(game + "/VELMO.exe", "the user's old exe");
  writeText(game + "/VELMO_Data/level0", "the user's old level");
  auto before = treeSnapshot(game);
  EXPECT_EQ(run(xapk, game), 1);
  EXPECT_EQ(log(), "Could not move the finished files into place.");
  EXPECT_EQ(treeSnapshot(game), before);
  EXPECT_TRUE(fs::is_empty(tmp.path()));

  fs::remove_all(game + "/VELMO_Data");
  writeText(game + "/VELMO_Data", "a file where a folder goes");
  before = treeSnapshot(game);
  EXPECT_EQ(run(xapk, game), 1);
  EXPECT_EQ(log(), "Could not move the finished files into place.");
  EXPECT_EQ(treeSnapshot(game), before);
}

TEST_F(AutoInstall, PathsThatAreNotUtf8ReachTheDiskByteForByte) {
  std::string exeFolder = dir / "exe\xe9";
  fs::create_directory(exeFolder);
  fs::copy_file(dir / "velmo-patcher", exeFolder + "/velmo-patcher");
  fs::copy_file(xapk, dir / "spiel\xe9.xapk");
  std::string game = out / "g\xe9";
  ASSERT_EQ(runCommand(shellQuote(exeFolder + "/velmo-patcher") + " /auto " + shellQuote(dir / "spiel\xe9.xapk") +
                       " " + shellQuote(game)),
            0);
  EXPECT_EQ(readText(exeFolder + "/patcher-auto.txt"), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_FALSE(exists(out / "g\xef\xbf\xbd"));
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  // A message names the path as text, with a replacement character.
  writeText(out / "f\xe9", "a file");
  EXPECT_EQ(runCommand(shellQuote(exeFolder + "/velmo-patcher") + " /auto " + shellQuote(dir / "spiel\xe9.xapk") +
                       " " + shellQuote(out / "f\xe9/game")),
            1);
  EXPECT_EQ(readText(exeFolder + "/patcher-auto.txt"), "Could not create the folder\n" + out / "f\xef\xbf\xbd/game");
}

TEST_F(AutoInstall, ASecondRunIntoTheSameFolderFailsAndTheFirstEndsExact) {
  // The first run is held in the middle by a disk that stops taking its
  // staging writes until the gate opens (one worker, so it is held whole).
  std::string gated = buildPath("wizard-tools/libgated_writes.so");
  if (!exists(gated)) GTEST_SKIP() << "no " << gated << " (the sanitizer build has none)";
  std::string game = out / "game", gate = out / "gate";
  fs::create_directories(game);
  writeText(game + "/VELMO.exe", "an older exe");
  pid_t first = startCommand("GATED_WRITES_GATE=" + shellQuote(gate) + " GATED_WRITES_FREE=3 VELMO_THREADS=1 LD_PRELOAD=" +
                             shellQuote(gated) + " " + shellQuote(dir / "velmo-patcher") + " /auto " +
                             shellQuote(xapk) + " " + shellQuote(game));
  ASSERT_TRUE(appears(gate + ".waiting"));
  auto held = treeSnapshot(game);

  // The second run, from a copy with a log of its own.
  std::string second = out / "second";
  fs::create_directories(second);
  fs::copy_file(dir / "velmo-patcher", second + "/velmo-patcher");
  EXPECT_EQ(runCommand(shellQuote(second + "/velmo-patcher") + " /auto " + shellQuote(xapk) + " " + shellQuote(game)), 1);
  EXPECT_EQ(readText(second + "/patcher-auto.txt"), "Could not create the staging folder.");
  EXPECT_EQ(treeSnapshot(game), held);  // nothing of the first run's touched

  writeText(gate, "");
  EXPECT_EQ(exitCodeOf(first), 0);
  EXPECT_EQ(log(), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));
}

TEST_F(AutoInstall, ALinkedDataFolderOnAnotherDiskIsUpdatedAndNothingIsLeftBehind) {
  struct stat here, shm;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(out.path().c_str(), &here) != 0 || here.st_dev == shm.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string game = out / "game";
  ASSERT_EQ(run(xapk, game), 0);
  // The earlier install's data moved to the other disk, linked back, and
  // one of its files an older version.
  char pattern[] = "/dev/shm/velmo-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string other = std::string(pattern) + "/VELMO_Data";
  fs::copy(game + "/VELMO_Data", other, fs::copy_options::recursive);
  fs::remove_all(game + "/VELMO_Data");
  fs::create_directory_symlink(other, game + "/VELMO_Data");
  writeText(other + "/level0", "an older level");
  writeText(other + "/savegame.dat", "the player's save");

  ASSERT_EQ(run(xapk, game), 0);
  EXPECT_EQ(log(), "OK");
  EXPECT_TRUE(fs::is_symlink(game + "/VELMO_Data"));
  fs::remove(other + "/savegame.dat");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected/VELMO_Data", other, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));  // no staged copies kept
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace velmo
