#include "install/build_pipeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/utf8.h"
#include "install/install_driver.h"
#include "patch/bundle_patch.h"
#include "patch/lzma_raw.h"
#include "platform/platform.h"
#include "support/patch_fixture.h"
#include "velmo-pack/source_records.h"

#ifdef _WIN32
// The C runtime's own names; they update the process environment too.
static int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
static int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

// Bundles (and a delta) in an OBB, built by the job with a chosen number of
// workers through VELMO_THREADS.
class BuildPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override { f.layout.apkEntries = {{"assets/unused", {1}, true}}; }
  void TearDown() override {
    ::unsetenv("VELMO_THREADS");
    ::unsetenv("VELMO_CANCEL_MS");
  }
  // A bundle whose payload the record changes a little; returns the record.
  PackEntry& addBundle(const std::string& name, Bytes payload) {
    Bytes target = payload;
    for (size_t i = 300; i < target.size(); i += 7001) target[i] ^= 0x21;
    Bytes bundle = unityWebBundleOf(payload, foreignEncoderSettings());
    f.layout.obbEntries.push_back({name, bundle, true});
    PackEntry e;
    e.source = XapkArchive::Obb;
    e.sourceName = wide(name);
    e.targetPath = L"VELMO_Data\\StreamingAssets\\" + wide(name);
    std::string error;
    Bytes rebuilt;
    EXPECT_TRUE(addBundleRecord(f.builder, e, bundle, target, false, error, &rebuilt)) << error;
    expected[name] = rebuilt;
    return f.builder.entries.back();
  }
  void addDelta(const std::string& name) {
    Bytes android = randomBytes(40000, 9), windows = android;
    windows.insert(windows.begin() + 10, {'p', 'c'});
    f.layout.apkEntries.push_back({"assets/" + name, android, false});
    PackEntry e;
    e.source = XapkArchive::Apk;
    e.sourceName = wide("assets/" + name);
    e.targetPath = L"VELMO_Data\\StreamingAssets\\" + wide(name);
    std::string error;
    EXPECT_TRUE(addDeltaRecord(f.builder, e, android, windows, false, error)) << error;
    expected[name] = windows;
  }
  // Runs the whole job into dest with the given worker count.
  bool run(const std::string& dest, unsigned workers) {
    ::setenv("VELMO_THREADS", std::to_string(workers).c_str(), 1);
    options.destinationFolder = wide(f.dir / dest);
    bindInstallJob(job, f.pack, f.source, options, state);
    return runInstallHere(job);
  }
  std::string built(const std::string& dest, const std::string& name) {
    return f.dir / (dest + "/VELMO_Data/StreamingAssets/" + name);
  }
  PatchFixture f;
  std::map<std::string, Bytes> expected;
  InstallOptions options;
  InstallState state;
  InstallContext job;
};

TEST_F(BuildPipelineTest, AnyWorkerCountBuildsTheSequentialTreeByteForByte) {
  addBundle("small.unity3d", gameLikePayload(120000, 1));
  // Two segments of the delta, so the segment loop is part of the comparison.
  Bytes big(kBundleSegmentSize + 200000);
  for (size_t i = 0; i < big.size(); ++i) {
    big[i] = uint8_t("ice over the moor "[i % 18] + (i / 4096 % 7 == 0 ? (i * 2654435761u >> 29) : 0));
  }
  ASSERT_EQ(addBundle("two.unity3d", big).segments.size(), 2u);
  addDelta("level1");
  addBundle("mid.unity3d", gameLikePayload(400000, 2));
  ASSERT_TRUE(f.open());
  for (unsigned workers : {1u, 2u}) {
    std::string dest = "game" + std::to_string(workers);
    ASSERT_TRUE(run(dest, workers)) << toUtf8(copyErrorText(state));
    for (const auto& [name, bytes] : expected) EXPECT_TRUE(readBytes(built(dest, name)) == bytes) << name << workers;
    EXPECT_EQ(state.bytesDone.load(), state.bytesTotal.load());
  }
}

