// The native operations of this build (POSIX here, Windows under Wine), as
// the core relies on them.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <numeric>
#include <string>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "common/utf8.h"
#ifdef _WIN32
#include "platform/win32/win32_file_calls.h"
#endif
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
  {
    // Not empty: on Windows taken for a deleted entry still held open, and
    // waited for (on a clock of the test's own) before it fails.
    static uint32_t clock = 0;
    PlatformOps ops = nativePlatform();
    ops.tickCount = [] { return clock; };
    ops.sleepMs = [](uint32_t ms) { clock += ms; };
    ScopedPlatformOverride seam(ops);
    EXPECT_FALSE(os.removeDirectory(dir));
  }
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
bool gClockStill = false;  // a tick count that does not move across a sleep (Wine's can)
std::vector<uint32_t> gPauses;
uint32_t fakeTick() { return gClock; }
void fakeSleep(uint32_t ms) {
  gPauses.push_back(ms);
  if (!gClockStill) gClock += ms;
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

  // A clock that stands still still ends the wait: the pauses count.
  tries = 0, gClock = 0, gPauses.clear(), gClockStill = true;
  EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
  gClockStill = false;
  EXPECT_EQ(std::accumulate(gPauses.begin(), gPauses.end(), 0u), kHeldFileRetryMs);

  // Any other failure is final at once.
  tries = 0, gClock = 0;
  EXPECT_FALSE(retryWhileHeld([&](bool& held) {
    ++tries;
    held = false;
    return false;
  }));
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(gClock, 0u);

  // Within a phase every call draws on one budget, and its stop ends any
  // wait; a phase opened inside it has a budget of its own.
  std::atomic<bool> cancel{false};
  {
    HeldFileRetryPhase phase(&cancel);
    tries = 0, gClock = 0;
    EXPECT_TRUE(retryWhileHeld(heldFor(20)));
    uint32_t firstWaited = gClock;
    EXPECT_GT(firstWaited, 0u);
    tries = 0;
    EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
    EXPECT_EQ(gClock, kHeldFileRetryMs) << "the second call had only what the first left";
    tries = 0;
    EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
    EXPECT_EQ(tries, 1) << "the budget is spent";
    EXPECT_EQ(gClock, kHeldFileRetryMs);
    {
      HeldFileRetryPhase inner(nullptr);
      tries = 0, gClock = 0;
      EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
      EXPECT_EQ(gClock, kHeldFileRetryMs);
    }
    tries = 0;
    EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
    EXPECT_EQ(tries, 1) << "the outer phase's budget is still spent";
  }
  {
    HeldFileRetryPhase phase(&cancel);
    cancel = true;
    tries = 0, gClock = 0;
    EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
    EXPECT_EQ(tries, 1);
    EXPECT_EQ(gClock, 0u);
  }
  EXPECT_FALSE(HeldFileRetryPhase::open());
  // Outside a phase the stop is not looked at: each call has its budget.
  tries = 0, gClock = 0;
  EXPECT_FALSE(retryWhileHeld(heldFor(1 << 30)));
  EXPECT_EQ(gClock, kHeldFileRetryMs);
}

