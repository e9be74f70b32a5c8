#include "install/folder_ops.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/folder_tree.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::wide;

TEST(MoveTreeInto, FailsWhenAFolderMeetsAFile) {
  TempDir t;
  fs::create_directories(t / "src/x");
  test::writeText(t / "src/x/f", "1");
  fs::create_directories(t / "dst");
  test::writeText(t / "dst/x", "a file where a folder goes");
  EXPECT_FALSE(moveTreeInto(wide(t / "src"), wide(t / "dst")));
  EXPECT_EQ(test::readText(t / "src/x/f"), "1");  // what did not move stays
}

// A staged game tree and a destination holding the user's older files.
struct MoveCase {
  MoveCase() {
    fs::create_directories(t / "src/VELMO_Data/StreamingAssets");
    fs::create_directories(t / "dst/VELMO_Data/StreamingAssets");
    test::writeText(t / "src/VELMO.exe", "new exe");
    test::writeText(t / "src/UnityPlayer.dll", "new player");
    test::writeText(t / "src/VELMO_Data/globalgamemanagers", "new ggm");
    test::writeText(t / "src/VELMO_Data/StreamingAssets/bg.png", "new png");
    test::writeText(t / "src/VELMO_Data/StreamingAssets/z.unity3d", "new bundle");
    test::writeText(t / "dst/VELMO.exe", "old exe");
    test::writeText(t / "dst/VELMO_Data/globalgamemanagers", "old ggm");
    test::writeText(t / "dst/VELMO_Data/StreamingAssets/z.unity3d", "old bundle");
    test::writeText(t / "dst/save.dat", "the player's save");
  }
  bool move() { return moveTreeInto(wide(t / "src"), wide(t / "dst")); }
  test::TempDir t;
};

TEST(MoveTreeInto, MergesReplacingFilesAndKeepingOthers) {
  MoveCase c;
  TempDir outside;
  test::writeText(outside / "target.txt", "outside");
  bool fileLink = test::makeFileLink(outside / "target.txt", c.t / "src/link");  // not for every Windows user
  // Left beside a target by a move that was killed; stale once it succeeds.
  // Whatever their numbers: -5 lies past a gap.
  for (const char* stale : {".VELMO.exe.velmo-old-0", ".VELMO.exe.velmo-old-1", ".VELMO.exe.velmo-old-5",
                            ".VELMO.exe.velmo-part-0", "VELMO_Data/.globalgamemanagers.velmo-part-2"}) {
    test::writeText(c.t / (std::string("dst/") + stale), "stale");
  }
  test::writeText(c.t / "dst/.save.dat.velmo-old-0", "not beside a moved file");
  ASSERT_TRUE(c.move());
  EXPECT_FALSE(test::exists(c.t / "dst/.VELMO.exe.velmo-old-0") || test::exists(c.t / "dst/.VELMO.exe.velmo-old-1") ||
               test::exists(c.t / "dst/.VELMO.exe.velmo-old-5") || test::exists(c.t / "dst/.VELMO.exe.velmo-part-0") ||
               test::exists(c.t / "dst/VELMO_Data/.globalgamemanagers.velmo-part-2"));
  EXPECT_TRUE(test::exists(c.t / "dst/.save.dat.velmo-old-0"));
  EXPECT_EQ(test::readText(c.t / "dst/VELMO.exe"), "new exe");
  EXPECT_EQ(test::readText(c.t / "dst/VELMO_Data/globalgamemanagers"), "new ggm");
  EXPECT_EQ(test::readText(c.t / "dst/save.dat"), "the player's save");
  EXPECT_EQ(test::isLink(c.t / "dst/link"), fileLink);  // moved as a link
  EXPECT_EQ(test::readText(outside / "target.txt"), "outside");
  EXPECT_TRUE(isDirectoryEmpty(wide(c.t / "src")));
  // Nothing moved is no success.
  EXPECT_FALSE(moveTreeInto(wide(c.t / "no-such-source"), wide(c.t / "dst")));
}

