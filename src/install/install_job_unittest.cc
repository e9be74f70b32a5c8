#include "install/install_job.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install/install_driver.h"
#include "platform/folder_tree.h"
#include "common/size_text.h"
#include "common/utf8.h"
#include "support/demo_fixture.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "xapk/xapk_extract.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

uint64_t gFreeBytes = 0;
bool fakeFreeSpace(const std::wstring&, uint64_t& bytes) {
  bytes = gFreeBytes;
  return true;
}
FileHandle createFailingFor(const std::wstring& path) {
  std::string p = toUtf8(path);
  if (p.ends_with("VELMO.exe") || p.ends_with("patcher-auto.txt")) return kInvalidFile;
  return nativePlatform().createFile(path);
}

// The small demo game's pack loaded in memory, its XAPK opened and checked.
class InstallJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    useTempFolder(tmp.path());
    container = readBytes(demo + "/pack.bin");
    digest = digestOf(container);
    ASSERT_TRUE(loadPatchPackFrom(container, digest, pack));
    std::wstring text;
    ASSERT_TRUE(openXapk(source, pack, wide(demo + "/harrowmere-1.0.7.xapk"), text)) << toUtf8(text);
    ASSERT_TRUE(verifyXapkFingerprint(source, pack, text));
    EXPECT_EQ(text, L"VELMO 1.0.7 - XAPK verified");
    options.destinationFolder = wide(out / "game");
    job.pack = &pack, job.source = &source, job.options = &options, job.state = &state;
  }
  void TearDown() override {
    closeXapk(source);
    restoreTempFolder();
  }
  uint64_t expectedBytes(std::initializer_list<const char*> leaveOut = {}) {
    uint64_t total = 0;
    for (auto& f : fs::recursive_directory_iterator(demo + "/expected")) {
      if (!f.is_regular_file()) continue;
      std::string rel = fs::relative(f.path(), demo + "/expected").generic_string();
      bool skip = false;
      for (const char* l : leaveOut) skip |= rel == l;
      if (!skip) total += f.file_size();
    }
    return total;
  }

  std::string demo;
  TempDir tmp, out;
  Bytes container, digest;
  PatchPack pack;
  XapkSource source;
  InstallOptions options;
  InstallState state;
  InstallContext job;
};

TEST_F(InstallJobTest, CountsExactlyTheBytesItBuilds) {
  EXPECT_EQ(planInstallBytes(pack, options), expectedBytes());
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(state.bytesTotal.load(), expectedBytes());
  EXPECT_EQ(state.bytesDone.load(), state.bytesTotal.load());
  EXPECT_TRUE(job.stagingPath.empty());
}

// Files On-Demand marks what it syncs with reparse points that are no
// links; a destination there installs as any folder does. Only a Windows
// machine signed in to a sync client has one ("OneDrive" names its folder).
TEST_F(InstallJobTest, ACloudSyncedDestinationInstallsLikeAnyFolder) {
  std::wstring synced;
  if (!platform().getEnvironment(L"OneDrive", synced) || synced.empty() || !platform().isDirectory(synced)) {
    GTEST_SKIP() << "no cloud-synced folder on this machine";
  }
  std::string dest = toUtf8(joinPath(synced, L"velmo-kit-" + std::to_wstring(platform().processId())));
  options.destinationFolder = wide(dest);
  bool ok = runInstallHere(job);
  std::string difference;
  bool same = ok && sameTree(demo + "/expected", dest, difference);
  removeTree(wide(dest));
  ASSERT_TRUE(ok) << toUtf8(copyErrorText(state));
  EXPECT_TRUE(same) << difference;
  EXPECT_FALSE(exists(dest));
}

TEST_F(InstallJobTest, OptionsOffLeaveOutExactlyTheirFile) {
  options.useStripArt = false;
  options.createLauncher = false;
  uint64_t planned = planInstallBytes(pack, options);
  EXPECT_EQ(planned, expectedBytes({"VELMO_Data/StreamingAssets/bg.png", "VELMO-1080p.bat"}));
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(state.bytesDone.load(), planned);
  EXPECT_FALSE(exists(out / "game/VELMO_Data/StreamingAssets/bg.png"));
  EXPECT_FALSE(exists(out / "game/VELMO-1080p.bat"));
  EXPECT_TRUE(exists(out / "game/VELMO.bat"));
}

