#include "xapk/xapk_source.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "common/crc32.h"
#include "common/utf8.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"
#include "xapk/xapk_extract.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

std::string hex(uint32_t v, bool lower = false) {
  char buf[16];
  std::snprintf(buf, sizeof buf, lower ? "%x" : "%X", v);
  return buf;
}

uint32_t crcOf(const Bytes& b) { return crc32Update(0, b.data(), b.size()); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every test gets its own TMPDIR so leftovers are visible.
class XapkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useTempFolder(tmp.path());
    layout.apkEntries = {{"assets/bin/Data/mainData", text("main data"), false},
                       {"assets/bin/Data/level0", level0, false},
                       {"assets/bin/Data/empty", {}, true},
                       {"assets/bin/Data/big", big, true}};
    layout.obbEntries = {{"TITMN01A.unity3d", text("bundle bytes"), true}};
  }
  void TearDown() override {
    closeXapk(source);
    restoreTempFolder();
  }
  std::string fingerprintLine(int archive, const std::string& name, const Bytes& bytes, bool lower = false) {
    return std::to_string(archive) + "|" + name + "|" + std::to_string(bytes.size()) + "|" + hex(crcOf(bytes), lower);
  }
  bool usePack(const std::string& info, const std::string& fingerprint) {
    std::vector<std::pair<std::string, std::string>> assets;
    if (!info.empty()) assets.push_back({"xapk_info", info});
    if (!fingerprint.empty()) assets.push_back({"xapk_fingerprint", fingerprint});
    return makeAssetPack(assets, pack);
  }
  bool open(std::wstring& error) {
    if (!writeXapk(dir / "game.xapk", layout)) return false;
    return openXapk(source, pack.pack, wide(dir / "game.xapk"), error);
  }
  bool tempIsClean() { return fs::is_empty(tmp.path()); }

  TempDir tmp, dir;
  Bytes level0 = text("level zero");
  Bytes big = randomBytes(3 * 1024 * 1024, 8);
  XapkLayout layout;
  OwnedPack pack;
  XapkSource source;
};

TEST_F(XapkTest, InfoNamesTheEntriesAndTheSearchIsSkipped) {
  layout.extraOuter = {{"decoy.apk", zipBytes({{"x", text("decoy"), true}}), true},
                     {"decoy.obb", text("not a zip"), true}};
  ASSERT_TRUE(usePack("name=VELMO\nversion=1.0.7\napk_entry=" + layout.apkName + "\nobb_entry=" + layout.obbName + "\n",
                      fingerprintLine(1, "assets/bin/Data/level0", level0)));
  std::wstring error;
  ASSERT_TRUE(open(error)) << toUtf8(error);
  EXPECT_TRUE(source.isOpen);
  EXPECT_EQ(source.apkPath, joinPath(source.tempFolder, L"game.apk"));
  std::wstring line;
  ASSERT_TRUE(verifyXapkFingerprint(source, pack.pack, line));
  EXPECT_EQ(line, L"VELMO 1.0.7 - XAPK verified");
  closeXapk(source);
  EXPECT_TRUE(tempIsClean());
}

TEST_F(XapkTest, OpenFailuresEachGiveTheirMessageAndLeaveNothingAfterClose) {
  std::wstring error;
  ASSERT_TRUE(usePack("apk_entry=other.apk\nobb_entry=" + layout.obbName, "1|a|1|0"));
  EXPECT_FALSE(open(error));
  EXPECT_EQ(error, L"The XAPK is missing other.apk.");
  closeXapk(source);
  EXPECT_TRUE(tempIsClean());

  ASSERT_TRUE(usePack("name=VELMO", "1|a|1|0"));
  layout.omitObb = true;
  EXPECT_FALSE(open(error));
  EXPECT_EQ(error, L"This XAPK does not contain an APK and an OBB.\nIt is not a Harrowmere XAPK.");
  closeXapk(source);
  EXPECT_TRUE(tempIsClean());

  writeText(dir / "plain.txt", "not a zip");
  EXPECT_FALSE(openXapk(source, pack.pack, wide(dir / "plain.txt"), error));
  EXPECT_EQ(error, L"The XAPK is missing or is not a zip file.");
  EXPECT_FALSE(openXapk(source, pack.pack, wide(dir / "missing.xapk"), error));
  EXPECT_EQ(error, L"The XAPK is missing or is not a zip file.");
  // Neither a pipe (which would wait for a writer) nor a folder is a file.
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dir / "pipe.xapk").c_str(), 0600), 0);
  EXPECT_FALSE(openXapk(source, pack.pack, wide(dir / "pipe.xapk"), error));
  EXPECT_EQ(error, L"The XAPK is missing or is not a zip file.");
