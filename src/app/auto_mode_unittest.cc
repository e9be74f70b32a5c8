#include "app/auto_mode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/utf8.h"
#include "support/demo_fixture.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

FileHandle createFailingFor(const std::wstring& path) {
  std::string p = toUtf8(path);
  if (p.ends_with("VELMO.exe") || p.ends_with("patcher-auto.txt")) return kInvalidFile;
  return nativePlatform().createFile(path);
}

// The small demo game's pack loaded in memory.
class AutoModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = smallDemoGame();
    ASSERT_FALSE(demo.empty());
    useTempFolder(tmp.path());
    container = readBytes(demo + "/pack.bin");
    digest = digestOf(container);
    ASSERT_TRUE(loadPatchPackFrom(container, digest, pack));
  }
  void TearDown() override { restoreTempFolder(); }

  std::string demo;
  TempDir tmp, out;
  Bytes container, digest;
  PatchPack pack;
  InstallState state;
};

TEST_F(AutoModeTest, LogsUtf8AndStaysSilentWhenTheLogCannotBeWritten) {
  Startup startup;
  startup.exeDirectory = wide(out.path());
  startup.pack = pack;
  startup.commandLine = {true, wide(demo + "/harrowmere-1.0.7.xapk"), wide(out / "Jeu é")};
  PlatformOps ops = nativePlatform();
  ops.createFile = [](const std::wstring& path) {
    return toUtf8(path).ends_with("VELMO.exe") ? kInvalidFile : nativePlatform().createFile(path);
  };
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_EQ(runAutoMode(startup, state), 1);
  }
  EXPECT_EQ(readText(out / "patcher-auto.txt"),
            "Could not write\n" + toUtf8(joinPath(joinPath(wide(out / "Jeu é"), L".velmo-staging"), L"VELMO.exe")));

  fs::remove(out / "patcher-auto.txt");
  ops.createFile = createFailingFor;  // the log cannot be created either
  {
    ScopedPlatformOverride seam(ops);
    EXPECT_EQ(runAutoMode(startup, state), 1);
  }
  EXPECT_FALSE(exists(out / "patcher-auto.txt"));
  startup.commandLine.destinationFolder = wide(out / "ok");
  ops.createFile = [](const std::wstring& path) {
    return toUtf8(path).ends_with("patcher-auto.txt") ? kInvalidFile : nativePlatform().createFile(path);
  };
  ScopedPlatformOverride seam(ops);
  EXPECT_EQ(runAutoMode(startup, state), 0);
  EXPECT_FALSE(exists(out / "patcher-auto.txt"));
}

TEST_F(AutoModeTest, StartsItsJobWithTheCancelFlagCleared) {
  state.cancelRequested = true;  // left over; nothing can press Cancel in auto mode
  Startup startup;
  startup.exeDirectory = wide(out.path());
  startup.pack = pack;
  startup.commandLine = {true, wide(demo + "/harrowmere-1.0.7.xapk"), wide(out / "game")};
  EXPECT_EQ(runAutoMode(startup, state), 0);
  EXPECT_EQ(readText(out / "patcher-auto.txt"), "OK");
}

}  // namespace
}  // namespace velmo
