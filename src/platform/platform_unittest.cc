// The native operations of this build (POSIX here, Windows under Wine), as
// the core relies on them.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "common/utf8.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using namespace velmo::test;

TEST(NativePlatform, FilesReadAtAnyOffsetAndAreReplacedByMoves) {
  const PlatformOps& os = nativePlatform();
  TempDir t;
  std::wstring a = joinPath(wide(t.path()), L"a.bin"), b = joinPath(wide(t.path()), L"b.bin");
  ASSERT_TRUE(writeWholeFile(a, ByteView(reinterpret_cast<const uint8_t*>("hello world"), 11)));
  ASSERT_TRUE(writeWholeFile(b, ByteView(reinterpret_cast<const uint8_t*>("old"), 3)));

  FileHandle f = os.openFileRead(a);
  ASSERT_NE(f, kInvalidFile);
  char buf[16] = {};
  size_t got = 0;
  ASSERT_TRUE(os.readFileAt(f, 6, buf, 5, got));
  EXPECT_EQ(std::string(buf, got), "world");
  ASSERT_TRUE(os.readFileAt(f, 0, buf, 5, got));  // earlier reads never shift later ones
  EXPECT_EQ(std::string(buf, got), "hello");
  ASSERT_TRUE(os.readFileAt(f, 8, buf, 10, got));  // short only at the end
  EXPECT_EQ(std::string(buf, got), "rld");
  ASSERT_TRUE(os.readFileAt(f, 100, buf, 4, got));
  EXPECT_EQ(got, 0u);
  uint64_t size = 0;
  ASSERT_TRUE(os.fileSize(f, size));
  EXPECT_EQ(size, 11u);
  // The source may be renamed over another file while it is open for reading.
  EXPECT_TRUE(os.moveReplace(a, b));
  os.closeFile(f);
  Bytes moved;
  ASSERT_TRUE(readWholeFile(b, moved));
  EXPECT_EQ(std::string(moved.begin(), moved.end()), "hello world");
  EXPECT_FALSE(os.pathExists(a));
  EXPECT_TRUE(os.deleteFile(b));
  EXPECT_FALSE(os.deleteFile(b));
  EXPECT_EQ(os.openFileRead(b), kInvalidFile);
}

TEST(NativePlatform, FoldersListTheirEntriesAndTellWhatExists) {
  const PlatformOps& os = nativePlatform();
  TempDir t;
  std::wstring dir = joinPath(wide(t.path()), L"d\u00E9j\u00E0 \u6771");
  bool exists = true;
  ASSERT_TRUE(os.createDirectory(dir, exists));
  EXPECT_FALSE(exists);
  EXPECT_FALSE(os.createDirectory(dir, exists));
  EXPECT_TRUE(exists);
  ASSERT_TRUE(writeWholeFile(joinPath(dir, L"f.txt"), {}));
  ASSERT_TRUE(os.createDirectory(joinPath(dir, L"sub"), exists));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(os.listDirectory(dir, entries));
  std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, L"f.txt");
  EXPECT_EQ(entries[0].type, EntryType::File);
  EXPECT_EQ(entries[1].name, L"sub");
  EXPECT_EQ(entries[1].type, EntryType::Directory);
  EXPECT_TRUE(os.isDirectory(dir));
  EXPECT_FALSE(os.isDirectory(joinPath(dir, L"f.txt")));
  EXPECT_FALSE(os.removeDirectory(dir));  // not empty
  EXPECT_FALSE(os.listDirectory(joinPath(dir, L"missing"), entries));
}

TEST(NativePlatform, FreeSpaceOfAFolderStillToBeMadeAndTheEnvironment) {
  const PlatformOps& os = nativePlatform();
  TempDir t;
  uint64_t free = 0;
  EXPECT_TRUE(os.freeSpace(joinPath(joinPath(wide(t.path()), L"not"), L"yet"), free));
  EXPECT_GT(free, 0u);
  std::wstring value;
  EXPECT_FALSE(os.getEnvironment(L"VELMO_SURELY_UNSET_VARIABLE", value));
  EXPECT_FALSE(os.tempFolder().empty());
  EXPECT_NE(os.tempFolder().back(), kPathSeparator);
  std::wstring exe = os.executablePath();
  EXPECT_TRUE(os.pathExists(exe));
  EXPECT_FALSE(os.isDirectory(exe));
}