#endif
  EXPECT_FALSE(openXapk(source, pack.pack, wide(dir.path()), error));
  EXPECT_EQ(error, L"The XAPK is missing or is not a zip file.");
  std::wstring text;
  EXPECT_FALSE(verifyXapkFingerprint(source, pack.pack, text));
  EXPECT_EQ(text, L"The XAPK is not open.");
  closeXapk(source);
  EXPECT_TRUE(tempIsClean());
}

TEST_F(XapkTest, SuffixSearchKeepsTheStoredCapitals) {
  layout.apkName = "Base.APK";
  layout.obbName = "main.1.OBB";
  layout.extraOuter = {{"dir/", {}, true}, {".apk", text("x"), true}};
  ASSERT_TRUE(usePack("", "2|TITMN01A.unity3d|12|" + hex(crcOf(text("bundle bytes")))));
  std::wstring error;
  ASSERT_TRUE(open(error)) << toUtf8(error);
  EXPECT_EQ(source.name, L"Harrowmere");
  std::wstring line;
  ASSERT_TRUE(verifyXapkFingerprint(source, pack.pack, line));
  EXPECT_EQ(line, L"Harrowmere - XAPK verified");

  // A damaged inner archive is named with its capitals.
  XapkLayout damaged = layout;
  Bytes apk = zipBytes(layout.apkEntries);
  std::vector<RawZipEntry> raw(2);
  ASSERT_TRUE(makeRawZipEntry("Base.APK", apk, true, raw[0]));
  raw[0].crc32 ^= 1;
  ASSERT_TRUE(makeRawZipEntry("main.1.OBB", zipBytes(layout.obbEntries), true, raw[1]));
  ASSERT_TRUE(writeRawZip(dir / "bad.xapk", raw, false));
  EXPECT_FALSE(openXapk(source, pack.pack, wide(dir / "bad.xapk"), error));
  EXPECT_EQ(error, L"The XAPK's APK is damaged (Base.APK).");
}

TEST_F(XapkTest, ReopeningRebuildsTheTemporaryFolder) {
  ASSERT_TRUE(usePack("", "1|x"));
  layout.storeInner = false;
  std::wstring error;
  ASSERT_TRUE(open(error)) << toUtf8(error);
  std::string folder = pathToBytes(source.tempFolder);
  writeText(folder + "/stray", "left from before");
  ASSERT_TRUE(openXapk(source, pack.pack, wide(dir / "game.xapk"), error));
  EXPECT_FALSE(exists(folder));
  EXPECT_TRUE(exists(pathToBytes(source.tempFolder) + "/game.obb"));
}

#ifndef _WIN32  // owners, modes and links of POSIX
// Links planted at the very name this run picks and at its copy's name
// (the old predictable names are tried end to end).
std::wstring gPlantAt;
std::string gVictim;
bool plantingCreatePrivateDirectory(const std::wstring& path) {
  if (gPlantAt.empty()) {  // the first name tried is taken by a link first
    gPlantAt = path;
    fs::create_directory_symlink(gVictim, pathToBytes(path));
  }
  bool ok = nativePlatform().createPrivateDirectory(path);
  if (ok) fs::create_symlink(gVictim + "/precious.txt", pathToBytes(path) + "/game.apk");
  return ok;
}

TEST_F(XapkTest, TemporaryFolderIsPrivateAndNothingOutsideItIsTouched) {
  layout.storeInner = false;  // deflated inner archives are copied out: the copy is what is attacked
  ASSERT_TRUE(usePack("", "1|x"));
  std::string victim = dir / "victim";
  fs::create_directory(victim);
  writeText(victim + "/precious.txt", "keep me");
  std::wstring error;
  ASSERT_TRUE(open(error)) << toUtf8(error);
  uint32_t named = 0;
  ASSERT_TRUE(parseXapkTempFolderName(source.tempFolder.substr(source.tempFolder.rfind(L'/') + 1), named));
  EXPECT_EQ(named, uint32_t(::getpid()));
  EXPECT_EQ(fs::status(pathToBytes(source.tempFolder)).permissions(), fs::perms::owner_all);
  closeXapk(source);

  PlatformOps ops = nativePlatform();
  ops.createPrivateDirectory = plantingCreatePrivateDirectory;
  gPlantAt.clear();
  gVictim = victim;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(open(error));
  }
  EXPECT_EQ(error, L"Could not write the temporary APK.");
  closeXapk(source);
  EXPECT_EQ(readText(victim + "/precious.txt"), "keep me");
  EXPECT_TRUE(fs::is_symlink(pathToBytes(gPlantAt)));  // the planted link, not removed as ours
  fs::remove(pathToBytes(gPlantAt));
  EXPECT_TRUE(tempIsClean());
}
#endif

