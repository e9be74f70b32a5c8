// The Windows patcher, cross-built and carrying the small demo game's pack
// (LZMS items, read by our own decoder under Wine, beside plain ones) in its
// resources, run unattended under Wine as a Windows user would: the tree it
// builds, the log beside the executable, the exit code, what is left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "install/install_driver.h"
#include "common/utf8.h"
#include "pack/pack_loader.h"
#include "support/demo_fixture.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"
#include "velmo-pack/pe_resources.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

const std::string kPackLine = toUtf8(kPackDamagedLogText);
const std::string kWinBuild = VELMO_WINDOWS_BUILD_DIR;
const std::string kBarePatcher = kWinBuild + "/VELMO Patcher.exe";

// The path as a Windows program under Wine names it (drive Z: is the root).
std::string winPath(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

// The demo game with the Windows patcher, made once per test process.
const std::string& demoGame() {
  static TempDir* dir = new TempDir();  // kept until the process ends
  static std::string path = [] {
    std::string out = dir->path() + "/demo";
    int rc = runCommand(shellQuote(buildPath("velmo-demo-game")) + " " + shellQuote(out) +
                        " --scale small --patcher " + shellQuote(kBarePatcher));
    return rc == 0 ? out : std::string();
  }();
  return path;
}

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

// A Windows program under Wine in the tests' prefix, as a shell command.
std::string wineCommand(const std::string& program, const std::vector<std::string>& args, const std::string& env = "") {
  std::string command = env + " sh " + shellQuote(std::string(VELMO_SOURCE_DIR) + "/scripts/wine-run.sh") + " " +
                        shellQuote(kWinBuild + "/wineprefix") + " " + shellQuote(program);
  for (const auto& a : args) command += " " + shellQuote(a);
  return command;
}

class WineAuto : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exists(kBarePatcher)) << "no Windows build at " << kWinBuild << " (make windows)";
    demo = demoGame();
    ASSERT_FALSE(demo.empty());
    exe = dir / "VELMO Patcher.exe";
    fs::copy_file(demo + "/VELMO Patcher.exe", exe);
    xapk = demo + "/harrowmere-1.0.7.xapk";
  }
  std::string autoCommand(const std::string& program, const std::string& xapkPath, const std::string& winDest,
                          const std::string& env = "") {
    return wineCommand(program, {"/auto", xapkPath.empty() ? "" : winPath(xapkPath), winDest}, env);
  }
  int runProgram(const std::string& program, const std::string& xapkPath, const std::string& dest,
                 const std::string& env = "") {
    return runCommand(autoCommand(program, xapkPath, winPath(dest), env));
  }
  int run(const std::string& xapkPath, const std::string& dest, const std::string& env = "") {
    return runProgram(exe, xapkPath, dest, env);
  }
  std::string log() { return readText(dir / "patcher-auto.txt"); }
  // No staging folder in the destination and no XAPK copies in Wine's
  // temporary folder (the tests that look there run one at a time).
  bool leftNothing(const std::string& dest) {
    if (exists(dest + "/.velmo-staging")) return false;
    std::error_code ec;
    for (auto& user : fs::directory_iterator(kWinBuild + "/wineprefix/drive_c/users", ec)) {
      for (auto& e : fs::directory_iterator(user.path() / "Temp", ec)) {
        if (e.path().filename().string().starts_with("velmo-patcher-")) return false;
      }
    }
    return true;
  }

  std::string demo, xapk, exe;
  TempDir dir, out;
};

TEST_F(WineAuto, BuildsExactlyTheExpectedTreeAndMergesIntoTheUsersFolder) {
  // The demo's hand-written manifest compresses an item of every kind the
  // install reads (files, delta blobs, bundle payloads, assets); the made
  // pack only where that is smaller. This patcher carries the former.
  std::string handPack = dir / "hand-pack.bin";
  ASSERT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " build " +
                       shellQuote(demo + "/pack-src/hand-manifest.json") + " -o " + shellQuote(handPack)),
            0);
  fs::remove(exe);
  ASSERT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " embed " + shellQuote(kBarePatcher) + " " +
                       shellQuote(handPack) + " -o " + shellQuote(exe)),
            0);
  Bytes image = readBytes(exe);
  ByteView container, digest;
  ASSERT_TRUE(peFindResource(image, 10, 101, container));
  ASSERT_TRUE(peFindResource(image, 10, 102, digest));
  PatchPack pack;
  ASSERT_TRUE(loadPatchPackFrom(container, digest, pack));
  std::set<uint32_t> compressedKinds;
  for (const PackEntry& e : pack.entries) {
    if (e.compressed) compressedKinds.insert(e.kind);
  }
  EXPECT_EQ(compressedKinds.size(), 4u);

  std::string game = out / "game";
  ASSERT_EQ(run(xapk, game), 0);
  EXPECT_EQ(log(), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));

  // Into a folder holding the user's own files and an older build.
  writeText(game + "/VELMO.exe", "an old exe");
  writeText(game + "/VELMO_Data/savegame.dat", "the player's save");
  writeText(game + "/notes.txt", "mine");
  ASSERT_EQ(run(xapk, game), 0);
  EXPECT_EQ(log(), "OK");
  EXPECT_EQ(readBytes(game + "/VELMO.exe"), readBytes(demo + "/expected/VELMO.exe"));
  EXPECT_EQ(readText(game + "/VELMO_Data/savegame.dat"), "the player's save");
  EXPECT_EQ(readText(game + "/notes.txt"), "mine");
  fs::remove(game + "/VELMO_Data/savegame.dat");
  fs::remove(game + "/notes.txt");
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
}