TEST_F(InstallJobTest, FreeSpaceNeedsThePlanPlusTheMargin) {
  PlatformOps ops = nativePlatform();
  ops.freeSpace = fakeFreeSpace;
  ScopedPlatformOverride seam(ops);
  uint64_t planned = planInstallBytes(pack, options);
  gFreeBytes = planned + kFreeSpaceMargin - 1;
  EXPECT_FALSE(runInstallHere(job));
  EXPECT_EQ(copyErrorText(state), L"Not enough free space on that drive.\nVELMO needs " + formatSize(planned) + L"; " +
                                      formatSize(gFreeBytes) + L" are free.");
  EXPECT_FALSE(exists(out / "game"));  // created by the job, removed again
  gFreeBytes = planned + kFreeSpaceMargin;
  EXPECT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
}

TEST_F(InstallJobTest, AFailingWriteNamesTheFullPathAndLeavesNothing) {
  fs::create_directories(out / "Spiele/Éternité");
  options.destinationFolder = wide(out / "Spiele/Éternité");
  writeText(out / "Spiele/Éternité/keep.txt", "mine");
  PlatformOps ops = nativePlatform();
  ops.createFile = createFailingFor;
  ScopedPlatformOverride seam(ops);
  EXPECT_FALSE(runInstallHere(job));
  EXPECT_EQ(copyErrorText(state),
            L"Could not write\n" + joinPath(joinPath(options.destinationFolder, L".velmo-staging"), L"VELMO.exe"));
  EXPECT_EQ(readText(out / "Spiele/Éternité/keep.txt"), "mine");  // a destination that existed stays
  EXPECT_FALSE(exists(out / "Spiele/Éternité/.velmo-staging"));
}

TEST_F(InstallJobTest, AStagingFolderThatIsALinkIsRemovedAsALink) {
  fs::create_directories(out / "victim");
  writeText(out / "victim/precious.txt", "keep me");
  fs::create_directories(out / "game");
  if (!makeFolderLink(out / "victim", out / "game/.velmo-staging")) GTEST_SKIP() << "no folder links here";
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(readText(out / "victim/precious.txt"), "keep me");
  EXPECT_EQ(std::distance(fs::directory_iterator(out / "victim"), {}), 1);
  EXPECT_FALSE(exists(out / "game/.velmo-staging"));
  EXPECT_TRUE(exists(out / "game/VELMO.exe"));

  // A link inside a leftover staging folder is removed as itself too.
  fs::remove_all(out / "game");
  fs::create_directories(out / "game/.velmo-staging");
  ASSERT_TRUE(makeFolderLink(out / "victim", out / "game/.velmo-staging/VELMO_Data"));
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(readText(out / "victim/precious.txt"), "keep me");
  EXPECT_EQ(std::distance(fs::directory_iterator(out / "victim"), {}), 1);
  EXPECT_FALSE(isLink(out / "game/VELMO_Data"));
  EXPECT_TRUE(fs::is_directory(out / "game/VELMO_Data"));
}

// While the game's exe is moved into place it is held by another program,
// and a Cancel comes meanwhile.
InstallState* gMovingState = nullptr;
bool gSawMoving = false;
bool exeHeldUntilCancel(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  otherVolume = false;
  if (!toUtf8(to).ends_with("VELMO.exe")) return nativePlatform().renameReplace(from, to, otherVolume);
  gSawMoving = gMovingState->movingIntoPlace;
  gMovingState->cancelRequested = true;
  return retryWhileHeld([](bool& held) { return !(held = true); });
}

TEST_F(InstallJobTest, ACancelEndsAWaitDuringTheMoveWhichPutsEverythingBack) {
  fs::create_directories(out / "game");
  writeText(out / "game/VELMO.exe", "the player's exe");
  PlatformOps ops = nativePlatform();
  ops.renameReplace = exeHeldUntilCancel;
  gMovingState = &state, gSawMoving = false;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(runInstallHere(job));
  }
  EXPECT_TRUE(gSawMoving) << "the window holds off a session end meanwhile";
  EXPECT_FALSE(state.movingIntoPlace);
  EXPECT_EQ(copyErrorText(state), L"Cancelled.");
  EXPECT_EQ(readText(out / "game/VELMO.exe"), "the player's exe");
  EXPECT_EQ(std::distance(fs::directory_iterator(out / "game"), {}), 1) << "nothing else left";
}

bool failingFlush(FileHandle) { return false; }

TEST_F(InstallJobTest, NoSuccessUnlessEveryStagedFileIsFlushed) {
  PlatformOps ops = nativePlatform();
  ops.flushFile = failingFlush;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(runInstallHere(job));
  }
  // Flushed by the handle that wrote it: the first file fails as written.
  EXPECT_TRUE(copyErrorText(state).starts_with(L"Could not ")) << toUtf8(copyErrorText(state));
  EXPECT_FALSE(exists(out / "game"));
}

TEST_F(InstallJobTest, ACancelPressedBeforeTheJobStartsIsKept) {
  beginInstallJob(job);
  state.cancelRequested = true;  // pressed right after "Install", before the worker runs
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Cancelled.");
  EXPECT_FALSE(exists(out / "game"));
}