#ifndef _WIN32  // owners, modes and links of POSIX
TEST_F(XapkTest, StaleFoldersOfGoneRunsAreRemovedOnlyWhenProvablyOurs) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);  // a process id that is gone
  std::string dead = "velmo-patcher-" + std::to_string(child) + "-";
  std::string alive = "velmo-patcher-" + std::to_string(::getppid()) + "-0000abcd";
  std::string victim = dir / "victim";
  fs::create_directory(victim);
  writeText(victim + "/precious.txt", "keep me");
  auto folder = [&](const std::string& name, fs::perms mode) {
    fs::create_directory(tmp / name);
    writeText(tmp / name + "/game.apk", "copy");
    fs::permissions(tmp / name, mode);
  };
  folder(dead + "0000abcd", fs::perms::owner_all);  // stale and ours
  folder(alive, fs::perms::owner_all);               // its run is alive
  folder(dead + "0000abce", fs::perms::owner_all | fs::perms::group_read);
  folder("velmo-patcher-" + std::to_string(child), fs::perms::owner_all);  // not our name pattern
  folder(dead + "0000ABCD", fs::perms::owner_all);
  fs::create_directory_symlink(victim, tmp / (dead + "0000abcf"));
  bool asRoot = ::geteuid() == 0;
  if (asRoot) {
    folder(dead + "0000abd0", fs::perms::owner_all);
    ASSERT_EQ(::chown((tmp / (dead + "0000abd0")).c_str(), 65534, 65534), 0);  // another user's
  }
  removeStaleXapkTempFolders();
  EXPECT_FALSE(exists(tmp / (dead + "0000abcd")));
  for (std::string kept : {alive, dead + "0000abce", "velmo-patcher-" + std::to_string(child), dead + "0000ABCD"}) {
    EXPECT_TRUE(exists(tmp / kept + "/game.apk")) << kept;
  }
  EXPECT_TRUE(fs::is_symlink(tmp / (dead + "0000abcf")));
  EXPECT_EQ(readText(victim + "/precious.txt"), "keep me");
  if (asRoot) {
    EXPECT_TRUE(exists(tmp / (dead + "0000abd0") + "/game.apk"));
  }

  uint32_t pid = 0;
  EXPECT_TRUE(parseXapkTempFolderName(xapkTempFolderName(4294967295u, 0xdeadbeef), pid));
  EXPECT_EQ(pid, 4294967295u);
  for (const wchar_t* bad : {L"velmo-patcher-4294967296-00000000", L"velmo-patcher--00000000",
                             L"velmo-patcher-1-0000000", L"velmo-patcher-1-000000000", L"velmo-patcher-1x00000000",
                             L"velmo-patcher-01-00000000"}) {
    EXPECT_FALSE(parseXapkTempFolderName(bad, pid)) << toUtf8(bad);
  }
}
#endif

TEST_F(XapkTest, TemporarySpaceIsCheckedWhenItCanBe) {
  ASSERT_TRUE(usePack("", "1|x"));
  PlatformOps ops = nativePlatform();
  ops.freeSpace = [](const std::wstring&, uint64_t& bytes) {
    bytes = 1000;
    return true;
  };
  std::wstring error;
  {
    // Stored inner archives are read where they lie: no copy, no space needed.
    ScopedPlatformOverride seam(ops);
    ASSERT_TRUE(open(error)) << toUtf8(error);
    EXPECT_TRUE(fs::is_empty(toUtf8(source.tempFolder)));
    Bytes read;
    ASSERT_TRUE(extractEntryToMemory(source, XapkArchive::Apk, L"assets/bin/Data/big", read, error));
    EXPECT_EQ(read, big);
    layout.storeInner = false;
    EXPECT_FALSE(open(error));
  }
  EXPECT_EQ(error.rfind(L"Not enough temporary disk space for the XAPK's inner archives.\nNeed 131 MB; 1 KB are free.", 0),
            0u)
      << toUtf8(error);
  ops.freeSpace = [](const std::wstring&, uint64_t&) { return false; };
  ScopedPlatformOverride seam(ops);
  EXPECT_TRUE(open(error)) << toUtf8(error);
}

