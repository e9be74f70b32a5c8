#include "install/install_job.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install/install_driver.h"
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
  fs::create_directory_symlink(out / "victim", out / "game/.velmo-staging");
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  EXPECT_EQ(readText(out / "victim/precious.txt"), "keep me");
  EXPECT_EQ(std::distance(fs::directory_iterator(out / "victim"), {}), 1);
  EXPECT_FALSE(exists(out / "game/.velmo-staging"));
  EXPECT_TRUE(exists(out / "game/VELMO.exe"));
}

bool failingFlush(FileHandle) { return false; }

TEST_F(InstallJobTest, NoSuccessUnlessEveryStagedFileIsFlushed) {
  PlatformOps ops = nativePlatform();
  ops.flushFile = failingFlush;
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(runInstallHere(job));
  }
  EXPECT_EQ(copyErrorText(state), L"Could not move the finished files into place.");
  EXPECT_FALSE(exists(out / "game"));
}

TEST_F(InstallJobTest, ACancelPressedBeforeTheJobStartsIsKept) {
  beginInstallJob(job);
  state.cancelRequested = true;  // pressed right after "Install", before the worker runs
  EXPECT_FALSE(runInstallJob(job));
  EXPECT_EQ(copyErrorText(state), L"Cancelled.");
  EXPECT_FALSE(exists(out / "game"));
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