TEST(PathRoots, DrivesAndSharesByTheRulesOfWindows) {
  EXPECT_EQ(windowsRootLength(L"E:\\"), 3u);
  EXPECT_EQ(windowsRootLength(L"E:/Games"), 3u);
  EXPECT_EQ(windowsRootLength(L"E:"), 2u);
  EXPECT_EQ(windowsRootLength(L"E:Games"), 2u);
  EXPECT_EQ(windowsRootLength(L"\\Games"), 1u);
  EXPECT_EQ(windowsRootLength(L"a\\Games"), 0u);
  EXPECT_EQ(windowsRootLength(L"\\\\server\\share\\Games"), 15u);
  EXPECT_EQ(windowsRootLength(L"\\\\server\\share"), 14u);
  EXPECT_EQ(windowsRootLength(L"\\\\server"), 8u);
  EXPECT_EQ(windowsRootLength(L"\\\\?\\C:\\Games"), 7u);
  EXPECT_EQ(windowsRootLength(L"\\\\?\\UNC\\server\\share\\Games"), 21u);

  EXPECT_EQ(windowsVolumeRoot(L"C:\\Games\\VELMO"), L"C:\\");
  EXPECT_EQ(windowsVolumeLabel(L"C:\\"), L"C:");
  EXPECT_EQ(windowsVolumeRoot(L"\\\\server\\share\\Games"), L"\\\\server\\share\\");
  EXPECT_EQ(windowsVolumeRoot(L"\\\\server\\share"), L"\\\\server\\share\\");
  EXPECT_EQ(windowsVolumeLabel(L"\\\\server\\share\\"), L"\\\\server\\share");

  // A folder that ends in a separator (a drive root) gets no second one.
  std::wstring root(1, kPathSeparator);
  EXPECT_EQ(joinPath(root, L"VELMO"), root + L"VELMO");
  EXPECT_EQ(joinPath(L"games", L"VELMO"), L"games" + root + L"VELMO");
#ifdef _WIN32
  EXPECT_EQ(joinPath(L"D:\\", L"VELMO"), L"D:\\VELMO");
  EXPECT_EQ(joinPath(L"D:/", L"VELMO"), L"D:/VELMO");
  EXPECT_EQ(volumeRoot(L"\\\\server\\share\\Games"), L"\\\\server\\share\\");
  EXPECT_EQ(volumeLabel(L"\\\\server\\share\\"), L"\\\\server\\share");
#endif
}

uint32_t gClock = 0;
std::vector<uint32_t> gPauses;
uint32_t fakeTick() { return gClock; }
void fakeSleep(uint32_t ms) {
  gPauses.push_back(ms);
  gClock += ms;
}

TEST(HeldFiles, RetriedForAFewSecondsOnlyWhileHeldAndNeverPastACancel) {
  PlatformOps ops = nativePlatform();
  ops.tickCount = fakeTick;
  ops.sleepMs = fakeSleep;
  ScopedPlatformOverride seam(ops);
  gClock = 0, gPauses.clear();
  int tries = 0;
  auto heldFor = [&](int times) {
    return [&tries, times](bool& held) {
      held = ++tries <= times;
      return !held;
    };
  };
  // Held three times, then let go: done, after three short pauses.
  EXPECT_TRUE(retryWhileHeld(heldFor(3)));
  EXPECT_EQ(tries, 4);
  ASSERT_EQ(gPauses.size(), 3u);
  EXPECT_LT(gClock, 100u);

  // Never let go: given up once the bound has passed, not before.
  tries = 0, gClock = 0, gPauses.clear();
  EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
  EXPECT_EQ(gClock, kHeldFileRetryMs);
  EXPECT_GT(tries, 10);
  EXPECT_LT(tries, 40);
  EXPECT_LE(*std::max_element(gPauses.begin(), gPauses.end()), 250u);

  // Any other failure is final at once.
  tries = 0, gClock = 0;
  EXPECT_FALSE(retryWhileHeld([&](bool& held) {
    ++tries;
    held = false;
    return false;
  }));
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(gClock, 0u);

  // A cancel ends the waiting.
  std::atomic<bool> cancel{true};
  setHeldFileRetryStop(&cancel);
  tries = 0;
  EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
  setHeldFileRetryStop(nullptr);
  EXPECT_EQ(tries, 1);
}