TEST_F(XapkTest, FingerprintLineRules) {
  std::wstring error, line;
  auto check = [&](const std::string& fingerprint) {
    EXPECT_TRUE(usePack("name=VELMO", fingerprint));
    closeXapk(source);
    EXPECT_TRUE(open(error)) << toUtf8(error);
    return verifyXapkFingerprint(source, pack.pack, line);
  };
  EXPECT_TRUE(check("no bars here\n\n|\n1|2|\n1||3\n"));  // nothing usable passes
  EXPECT_EQ(line, L"VELMO - XAPK verified");
  EXPECT_TRUE(check(fingerprintLine(3, "TITMN01A.unity3d", text("bundle bytes"))));  // 3 means the OBB
  EXPECT_TRUE(check(fingerprintLine(1, "ASSETS/BIN/DATA/LEVEL0", level0, true) + "\r\n"));
  EXPECT_TRUE(check(" +1|assets/bin/Data/level0|" + std::to_string(level0.size()) + "|" + hex(crcOf(level0)) + "|x"));
  EXPECT_FALSE(check(fingerprintLine(1, "assets/bin/Data/level0", level0) + "\n1|assets/bin/Data/mainData|9|0\n" +
                     "1|assets/bin/Data/nothing|1|0\n"));
  EXPECT_EQ(line, L"This is not the expected VELMO XAPK (entry assets/bin/Data/mainData failed its CRC).");
  EXPECT_FALSE(check(fingerprintLine(2, "assets/bin/Data/level0", level0)));  // wrong archive
  EXPECT_FALSE(check("1|assets/bin/Data/level0|" + std::to_string(level0.size() + 1) + "|" + hex(crcOf(level0))));

  ASSERT_TRUE(usePack("name=VELMO", ""));
  EXPECT_FALSE(verifyXapkFingerprint(source, pack.pack, line));
  EXPECT_EQ(line, L"The patcher data is missing its XAPK fingerprint.");
}

TEST_F(XapkTest, ExtractToFileChecksBeforeAndAfterWriting) {
  ASSERT_TRUE(usePack("", "1|x"));
  std::wstring error;
  ASSERT_TRUE(open(error));
  std::string out = dir / "stage/VELMO_Data/level0";
  EXPECT_TRUE(extractEntryToFile(source, XapkArchive::Apk, L"Assets/Bin/Data/Level0", wide(out), level0.size(),
                                 crcOf(level0), nullptr, error));
  EXPECT_EQ(readBytes(out), level0);
  EXPECT_TRUE(extractEntryToFile(source, XapkArchive::Apk, L"assets/bin/Data/empty", wide(dir / "e"), 0, 0, nullptr,
                                 error));
  EXPECT_EQ(fs::file_size(dir / "e"), 0u);

  EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Apk, L"assets/bin/Data/level0", wide(dir / "n"),
                                  level0.size(), crcOf(level0) ^ 1, nullptr, error));
  EXPECT_EQ(error, L"The XAPK entry does not match the expected data (assets/bin/Data/level0).");
  EXPECT_FALSE(exists(dir / "n"));
  EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Obb, L"assets/bin/Data/level0", wide(dir / "n"),
                                  level0.size(), crcOf(level0), nullptr, error));
  EXPECT_EQ(error, L"The XAPK is missing assets/bin/Data/level0.");
  EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Apk, L"assets/bin/Data/level0", wide(dir / "e/sub"),
                                  level0.size(), crcOf(level0), nullptr, error));
  EXPECT_EQ(error, L"Could not write\n" + wide(dir / "e/sub"));
}

std::atomic<bool>* gCancelOnWrite = nullptr;
int gWritesBeforeFailure = 0;
bool cancellingWrite(FileHandle f, const void* data, size_t size) {
  if (gCancelOnWrite) *gCancelOnWrite = true;  // the window asks to stop during the copy
  return nativePlatform().writeFile(f, data, size);
}
bool fillingWrite(FileHandle f, const void* data, size_t size) {
  if (gWritesBeforeFailure-- <= 0) return false;  // the disk is full
  return nativePlatform().writeFile(f, data, size);
}