TEST_F(InstallJobTest, ASecondRunIntoTheSameFolderFailsAndLeavesTheFirstOnesStaging) {
  // The first run holds its staging folder, part-built.
  const PlatformOps& os = nativePlatform();
  fs::create_directories(out / "game/.velmo-staging/VELMO_Data");
  writeText(out / "game/.velmo-staging/VELMO_Data/level0", "being built");
  std::wstring lockPath = joinPath(joinPath(options.destinationFolder, kStagingFolderName), kStagingLockName);
  FileHandle first = os.lockFile(lockPath);
  ASSERT_NE(first, kInvalidFile);
  auto before = treeSnapshot(out / "game");
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Could not create the staging folder.");
  EXPECT_EQ(treeSnapshot(out / "game"), before);
  EXPECT_TRUE(job.stagingPath.empty());

  // Once it is gone (killed: its lock let go, its files left), a run cleans up and succeeds.
  os.unlockFile(first, lockPath);
  ASSERT_TRUE(runInstallJob(job)) << toUtf8(copyErrorText(state));
  std::string difference;
  EXPECT_TRUE(sameTree(demo + "/expected", out / "game", difference)) << difference;
}

// Removes or cuts short a staged file as the move looks at it, as another
// program may do at any time before.
std::string gTamper;
bool tamperingPathInfo(const std::wstring& path, PathInfo& info) {
  std::string p = toUtf8(path);
  if (!gTamper.empty() && p.find(".velmo-staging") != std::string::npos && p.ends_with("VELMO.exe")) {
    if (gTamper == "delete") fs::remove(p);
    if (gTamper == "truncate") fs::resize_file(p, 1);
    gTamper.clear();
  }
  return nativePlatform().pathInfo(path, info);
}

TEST_F(InstallJobTest, AStagedFileGoneOrCutShortBeforeTheMoveFailsTheJob) {
  PlatformOps ops = nativePlatform();
  ops.pathInfo = tamperingPathInfo;
  ScopedPlatformOverride seam(ops);
  for (const char* how : {"delete", "truncate"}) {
    gTamper = how;
    EXPECT_FALSE(runInstallJob(job)) << how;
    EXPECT_EQ(copyErrorText(state), L"Could not move the finished files into place.") << how;
    EXPECT_FALSE(exists(out / "game")) << how;  // nothing moved, the folder it made removed
  }
}

// A listing of the staged Managed folder that ends early once without an
// error, as one that took a failing read for its end; or a moved file that
// shows another size where it lies.
std::string gSkew;
bool skippingList(const std::wstring& path, std::vector<DirEntry>& entries) {
  bool ok = nativePlatform().listDirectory(path, entries);
  std::string p = toUtf8(path);
  if (gSkew == "listing" && p.find(".velmo-staging") != std::string::npos && p.ends_with("Managed") &&
      !entries.empty()) {
    entries.pop_back();
    gSkew.clear();
  }
  return ok;
}
bool skewedPathInfo(const std::wstring& path, PathInfo& info) {
  bool ok = nativePlatform().pathInfo(path, info);
  std::string p = toUtf8(path);
  if (gSkew == "target" && p.find(".velmo-staging") == std::string::npos && p.ends_with("VELMO.exe")) ++info.size;
  return ok;
}