// What Windows reports for each kind of entry, as the Windows operations
// read it (Wine makes no junctions, so this is where their handling shows).
TEST(WindowsFileSystem, OnlyNameSurrogateReparsePointsAreLinks) {
  constexpr uint32_t reparse = kWinAttributeReparsePoint, dir = kWinAttributeDirectory;
  struct Case {
    uint32_t attributes, tag;
    EntryType type;
    bool folderLink;  // removed with RemoveDirectoryW, as itself
  } cases[] = {
      {dir | reparse, 0xA0000003, EntryType::Link, true},        // junction, mount point
      {dir | reparse, 0xA000000C, EntryType::Link, true},        // directory symbolic link
      {reparse, 0xA000000C, EntryType::Link, false},             // file symbolic link
      {dir | reparse, 0xA000001D, EntryType::Link, true},        // a future surrogate (the bit decides)
      {dir | reparse, 0x9000601A, EntryType::Directory, false},  // cloud-synced folder
      {reparse | 0x400000, 0x9000001A, EntryType::File, false},  // cloud file, recalled on data access
      {reparse, 0x80000017, EntryType::File, false},             // compact /exe
      {reparse, 0x80000013, EntryType::File, false},             // deduplicated
      {reparse, 0x8000001B, EntryType::File, false},             // app execution alias
      {dir, 0, EntryType::Directory, false},
      {dir, 0xA000000C, EntryType::Directory, false},  // a tag means nothing without the attribute
      {0x20, 0, EntryType::File, false},
      {kWinAttributeDevice, 0, EntryType::Other, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(windowsEntryType(c.attributes, c.tag), c.type) << std::hex << c.attributes << " " << c.tag;
    EXPECT_EQ(windowsFolderLink(c.attributes, c.tag), c.folderLink) << std::hex << c.attributes << " " << c.tag;
  }
}

TEST(WindowsFileSystem, LastingDenialsAreToldFromPassingHolds) {
  constexpr uint32_t denied = 5, none = kWinInvalidAttributes, plain = 0x20, readOnly = kWinAttributeReadOnly,
                     dir = kWinAttributeDirectory;
  using R = WindowsRefusal;
  struct Case {
    uint32_t error, status, attributes;
    bool wantsFile;
    R refusal;
  } cases[] = {
      {32, 0, none, true, R::Held},                 // sharing violation
      {33, 0, none, true, R::Held},                 // lock violation
      {145, 0, dir, false, R::Held},                // a just-emptied folder: a deleted entry still open
      {denied, 0, plain, true, R::Held},            // a scanner's moment, or a refused right: told apart nowhere
      {denied, 0, none, true, R::Held},             //
      {denied, 0xC0000056, plain, true, R::DeletePending},
      {303, 0, none, true, R::DeletePending},
      {denied, 0xC0000121, plain, true, R::Final},  // a running program's image
      {denied, 0, plain | readOnly, true, R::Final},
      {denied, 0, dir | readOnly, false, R::Final},  // a read-only folder is not removed either
      {denied, 0xC00000BA, none, true, R::Final},    // a folder opened as a file
      {denied, 0, dir, true, R::Final},
      {denied, 0, dir, false, R::Held},  // a folder in use, for a moment
      {17, 0, none, true, R::Final},     // not the same device: for the caller to bridge
      {2, 0, none, true, R::Final},      // not found
      {80, 0, plain, true, R::Final},    // file exists
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyWindowsRefusal(c.error, c.status, c.attributes, c.wantsFile), c.refusal)
        << c.error << " " << std::hex << c.status << " " << c.attributes << " " << c.wantsFile;
  }
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

#ifdef _WIN32
// Entries as Windows reports them, which Wine cannot make: the Win32 calls
// that tell what an entry is and remove it answer from this table.
struct FakeEntry {
  DWORD attributes, tag;
  DWORD removeError;  // what removing it answers (0: it goes)
  LONG status;        // the NT status behind that answer
};
std::map<std::wstring, FakeEntry> gFakes;
std::vector<std::wstring> gRemoveCalls;
LONG gLastStatus = 0;
DWORD WINAPI fakeAttributes(LPCWSTR path) {
  auto it = gFakes.find(path);
  if (it != gFakes.end()) return it->second.attributes;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_FILE_ATTRIBUTES;
}
HANDLE WINAPI fakeFindFirst(LPCWSTR path, LPWIN32_FIND_DATAW data) {
  auto it = gFakes.find(path);
  if (it == gFakes.end()) return INVALID_HANDLE_VALUE;
  *data = WIN32_FIND_DATAW{};
  data->dwFileAttributes = it->second.attributes;
  data->dwReserved0 = it->second.tag;
  return reinterpret_cast<HANDLE>(1);
}
BOOL WINAPI fakeFindClose(HANDLE) { return TRUE; }
BOOL fakeRemove(LPCWSTR path, bool asFolder) {
  gRemoveCalls.push_back((asFolder ? L"RemoveDirectory " : L"DeleteFile ") + std::wstring(path));
  FakeEntry& e = gFakes.at(path);
  bool folder = e.attributes & FILE_ATTRIBUTE_DIRECTORY;
  DWORD error = e.removeError ? e.removeError : asFolder == folder ? 0 : folder ? ERROR_ACCESS_DENIED : ERROR_DIRECTORY;
  gLastStatus = e.removeError ? e.status : 0;
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  gFakes.erase(path);
  return TRUE;
}
BOOL WINAPI fakeDeleteFile(LPCWSTR path) { return fakeRemove(path, false); }
BOOL WINAPI fakeRemoveDirectory(LPCWSTR path) { return fakeRemove(path, true); }
LONG WINAPI fakeLastStatus() { return gLastStatus; }

TEST(NativePlatform, WindowsEntriesAreTakenForWhatTheyAreAndLastingDenialsCostNoWait) {
  PlatformOps ops = nativePlatform();
  ops.tickCount = fakeTick;
  ops.sleepMs = fakeSleep;
  ScopedPlatformOverride seam(ops);
  Win32FileCalls saved = win32FileCalls();
  win32FileCalls() = {fakeAttributes, fakeFindFirst, fakeFindClose, fakeDeleteFile, fakeRemoveDirectory, fakeLastStatus};
  const PlatformOps& os = nativePlatform();
  constexpr DWORD dir = FILE_ATTRIBUTE_DIRECTORY, reparse = FILE_ATTRIBUTE_REPARSE_POINT, plain = FILE_ATTRIBUTE_ARCHIVE;
  struct Case {
    const wchar_t* name;
    FakeEntry entry;
    bool isDirectory, deleted;
    uint32_t waited;
    const wchar_t* call;  // how deleteFile removes it
  } cases[] = {
      {L"junction", {dir | reparse, 0xA0000003, 0, 0}, false, true, 0, L"RemoveDirectory"},
      {L"folder-link", {dir | reparse, 0xA000000C, 0, 0}, false, true, 0, L"RemoveDirectory"},
      {L"file-link", {reparse, 0xA000000C, 0, 0}, false, true, 0, L"DeleteFile"},
      {L"cloud-folder", {dir | reparse, 0x9000601A, 0, 0}, true, false, 0, L"DeleteFile"},  // a folder, never a file
      {L"cloud-file", {plain | reparse, 0x9000001A, 0, 0}, false, true, 0, L"DeleteFile"},
      {L"running.exe", {plain, 0, ERROR_ACCESS_DENIED, LONG(0xC0000121)}, false, false, 0, L"DeleteFile"},
      {L"read-only", {FILE_ATTRIBUTE_READONLY, 0, ERROR_ACCESS_DENIED, 0}, false, false, 0, L"DeleteFile"},
      {L"deleted-but-open", {plain, 0, ERROR_ACCESS_DENIED, LONG(0xC0000056)}, false, true, 0, L"DeleteFile"},
      {L"held", {plain, 0, ERROR_SHARING_VIOLATION, 0}, false, false, kHeldFileRetryMs, L"DeleteFile"},
  };
  for (const auto& c : cases) {
    std::wstring path = std::wstring(L"Q:\\fake\\") + c.name;
    gFakes = {{path, c.entry}};
    gRemoveCalls.clear();
    gClock = 0;
    EXPECT_EQ(os.isDirectory(path), c.isDirectory) << toUtf8(path);
    EXPECT_EQ(os.deleteFile(path), c.deleted) << toUtf8(path);
    EXPECT_EQ(gClock, c.waited) << toUtf8(path);
    ASSERT_FALSE(gRemoveCalls.empty());
    EXPECT_EQ(gRemoveCalls.back(), std::wstring(c.call) + L" " + path) << "and never the other call";
    EXPECT_EQ(gRemoveCalls.size() > 1, c.waited > 0) << "tried again only while held";
  }
  // A folder whose entries were just deleted, one of them still held open.
  gFakes = {{L"Q:\\fake\\emptied", {dir, 0, ERROR_DIR_NOT_EMPTY, 0}}};
  gClock = 0;
  EXPECT_FALSE(os.removeDirectory(L"Q:\\fake\\emptied"));
  EXPECT_EQ(gClock, kHeldFileRetryMs);
  win32FileCalls() = saved;
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