TEST_F(XapkTest, CancelAndFullDiskDeleteThePartialFile) {
  ASSERT_TRUE(usePack("", "1|x"));
  std::wstring error;
  ASSERT_TRUE(open(error));
  std::atomic<bool> cancel{false};
  PlatformOps ops = nativePlatform();
  ops.writeFile = cancellingWrite;
  gCancelOnWrite = &cancel;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Apk, L"assets/bin/Data/big", wide(dir / "big"), big.size(),
                                    crcOf(big), [&](uint64_t) { return !cancel.load(); }, error));
  }
  EXPECT_EQ(error, L"Cancelled.");
  EXPECT_FALSE(exists(dir / "big"));

  ops.writeFile = fillingWrite;
  gWritesBeforeFailure = 1;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Apk, L"assets/bin/Data/big", wide(dir / "big"), big.size(),
                                    crcOf(big), {}, error));
  }
  EXPECT_EQ(error, L"Could not write\n" + wide(dir / "big"));  // the disk, not the XAPK, is at fault
  EXPECT_FALSE(exists(dir / "big"));

  // The same fault while the XAPK's OBB is copied out.
  gWritesBeforeFailure = 5;  // the APK copy (four chunks) fits, the OBB does not
  ScopedPlatformOverride seam(ops);
  layout.storeInner = false;
  layout.obbEntries = {{"TITMN01A.unity3d", randomBytes(5 * 1024 * 1024, 2), true}};
  EXPECT_FALSE(open(error));
  EXPECT_EQ(error, L"Could not write the temporary OBB.");
}

TEST_F(XapkTest, ExtractToMemoryNeverTrustsTheClaimedSize) {
  ASSERT_TRUE(usePack("", "1|x"));
  std::wstring error;
  ASSERT_TRUE(open(error));
  Bytes out;
  ASSERT_TRUE(extractEntryToMemory(source, XapkArchive::Apk, L"assets/bin/Data/big", out, error));
  EXPECT_EQ(out, big);
  ASSERT_TRUE(extractEntryToMemory(source, XapkArchive::Apk, L"assets/bin/Data/empty", out, error));
  EXPECT_TRUE(out.empty());
  closeXapk(source);

  // An APK whose entries lie about their sizes: a terabyte claim, a stored
  // entry one byte longer than claimed, and one shorter.
  Bytes payload = randomBytes(1000, 3);
  std::vector<RawZipEntry> raw(3);
  ASSERT_TRUE(makeRawZipEntry("huge", payload, false, raw[0]));
  raw[0].uncompressedSize = uint64_t(1) << 40;
  ASSERT_TRUE(makeRawZipEntry("longer", payload, true, raw[1]));
  raw[1].uncompressedSize = payload.size() - 1;
  raw[1].crc32 = crc32Update(0, payload.data(), payload.size() - 1);
  ASSERT_TRUE(makeRawZipEntry("shorter", payload, false, raw[2]));
  raw[2].uncompressedSize = payload.size() + 1;
  ASSERT_TRUE(writeRawZip(dir / "lying.apk", raw, true));
  std::vector<ZipBuilderEntry> outer = {{layout.apkName, readBytes(dir / "lying.apk"), true},
                                        {layout.obbName, zipBytes(layout.obbEntries), true}};
  ASSERT_TRUE(writeZip(dir / "lying.xapk", outer));
  ASSERT_TRUE(openXapk(source, pack.pack, wide(dir / "lying.xapk"), error)) << toUtf8(error);
  EXPECT_FALSE(extractEntryToMemory(source, XapkArchive::Apk, L"huge", out, error));
  EXPECT_EQ(error, L"The XAPK entry could not be read (huge).");
  EXPECT_FALSE(extractEntryToMemory(source, XapkArchive::Apk, L"longer", out, error));
  EXPECT_EQ(error, L"The XAPK entry failed its CRC (longer).");
  EXPECT_FALSE(extractEntryToMemory(source, XapkArchive::Apk, L"shorter", out, error));
  EXPECT_EQ(error, L"The XAPK entry failed its CRC (shorter).");
  // Streamed, the same lie is still the entry's fault.
  EXPECT_FALSE(extractEntryToFile(source, XapkArchive::Apk, L"longer", wide(dir / "l"), payload.size() - 1,
                                  raw[1].crc32, nullptr, error));
  EXPECT_EQ(error, L"The XAPK entry failed its CRC (longer).");
  EXPECT_FALSE(exists(dir / "l"));
}

TEST(XapkInfo, ParsesKeyValueLines) {
  XapkInfo info{L"", L"", L"Harrowmere", L""};
  std::string t = "name=A=B\nversion=1.0 \r\nignored\n\nNAME=x\napk_entry=a.apk\napk_entry=b.apk";
  parseXapkInfo(Bytes(t.begin(), t.end()), info);
  EXPECT_EQ(info.name, L"A=B");
  EXPECT_EQ(info.version, L"1.0 \r");
  EXPECT_EQ(info.apkEntry, L"b.apk");
  EXPECT_EQ(info.obbEntry, L"");
}

}  // namespace
}  // namespace velmo