TEST_F(BuildPipelineTest, TheFirstFailureInDirectoryOrderIsReportedWhileBothFailingBundlesRun) {
  // The first bundle fails only after its re-encode; the second, larger one
  // (started first) fails at once. The first one's message must win.
  addBundle("first.unity3d", gameLikePayload(1500000, 3)).bundleCrc ^= 1;
  addBundle("second.unity3d", gameLikePayload(2000000, 4)).headerSize += 1;
  addDelta("later");
  ASSERT_TRUE(f.open());
  for (unsigned workers : {1u, 2u}) {
    std::string dest = "game" + std::to_string(workers);
    EXPECT_FALSE(run(dest, workers));
    EXPECT_EQ(copyErrorText(state), L"The rebuilt bundle did not match (VELMO_Data\\StreamingAssets\\first.unity3d).");
    EXPECT_FALSE(fs::exists(f.dir / dest));
  }
}

// Stands in for the Cancel press at an exact point of a bundle. The job
// reads its cancel-after clock at every progress poll (VELMO_CANCEL_MS set
// far out), so the clock can set the flag from inside one poll once the bar
// has passed the mark: the next poll is then the first to see it.
struct CancelPress {
  static inline InstallState* state = nullptr;
  static inline uint64_t mark = 0;
  static inline std::atomic<bool> pressed{false};
  static inline std::atomic<uint64_t> doneAtPress{0};
  static uint32_t tick() {
    if (state->bytesDone.load() >= mark && !pressed.exchange(true)) {
      state->cancelRequested = true;
      doneAtPress = state->bytesDone.load();
    }
    return nativePlatform().tickCount();
  }
};

TEST_F(BuildPipelineTest, ACancelInTheMiddleOfABundleStopsItsEncodeAtTheNextPoll) {
  addBundle("slow.unity3d", gameLikePayload(6000000, 5));
  ASSERT_TRUE(f.open());
  const PackEntry& bundle = f.pack.entries.back();
  const uint64_t size = bundle.size;
  // One poll of the encoder, in the bar's bytes (rounded up).
  const uint64_t units = bundleWorkUnits(bundle);
  const uint64_t pollBytes = (uint64_t(kLzmaEncodeStep) * size + units - 1) / units + 1;
  PlatformOps ops = nativePlatform();
  ops.tickCount = CancelPress::tick;
  ScopedPlatformOverride clock(ops);
  ::setenv("VELMO_CANCEL_MS", "2000000000", 1);
  for (unsigned workers : {1u, 2u}) {
    std::string dest = "game" + std::to_string(workers);
    state.bytesDone = 0;  // the job's start reads the clock before it resets the count
    // Three quarters of the bundle's units: the decode is behind, the re-encode half done.
    CancelPress::state = &state;
    CancelPress::mark = size * 3 / 4;
    CancelPress::pressed = false;
    bool ok = run(dest, workers);
    ASSERT_TRUE(CancelPress::pressed) << "the bundle finished before it could be cancelled: " << ok << " "
                                      << toUtf8(copyErrorText(state));
    EXPECT_FALSE(ok);
    EXPECT_GT(CancelPress::doneAtPress.load(), 0u);
    // At most the one poll after the press went on, and the bundle never completed.
    EXPECT_LE(state.bytesDone.load() - CancelPress::doneAtPress.load(), pollBytes) << workers << " workers";
    EXPECT_LT(state.bytesDone.load(), size) << workers << " workers";
    EXPECT_EQ(copyErrorText(state), L"Cancelled.");
    EXPECT_FALSE(fs::exists(f.dir / dest));
  }
  ::unsetenv("VELMO_CANCEL_MS");
}

TEST(BuildPipeline, LargestBundlesStartFirstAndTheWorkerCountComesFromTheEnvironment) {
  PatchPack pack;
  pack.entries.resize(4);
  pack.entries[0].kind = FileDelta, pack.entries[0].size = 900;
  pack.entries[1].kind = BundlePatch, pack.entries[1].targetDecodedSize = 10;
  pack.entries[2].kind = BundlePatch, pack.entries[2].targetDecodedSize = 30;
  pack.entries[3].kind = FileDelta, pack.entries[3].size = 1000;
  EXPECT_EQ(startOrder(pack, {0, 1, 2, 3}), (std::vector<size_t>{2, 1, 3, 0}));

  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  for (auto [value, workers] : {std::pair<const char*, unsigned>{"1", 1}, {"3", 3}, {"0", cores}, {"x2", cores},
                                {"65", cores}, {"", cores}}) {
    ::setenv("VELMO_THREADS", value, 1);
    EXPECT_EQ(pipelineLimits().workers, workers) << value;
  }
  ::unsetenv("VELMO_THREADS");
  EXPECT_GT(pipelineLimits().memoryBudget, 0u);
}

}  // namespace
}  // namespace velmo
