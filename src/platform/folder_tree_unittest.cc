#include "platform/folder_tree.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/utf8.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::wide;

TEST(CreateDirectoryChain, CreatesMissingParentsAndAcceptsWhatExists) {
  TempDir t;
  fs::create_directory(t / "a");
  EXPECT_TRUE(createDirectoryChain(wide(t / "a/b/c")));
  EXPECT_TRUE(fs::is_directory(t / "a/b/c"));
  EXPECT_TRUE(createDirectoryChain(wide(t / "a/b/c")));
  EXPECT_TRUE(createDirectoryChain(wide(t / "a//b/c/")));
  test::writeText(t / "file", "x");
  EXPECT_TRUE(createDirectoryChain(wide(t / "file")));  // exists, as a file
  EXPECT_FALSE(createDirectoryChain(wide(t / "file/sub")));
  EXPECT_TRUE(createDirectoryChain(L"/"));
  EXPECT_TRUE(createDirectoryChain(L""));
}

// Answers as Windows does: a root (or a server without its share) is "access
// denied"; every other folder exists already.
std::vector<std::wstring> gAsked;
bool createAsWindowsAnswers(const std::wstring& path, bool& alreadyExists) {
  gAsked.push_back(path);
  alreadyExists = rootLength(path) < path.size();
  return false;
}

TEST(CreateDirectoryChain, NeverAsksForARootNorTwiceForOneFolder) {
  PlatformOps ops = nativePlatform();
  ops.createDirectory = createAsWindowsAnswers;
  ScopedPlatformOverride seam(ops);
  using Asked = std::vector<std::wstring>;
  auto asked = [](const std::wstring& path) {
    gAsked.clear();
    return createDirectoryChain(path) ? gAsked : Asked{L"failed"};
  };
#ifdef _WIN32
  for (const wchar_t* root : {L"E:\\", L"E:/", L"E:\\\\", L"\\\\server\\share", L"\\\\server\\share\\"}) {
    EXPECT_EQ(asked(root), Asked{}) << toUtf8(root);
  }
  EXPECT_EQ(asked(L"D:\\\\VELMO"), Asked{L"D:\\\\VELMO"});  // "D:\\" chosen, then "\\VELMO" joined
  EXPECT_EQ(asked(L"D:\\Games\\VELMO\\"), (Asked{L"D:\\Games", L"D:\\Games\\VELMO"}));
  EXPECT_EQ(asked(L"\\\\server\\share\\Games\\VELMO"),
            (Asked{L"\\\\server\\share\\Games", L"\\\\server\\share\\Games\\VELMO"}));
  EXPECT_EQ(asked(L"a\\Games"), (Asked{L"a", L"a\\Games"}));
#else
  EXPECT_EQ(asked(L"/"), Asked{});
  EXPECT_EQ(asked(L"//games//VELMO/"), (Asked{L"//games", L"//games//VELMO"}));
  EXPECT_EQ(asked(L"a/Games"), (Asked{L"a", L"a/Games"}));
#endif
}

TEST(RemoveTree, DeletesDepthFirstButNeverFollowsLinks) {
  TempDir outside, t;
  test::writeText(outside / "precious.txt", "keep me");
  fs::create_directories(t / "tree/sub/deeper");
  test::writeText(t / "tree/sub/deeper/f", "1");
  test::writeText(t / "tree/g", "2");
  if (!test::makeFolderLink(outside.path(), t / "tree/sub/link-to-outside")) GTEST_SKIP() << "no folder links here";
  // Windows lets only some users make a link to a file.
  bool fileLink = test::makeFileLink(outside / "precious.txt", t / "tree/file-link");
  removeTree(wide(t / "tree"));
  EXPECT_FALSE(test::exists(t / "tree")) << fileLink;
  EXPECT_EQ(test::readText(outside / "precious.txt"), "keep me");
  // A link at the root is unlinked, not entered.
  ASSERT_TRUE(test::makeFolderLink(outside.path(), t / "root-link"));
  removeTree(wide(t / "root-link"));
  EXPECT_FALSE(test::exists(t / "root-link"));
  EXPECT_EQ(test::readText(outside / "precious.txt"), "keep me");
  removeTree(wide(t / "missing"));  // nothing to do, no failure
}

uint32_t gClock = 0;
std::vector<std::wstring> gRemovedFolders;
// A file named "held" is held by another program for ever.
bool deleteUnlessHeld(const std::wstring& path) {
  if (path.ends_with(L"held")) return retryWhileHeld([](bool& held) { return !(held = true); });
  return nativePlatform().deleteFile(path);
}
bool recordRemovedFolder(const std::wstring& path) {
  gRemovedFolders.push_back(path);
  return nativePlatform().removeDirectory(path);
}

TEST(RemoveTree, HeldEntriesShareOneWaitAndKeepOnlyTheirFolders) {
  PlatformOps ops = nativePlatform();
  ops.tickCount = [] { return gClock; };
  ops.sleepMs = [](uint32_t ms) { gClock += ms; };
  ops.deleteFile = deleteUnlessHeld;
  ops.removeDirectory = recordRemovedFolder;
  ScopedPlatformOverride seam(ops);
  TempDir t;
  for (const char* f : {"tree/a/held", "tree/a/b/held", "tree/c/held", "tree/d/file"}) {
    fs::create_directories(fs::path(t / f).parent_path());
    test::writeText(t / f, "x");
  }
  gClock = 0, gRemovedFolders.clear();
  removeTree(wide(t / "tree"));
  EXPECT_EQ(gClock, kHeldFileRetryMs) << "three held files, one wait";
  EXPECT_EQ(gRemovedFolders, std::vector<std::wstring>{joinPath(wide(t / "tree"), L"d")})
      << "folders that keep a file are not asked";
  EXPECT_TRUE(test::exists(t / "tree/a/b/held") && test::exists(t / "tree/c/held"));
}

TEST(IsDirectoryEmpty, TrueForEmptyOrUnlistable) {
  TempDir t;
  EXPECT_TRUE(isDirectoryEmpty(wide(t.path())));
  EXPECT_TRUE(isDirectoryEmpty(wide(t / "missing")));
  test::writeText(t / ".hidden", "");
  EXPECT_FALSE(isDirectoryEmpty(wide(t.path())));
}

}  // namespace
}  // namespace velmo