TEST_F(WineAuto, NonAsciiDestinationAndAnXapkPathWithSpaces) {
  std::string spaced = out / "my games/Harrowmere copy (1).xapk";
  fs::create_directories(out / "my games");
  fs::copy_file(xapk, spaced);
  std::string game = out / "Spiele/\xC3\x89ternit\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC";  // Éternité 東京
  ASSERT_EQ(run(spaced, game), 0);
  EXPECT_EQ(log(), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));
}

TEST_F(WineAuto, DamagedOrMissingPackLogsThePackLine) {
  TempDir bare;
  fs::copy_file(kBarePatcher, bare / "VELMO Patcher.exe");
  EXPECT_EQ(runProgram(bare / "VELMO Patcher.exe", xapk, out / "game"), 1);
  EXPECT_EQ(readText(bare / "patcher-auto.txt"), kPackLine);

  Bytes good = readBytes(exe);
  ByteView pack;
  ASSERT_TRUE(peFindResource(good, 10, 101, pack));
  size_t packAt = size_t(pack.data() - good.data());
  for (size_t offset : {size_t(0), size_t(30), pack.size() - 1}) {
    Bytes damaged = good;
    damaged[packAt + offset] ^= 0x40;
    writeBytes(exe, damaged);
    EXPECT_EQ(run(xapk, out / "game"), 1) << offset;
    EXPECT_EQ(log(), kPackLine) << offset;
  }
  EXPECT_FALSE(exists(out / "game"));
}

TEST_F(WineAuto, WrongXapksAndCancelLeaveNothingBehind) {
  std::string game = out / "new-parent/game";
  Bytes bytes = readBytes(xapk);
  bytes.resize(bytes.size() / 2);
  writeBytes(dir / "cut.xapk", bytes);
  EXPECT_EQ(run(dir / "cut.xapk", game), 1);
  EXPECT_EQ(log(), "The XAPK is missing or is not a zip file.");
  EXPECT_FALSE(exists(game));

  XapkLayout other;  // the right names, other contents
  other.apkName = "com.velmo.harrowmere.apk";
  other.obbName = "Android/obb/com.velmo.harrowmere/main.107.com.velmo.harrowmere.obb";
  std::string first = firstFingerprintEntry(demo);  // where the check stops
  ASSERT_FALSE(first.empty());
  other.apkEntries = {{first, Bytes(39008, 1), false}};
  other.obbEntries = {{"TITMN01A.unity3d", Bytes(10, 2), true}};
  ASSERT_TRUE(writeXapk(dir / "other.xapk", other));
  EXPECT_EQ(run(dir / "other.xapk", game), 1);
  EXPECT_EQ(log(), "This is not the expected VELMO XAPK (entry " + first + " failed its CRC).");
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(leftNothing(game));

  EXPECT_EQ(run(xapk, game, "VELMO_CANCEL_MS=1"), 1);
  EXPECT_EQ(log(), "Cancelled.");
  EXPECT_FALSE(exists(game));
  EXPECT_TRUE(fs::is_directory(out / "new-parent"));
  EXPECT_TRUE(leftNothing(game));

  EXPECT_EQ(run("", game), 1);
  EXPECT_EQ(log(), "usage: VELMO Patcher.exe /auto <xapk> <dest>");
}

TEST_F(WineAuto, ASecondRunIntoTheSameFolderFailsAndTheFirstEndsExact) {
  // The first run is held in the middle by the native build's gated-writes
  // library, preloaded into Wine (one worker, so it is held whole).
  std::string gated = std::string(VELMO_BINARY_DIR) + "/wizard-tools/libgated_writes.so";
  if (!exists(gated)) GTEST_SKIP() << "no " << gated;
  std::string game = out / "game", gate = out / "gate";
  pid_t first = startCommand(autoCommand(exe, xapk, winPath(game),
                                         "GATED_WRITES_GATE=" + shellQuote(gate) +
                                             " GATED_WRITES_FREE=3 VELMO_THREADS=1 LD_PRELOAD=" + shellQuote(gated)));
  ASSERT_TRUE(appears(gate + ".waiting"));
  auto held = treeSnapshot(game);

  // The second run, from a copy with a log of its own.
  TempDir second;
  fs::copy_file(exe, second / "VELMO Patcher.exe");
  EXPECT_EQ(runProgram(second / "VELMO Patcher.exe", xapk, game), 1);
  EXPECT_EQ(readText(second / "patcher-auto.txt"), "Could not create the staging folder.");
  EXPECT_EQ(treeSnapshot(game), held);  // nothing of the first run's touched

  writeText(gate, "");
  EXPECT_EQ(exitCodeOf(first), 0);
  EXPECT_EQ(log(), "OK");
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));
}