TEST_F(InstallJobTest, AMoveThatMissedAFileOrLeftAWrongOneIsPutBack) {
  // An older build of the same sizes: only the move itself can tell.
  fs::create_directories(out / "game/VELMO_Data");
  fs::copy(demo + "/expected/VELMO_Data/Managed", out / "game/VELMO_Data/Managed");
  for (auto& f : fs::directory_iterator(out / "game/VELMO_Data/Managed")) {
    writeText(f.path().string(), std::string(fs::file_size(f.path()), 'o'));
  }
  writeText(out / "game/VELMO.exe", "older build");
  writeText(out / "game/notes.txt", "the player's");
  auto before = treeSnapshot(out / "game");
  PlatformOps ops = nativePlatform();
  ops.listDirectory = skippingList;
  ops.pathInfo = skewedPathInfo;
  ScopedPlatformOverride seam(ops);
  for (const char* how : {"listing", "target"}) {
    gSkew = how;
    EXPECT_FALSE(runInstallJob(job)) << how;
    EXPECT_EQ(copyErrorText(state), L"Could not move the finished files into place.") << how;
    EXPECT_TRUE(treeSnapshot(out / "game") == before) << how;  // the older build, byte for byte
  }
  gSkew.clear();
  ASSERT_TRUE(runInstallJob(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(readText(out / "game/notes.txt"), "the player's");
}

size_t gFileLimit = 0, gFolderLimit = 0;
bool shortPathLimits(size_t& fileLimit, size_t& folderLimit) {
  fileLimit = gFileLimit, folderLimit = gFolderLimit;
  return true;
}

TEST_F(InstallJobTest, PathsTooLongForTheSystemFailBeforeAnythingIsBuilt) {
  PlatformOps ops = nativePlatform();
  ops.pathLengthLimits = shortPathLimits;
  ScopedPlatformOverride seam(ops);
  const std::wstring& dest = options.destinationFolder;
  std::wstring staging = joinPath(dest, kStagingFolderName);
  // The longest output in directory order, and the first one of them.
  std::wstring longest, first;
  for (const auto& e : pack.entries) {
    if (!isInstallable(e.kind)) continue;
    std::wstring path = joinPath(staging, nativeRelativePath(outputPathOf(e)));
    if (path.size() > longest.size()) longest = path;
  }
  for (const auto& e : pack.entries) {
    std::wstring path = joinPath(staging, nativeRelativePath(outputPathOf(e)));
    if (isInstallable(e.kind) && path.size() == longest.size()) {
      first = path;
      break;
    }
  }
  gFolderLimit = longest.size(), gFileLimit = longest.size() - 1;
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Could not write\n" + first);
  EXPECT_FALSE(exists(out / "game"));
  gFolderLimit = staging.size() - 1;
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Could not create the staging folder.");
  gFolderLimit = dest.size() - 1;
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Could not create the folder\n" + dest);
  EXPECT_FALSE(exists(out / "game"));
  gFolderLimit = gFileLimit = longest.size();
  EXPECT_TRUE(runInstallJob(job)) << toUtf8(copyErrorText(state));
}

// A job over a pack without records (tests add their own) and no XAPK.
struct BarePackJob {
  TempDir t;
  Bytes container = makeContainer({}, {}, 2), digest = digestOf(container);
  PatchPack pack;
  XapkSource source;
  InstallOptions options;
  InstallState state;
  InstallContext job{&pack, &source, &options, &state, L"", nullptr};
  explicit BarePackJob(const std::string& destination) {
    EXPECT_TRUE(loadPatchPackFrom(container, digest, pack));
    options.destinationFolder = wide(t / destination);
  }
};

TEST(InstallJob, AnEmptyPackSucceedsWithNothingToDo) {
  BarePackJob bare("a/b");
  InstallState& state = bare.state;
  bool finished = false, result = false;
  bare.job.jobFinished = [&](bool ok) { finished = true, result = ok; };
  state.jobRunning = true;
  installThreadProc(bare.job);
  EXPECT_TRUE(finished && result);
  EXPECT_FALSE(state.jobRunning.load());
  EXPECT_EQ(state.exitCode.load(), 0);
  EXPECT_EQ(state.bytesTotal.load(), 0u);
  EXPECT_TRUE(fs::is_directory(bare.t / "a/b"));
  EXPECT_FALSE(exists(bare.t / "a/b/.velmo-staging"));
}

TEST(InstallJob, HugeClaimedSizesSaturateThePlanAndFailTheSpaceCheck) {
  BarePackJob bare("game");
  PackEntry huge;
  huge.kind = PackFile, huge.name = L"a.bin", huge.size = UINT64_MAX;
  PackEntry small = huge;
  small.name = L"b.bin", small.size = 2;  // would wrap the sum to 1
  bare.pack.entries = {huge, small};
  EXPECT_EQ(planInstallBytes(bare.pack, bare.options), UINT64_MAX);
  EXPECT_FALSE(runInstallHere(bare.job));
  EXPECT_TRUE(copyErrorText(bare.state).starts_with(L"Not enough free space on that drive."));
  EXPECT_FALSE(exists(bare.t / "game"));
}

TEST(InstallJob, CancelAfterParsesLikeTheCRuntime) {
  EXPECT_EQ(parseCancelAfter(L"250"), 250u);
  EXPECT_EQ(parseCancelAfter(L"  +7ms"), 7u);
  EXPECT_EQ(parseCancelAfter(L""), 0u);
  EXPECT_EQ(parseCancelAfter(L"soon"), 0u);
  EXPECT_EQ(parseCancelAfter(L"-5"), uint32_t(-5));  // a huge unsigned wait: never fires in practice
  EXPECT_EQ(parseCancelAfter(L"99999999999"), 2147483647u);
  EXPECT_EQ(parseCancelAfter(std::wstring(31, L'1')), 2147483647u);
  EXPECT_EQ(parseCancelAfter(std::wstring(32, L'1')), 0u);  // too long for the buffer: unusable
}

}  // namespace
}  // namespace velmo
