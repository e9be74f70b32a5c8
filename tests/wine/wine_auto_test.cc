// The Windows patcher, cross-built and carrying the small demo game's pack
// (LZMS items, read by our own decoder under Wine, beside plain ones) in its
// resources, run unattended under Wine as a Windows user would: the tree it
// builds, the log beside the executable, the exit code, what is left behind.
#include <gtest/gtest.h>

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
  int runProgram(const std::string& program, const std::string& xapkPath, const std::string& dest,
                 const std::string& env = "") {
    return runCommand(env + " sh " + shellQuote(std::string(VELMO_SOURCE_DIR) + "/scripts/wine-run.sh") + " " +
                      shellQuote(kWinBuild + "/wineprefix") + " " + shellQuote(program) + " /auto " +
                      shellQuote(xapkPath.empty() ? "" : winPath(xapkPath)) + " " + shellQuote(winPath(dest)));
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
  // The pack carries LZMS items of every kind the install reads: files,
  // delta blobs, bundle payloads and assets.
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
  other.apkEntries = {{"assets/bin/Data/mainData", Bytes(39008, 1), false}};
  other.obbEntries = {{"TITMN01A.unity3d", Bytes(10, 2), true}};
  ASSERT_TRUE(writeXapk(dir / "other.xapk", other));
  EXPECT_EQ(run(dir / "other.xapk", game), 1);
  EXPECT_EQ(log(), "This is not the expected VELMO XAPK (entry assets/bin/Data/mainData failed its CRC).");
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