TEST(MoveTreeInto, ChecksEveryTargetFirstAndChangesNothingWhenKindsDiffer) {
  auto refusedUnchanged = [](MoveCase& c) {
    auto before = test::treeSnapshot(c.t.path());
    return !c.move() && test::treeSnapshot(c.t.path()) == before;
  };
  MoveCase folderForFile;  // a non-empty folder where a file goes
  fs::create_directories(folderForFile.t / "dst/VELMO_Data/StreamingAssets/bg.png");
  test::writeText(folderForFile.t / "dst/VELMO_Data/StreamingAssets/bg.png/mine", "x");
  EXPECT_TRUE(refusedUnchanged(folderForFile));
  MoveCase fileForFolder;
  fs::remove_all(fileForFolder.t / "dst/VELMO_Data");
  test::writeText(fileForFolder.t / "dst/VELMO_Data", "a file");
  EXPECT_TRUE(refusedUnchanged(fileForFolder));

  {
    MoveCase readOnly;  // a folder this user may not change (root would pass a real chmod)
    PlatformOps ops = nativePlatform();
    ops.pathInfo = [](const std::wstring& path, PathInfo& info) {
      bool ok = nativePlatform().pathInfo(path, info);
      if (path.ends_with(joinPath(joinPath(L"dst", L"VELMO_Data"), L"StreamingAssets"))) info.writable = false;
      return ok;
    };
    ScopedPlatformOverride seam(ops);
    EXPECT_TRUE(refusedUnchanged(readOnly));
  }

  // Links the user put in the target (junctions on Windows, where Wine
  // makes none).
  MoveCase linkToFolderForFile;
  if (!test::makeFolderLink(linkToFolderForFile.t / "dst/VELMO_Data", linkToFolderForFile.t / "dst/UnityPlayer.dll")) {
    GTEST_SKIP() << "no folder links here: the cases above ran";
  }
  EXPECT_TRUE(refusedUnchanged(linkToFolderForFile));
  MoveCase brokenLinkForFolder;
  fs::remove_all(brokenLinkForFolder.t / "dst/VELMO_Data");
  ASSERT_TRUE(test::makeFolderLink(brokenLinkForFolder.t / "dst/nowhere", brokenLinkForFolder.t / "dst/VELMO_Data"));
  EXPECT_TRUE(refusedUnchanged(brokenLinkForFolder));
}

int gRenamesLeft = 0;
bool renameFailingAfter(const std::wstring& from, const std::wstring& to) {
  if (gRenamesLeft-- == 0) return false;  // this one rename only
  return nativePlatform().moveReplace(from, to);
}
bool renameReplaceFailingAfter(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  otherVolume = false;
  return renameFailingAfter(from, to);
}
bool gListFails = false;
bool listFailingBelowSource(const std::wstring& path, std::vector<DirEntry>& entries) {
  if (gListFails && path.find(joinPath(L"src", L"VELMO_Data")) != std::wstring::npos) return false;
  return nativePlatform().listDirectory(path, entries);
}

TEST(MoveTreeInto, AFailurePartWayPutsBackEverythingItChanged) {
  PlatformOps ops = nativePlatform();
  ops.moveReplace = renameFailingAfter;
  ops.renameReplace = renameReplaceFailingAfter;
  ScopedPlatformOverride seam(ops);
  // Every point of failure: the move is complete or nothing changed.
  for (int allowed = 0;; ++allowed) {
    MoveCase c;
    auto dstBefore = test::treeSnapshot(c.t / "dst"), srcBefore = test::treeSnapshot(c.t / "src");
    gRenamesLeft = allowed;
    if (c.move()) {
      EXPECT_EQ(test::readText(c.t / "dst/VELMO.exe"), "new exe");
      EXPECT_EQ(test::readText(c.t / "dst/VELMO_Data/StreamingAssets/z.unity3d"), "new bundle");
      EXPECT_EQ(test::readText(c.t / "dst/save.dat"), "the player's save");
      EXPECT_EQ(test::treeSnapshot(c.t / "dst").size(), 8u);  // nothing kept aside is left
      EXPECT_GT(allowed, 5);
      break;
    }
    EXPECT_EQ(test::treeSnapshot(c.t / "dst"), dstBefore) << allowed;
    EXPECT_EQ(test::treeSnapshot(c.t / "src"), srcBefore) << allowed;
  }
  // A source folder that cannot be read fails before anything moved.
  ops.moveReplace = nativePlatform().moveReplace;
  ops.renameReplace = nativePlatform().renameReplace;
  ops.listDirectory = listFailingBelowSource;
  ScopedPlatformOverride listing(ops);
  MoveCase c;
  auto before = test::treeSnapshot(c.t.path());
  gListFails = true;
  EXPECT_FALSE(c.move());
  gListFails = false;
  EXPECT_EQ(test::treeSnapshot(c.t.path()), before);
}

// dst/VELMO_Data reported on a volume of its own, as a junction or link to
// another drive is.
bool onAnotherVolume(const std::wstring& path, PathInfo& info) {
  if (!nativePlatform().pathInfo(path, info)) return false;
  if (path.find(joinPath(L"dst", L"VELMO_Data")) != std::wstring::npos) info.volume ^= 0x5a5a;
  return true;
}
// Renames into dst/VELMO_Data refused as the system refuses a rename onto
// another volume that shares the first one's serial number.
bool otherVolumeBehindSameSerial(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  otherVolume = to.find(joinPath(L"dst", L"VELMO_Data")) != std::wstring::npos &&
                from.find(joinPath(L"src", L"VELMO_Data")) != std::wstring::npos;
  return !otherVolume && nativePlatform().renameReplace(from, to, otherVolume);
}
std::vector<std::wstring> gHidden;
bool oldFilesStayOpen(const std::wstring& path) {
  if (path.find(L".velmo-old-") != std::wstring::npos) return false;  // the running game's exe
  return nativePlatform().deleteFile(path);
}
bool recordHidden(const std::wstring& path) {
  gHidden.push_back(path);
  return true;
}