#ifdef _WIN32
// Another program's handle, opened without any sharing; closed by a pause
// of the retry when releaseAfter counts down to 0.
HANDLE gHolder = INVALID_HANDLE_VALUE;
int gReleaseAfter = -1;
void pauseThenMaybeRelease(uint32_t ms) {
  gClock += ms;
  if (gReleaseAfter > 0 && --gReleaseAfter == 0) {
    CloseHandle(gHolder);
    gHolder = INVALID_HANDLE_VALUE;
  }
}
HANDLE holdWithoutSharing(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(NativePlatform, FilesHeldWithoutSharingAreWaitedForABoundedTime) {
  PlatformOps ops = nativePlatform();
  ops.tickCount = fakeTick;
  ops.sleepMs = pauseThenMaybeRelease;
  ScopedPlatformOverride seam(ops);
  const PlatformOps& os = nativePlatform();
  TempDir t;
  std::wstring a = joinPath(wide(t.path()), L"held.bin"), b = joinPath(wide(t.path()), L"moved.bin");
  ASSERT_TRUE(writeWholeFile(a, ByteView(reinterpret_cast<const uint8_t*>("x"), 1)));

  // Let go after three pauses: each operation goes through.
  gHolder = holdWithoutSharing(a);
  ASSERT_NE(gHolder, INVALID_HANDLE_VALUE);
  gReleaseAfter = 3, gClock = 0;
  EXPECT_TRUE(os.moveReplace(a, b));
  EXPECT_EQ(gReleaseAfter, 0);
  gHolder = holdWithoutSharing(b);
  gReleaseAfter = 2;
  FileHandle f = os.openFileRead(b);
  EXPECT_NE(f, kInvalidFile);
  os.closeFile(f);
  gHolder = holdWithoutSharing(b);
  gReleaseAfter = 2;
  EXPECT_TRUE(os.deleteFile(b));

  // Never let go: every operation gives up after the bound.
  ASSERT_TRUE(writeWholeFile(a, ByteView(reinterpret_cast<const uint8_t*>("x"), 1)));
  gHolder = holdWithoutSharing(a);
  gReleaseAfter = -1;
  auto givesUp = [&](auto operation) {
    gClock = 0;
    bool failed = !operation();
    return failed && gClock >= kHeldFileRetryMs;
  };
  EXPECT_TRUE(givesUp([&] { return os.moveReplace(a, b); }));
  EXPECT_TRUE(givesUp([&] { return os.deleteFile(a); }));
  EXPECT_TRUE(givesUp([&] { return os.createFile(a) != kInvalidFile; }));
  EXPECT_TRUE(givesUp([&] { return os.openFileRead(a) != kInvalidFile; }));
  CloseHandle(gHolder);
  EXPECT_TRUE(os.deleteFile(a));
}
#endif

#ifndef _WIN32
TEST(NativePlatform, APrivateFolderThatCannotBeMadePrivateIsNotLeft) {
  TempDir t;
  std::wstring path = joinPath(wide(t.path()), L"private");
  // No descriptor left: the folder is made, but cannot be opened to be checked.
  int lowest = ::dup(0);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  struct rlimit was;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
  struct rlimit none = was;
  none.rlim_cur = rlim_t(lowest);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  bool made = nativePlatform().createPrivateDirectory(path);
  ::setrlimit(RLIMIT_NOFILE, &was);
  EXPECT_FALSE(made);
  EXPECT_FALSE(exists(toUtf8(path)));
  EXPECT_TRUE(nativePlatform().createPrivateDirectory(path));
}
#endif

TEST(NativePlatform, ALockFileHasOneHolderAtATime) {
  const PlatformOps& os = nativePlatform();
  TempDir t;
  std::wstring lock = joinPath(wide(t.path()), L".velmo-lock");
  FileHandle first = os.lockFile(lock);
  ASSERT_NE(first, kInvalidFile);
  EXPECT_EQ(os.lockFile(lock), kInvalidFile);  // a second owner, as another process would be
  os.unlockFile(first, lock);
  EXPECT_FALSE(os.pathExists(lock));
  FileHandle again = os.lockFile(lock);
  ASSERT_NE(again, kInvalidFile);
  os.unlockFile(again, lock);
}

TEST(NativePlatform, RelativeDestinationsResolveAgainstTheCurrentFolder) {
  const PlatformOps& os = nativePlatform();
  std::wstring here = std::filesystem::current_path().wstring();
#ifdef _WIN32
  EXPECT_EQ(os.fullPath(L"a\\Games"), joinPath(here, L"a\\Games"));  // a one-letter first folder
  std::wstring drive = os.fullPath(here.substr(0, 2));  // "Z:": that drive's current folder
  EXPECT_TRUE(drive == here || drive == here + L"\\") << toUtf8(drive);
  EXPECT_EQ(os.fullPath(L"C:\\Games\\.\\VELMO"), L"C:\\Games\\.\\VELMO");  // full paths stay as given
  EXPECT_EQ(os.fullPath(L"\\\\server\\share\\Games"), L"\\\\server\\share\\Games");
#else
  EXPECT_EQ(os.fullPath(L"a/Games"), joinPath(here, L"a/Games"));
  EXPECT_EQ(os.fullPath(L"/games/./VELMO"), L"/games/./VELMO");
#endif
  EXPECT_EQ(os.fullPath(L""), L"");
}

}  // namespace
}  // namespace velmo
