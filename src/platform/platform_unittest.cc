// The native operations of this build (POSIX here, Windows under Wine), as
// the core relies on them.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

}  // namespace
}  // namespace velmo