TEST(MoveTreeInto, CopiesAcrossVolumesLeaveNoStagedFileAndOpenOldFilesGoNextTime) {
  MoveCase c;
  PlatformOps ops = nativePlatform();
  ops.pathInfo = onAnotherVolume;
  {
    ScopedPlatformOverride seam(ops);
    ASSERT_TRUE(c.move());
  }
  EXPECT_EQ(test::readText(c.t / "dst/VELMO_Data/StreamingAssets/z.unity3d"), "new bundle");
  EXPECT_EQ(test::readText(c.t / "dst/VELMO_Data/StreamingAssets/bg.png"), "new png");
  EXPECT_TRUE(isDirectoryEmpty(wide(c.t / "src")));  // the copied files' sources are gone too
  EXPECT_EQ(test::treeSnapshot(c.t / "dst").size(), 8u);

  // A volume the plan could not tell apart: the refused rename is copied.
  MoveCase sameSerial;
  ops = nativePlatform();
  ops.renameReplace = otherVolumeBehindSameSerial;
  {
    ScopedPlatformOverride seam(ops);
    ASSERT_TRUE(sameSerial.move());
  }
  EXPECT_EQ(test::readText(sameSerial.t / "dst/VELMO_Data/StreamingAssets/z.unity3d"), "new bundle");
  EXPECT_EQ(test::readText(sameSerial.t / "dst/VELMO_Data/globalgamemanagers"), "new ggm");
  EXPECT_EQ(test::readText(sameSerial.t / "dst/VELMO.exe"), "new exe");
  EXPECT_TRUE(isDirectoryEmpty(wide(sameSerial.t / "src")));
  EXPECT_EQ(test::treeSnapshot(sameSerial.t / "dst").size(), 8u);  // no copies left beside them

  // Replaced files still open when the move completes stay, hidden, and the
  // next move into the folder removes them.
  MoveCase open;
  ops = nativePlatform();
  ops.deleteFile = oldFilesStayOpen;
  ops.hideFile = recordHidden;
  gHidden.clear();
  {
    ScopedPlatformOverride seam(ops);
    ASSERT_TRUE(open.move());
  }
  std::wstring aside = joinPath(wide(open.t / "dst"), L".VELMO.exe.velmo-old-0");
  EXPECT_EQ(test::readText(open.t / "dst/.VELMO.exe.velmo-old-0"), "old exe");
  EXPECT_NE(std::find(gHidden.begin(), gHidden.end(), aside), gHidden.end());
  EXPECT_EQ(gHidden.size(), 3u);  // VELMO.exe, globalgamemanagers, z.unity3d
  test::writeText(open.t / "src/VELMO.exe", "newer exe");
  ASSERT_TRUE(open.move());
  EXPECT_FALSE(test::exists(open.t / "dst/.VELMO.exe.velmo-old-0"));
  EXPECT_FALSE(test::exists(open.t / "dst/.VELMO.exe.velmo-old-1"));
  EXPECT_EQ(test::readText(open.t / "dst/VELMO.exe"), "newer exe");
}

#ifndef _WIN32  // a second POSIX file system at /dev/shm
TEST(MoveTreeInto, ALinkedFolderOnAnotherVolumeIsFollowedAndFilled) {
  struct stat here, shm;
  MoveCase c;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(c.t.path().c_str(), &here) != 0 || here.st_dev == shm.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  char pattern[] = "/dev/shm/velmo-move-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  std::string other = pattern;
  fs::copy(c.t / "dst/VELMO_Data", other + "/VELMO_Data", fs::copy_options::recursive);
  fs::remove_all(c.t / "dst/VELMO_Data");
  fs::create_directory_symlink(other + "/VELMO_Data", c.t / "dst/VELMO_Data");
  EXPECT_TRUE(c.move());
  EXPECT_TRUE(fs::is_symlink(c.t / "dst/VELMO_Data"));
  EXPECT_EQ(test::readText(other + "/VELMO_Data/globalgamemanagers"), "new ggm");
  EXPECT_EQ(test::readText(other + "/VELMO_Data/StreamingAssets/bg.png"), "new png");
  EXPECT_EQ(test::readText(other + "/VELMO_Data/StreamingAssets/z.unity3d"), "new bundle");
  EXPECT_EQ(test::treeSnapshot(other).size(), 5u);  // no copies or old files left beside them
  EXPECT_EQ(test::readText(c.t / "dst/VELMO.exe"), "new exe");
  EXPECT_TRUE(isDirectoryEmpty(wide(c.t / "src")));  // nor the staged files that were copied

  // No room there: refused before anything changed.
  fs::create_directories(c.t / "src/VELMO_Data");
  test::writeText(c.t / "src/VELMO_Data/more", "more");
  test::writeText(c.t / "src/VELMO.exe", "newer exe");
  PlatformOps ops = nativePlatform();
  ops.freeSpace = [](const std::wstring&, uint64_t& bytes) { return bytes = 1, true; };
  ScopedPlatformOverride seam(ops);
  auto before = test::treeSnapshot(other);
  EXPECT_FALSE(c.move());
  EXPECT_EQ(test::treeSnapshot(other), before);
  EXPECT_EQ(test::readText(c.t / "dst/VELMO.exe"), "new exe");
  fs::remove_all(other);
}
#endif

}  // namespace
}  // namespace velmo