TEST_F(WineAuto, ADriveLetterMappedToAFolderServesAsTheDestinationRoot) {
  ASSERT_EQ(run("", out / "unused"), 1);  // the prefix exists from here on
  std::string drive = kWinBuild + "/wineprefix/dosdevices/e:";
  std::error_code ec;
  fs::remove(drive, ec);
  TempDir root;
  fs::create_directory_symlink(root.path(), drive);
  for (const char* dest : {"E:\\", "E:/Games/VELMO"}) {
    EXPECT_EQ(runCommand(autoCommand(exe, xapk, dest)), 0) << dest;
    EXPECT_EQ(log(), "OK") << dest;
  }
  fs::remove(drive);
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", root / "Games/VELMO", difference)) << difference;
  fs::remove_all(root / "Games");
  EXPECT_TRUE(sameTree(demo + "/expected", root.path(), difference)) << difference;
}

TEST_F(WineAuto, FilesHeldByAnotherProgram) {
  std::string holder = kWinBuild + "/hold_file.exe";
  ASSERT_TRUE(exists(holder)) << "no " << holder << " (make windows)";
  std::string game = out / "game";
  ASSERT_EQ(run(xapk, game), 0);

  // The game's exe held without sharing for the whole run: the move gives
  // up after its retries and puts everything back.
  writeText(game + "/VELMO.exe", "an older exe");
  auto before = treeSnapshot(game);
  pid_t hold = startCommand(wineCommand(holder, {winPath(game + "/VELMO.exe"), winPath(out / "ready"),
                                                 winPath(out / "release")}));
  ASSERT_TRUE(appears(out / "ready"));
  EXPECT_EQ(run(xapk, game), 1);
  EXPECT_EQ(log(), "Could not move the finished files into place.");
  EXPECT_EQ(treeSnapshot(game), before);
  EXPECT_TRUE(leftNothing(game));
  writeText(out / "release", "");
  EXPECT_EQ(exitCodeOf(hold), 0);

  // A finished staged file held for two seconds (a scanner) as the job
  // ends: waited for, and the install completes.
  std::string gated = std::string(VELMO_BINARY_DIR) + "/wizard-tools/libgated_writes.so";
  if (!exists(gated)) GTEST_SKIP() << "no " << gated;
  std::string gate = out / "gate";
  pid_t job = startCommand(autoCommand(exe, xapk, winPath(game),
                                       "GATED_WRITES_GATE=" + shellQuote(gate) +
                                           " GATED_WRITES_FREE=3 VELMO_THREADS=1 LD_PRELOAD=" + shellQuote(gated)));
  ASSERT_TRUE(appears(gate + ".waiting"));
  std::string staged;
  for (auto& f : fs::recursive_directory_iterator(game + "/.velmo-staging")) {
    std::string relative = fs::relative(f.path(), game + "/.velmo-staging").string();
    std::string expected = demo + "/expected/" + relative;
    if (f.is_regular_file() && f.file_size() > 0 && exists(expected) && f.file_size() == fs::file_size(expected)) {
      staged = f.path().string();
      break;
    }
  }
  ASSERT_FALSE(staged.empty());
  fs::remove(out / "ready");
  hold = startCommand(wineCommand(holder, {winPath(staged), winPath(out / "ready"), "2000"}));
  ASSERT_TRUE(appears(out / "ready"));
  writeText(gate, "");
  EXPECT_EQ(exitCodeOf(job), 0);
  EXPECT_EQ(log(), "OK");
  EXPECT_EQ(exitCodeOf(hold), 0);
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
  EXPECT_TRUE(leftNothing(game));
}

// DLLs of system names left beside the patcher (a Downloads folder), with
// Wine told to prefer such native DLLs to its own: the patcher takes every
// DLL that is not a KnownDLL from System32 only, so none of them runs.
TEST_F(WineAuto, DllsPlantedBesideThePatcherAreNeverLoaded) {
  const std::string planted = kWinBuild + "/planted_dll.dll";
  ASSERT_TRUE(exists(planted)) << planted;
  const char* names[] = {"bcrypt", "cabinet", "winmm", "gdiplus"};
  std::string overrides;
  for (const char* name : names) {
    fs::copy_file(planted, dir / (std::string(name) + ".dll"));
    overrides += std::string(overrides.empty() ? "" : ",") + name;
  }
  std::string game = out / "game";
  ASSERT_EQ(run(xapk, game, "VELMO_WINEDLLOVERRIDES=" + shellQuote(overrides + "=n,b")), 0);
  EXPECT_EQ(log(), "OK");
  for (const char* name : names) EXPECT_FALSE(exists(dir / (std::string(name) + ".dll.loaded"))) << name;
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", game, difference)) << difference;
}

}  // namespace
}  // namespace velmo
