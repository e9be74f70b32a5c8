#include "install/folder_ops.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

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

TEST(RemoveTree, DeletesDepthFirstButNeverFollowsLinks) {
  TempDir outside, t;
  test::writeText(outside / "precious.txt", "keep me");
  fs::create_directories(t / "tree/sub/deeper");
  test::writeText(t / "tree/sub/deeper/f", "1");
  test::writeText(t / "tree/g", "2");
  fs::create_directory_symlink(outside.path(), t / "tree/sub/link-to-outside");
  fs::create_symlink(outside / "precious.txt", t / "tree/file-link");
  removeTree(wide(t / "tree"));
  EXPECT_FALSE(test::exists(t / "tree"));
  EXPECT_EQ(test::readText(outside / "precious.txt"), "keep me");
  removeTree(wide(t / "missing"));  // nothing to do, no failure
}

TEST(IsDirectoryEmpty, TrueForEmptyOrUnlistable) {
  TempDir t;
  EXPECT_TRUE(isDirectoryEmpty(wide(t.path())));
  EXPECT_TRUE(isDirectoryEmpty(wide(t / "missing")));
  test::writeText(t / ".hidden", "");
  EXPECT_FALSE(isDirectoryEmpty(wide(t.path())));
}

TEST(MoveTreeInto, MergesReplacingFilesAndKeepingOthers) {
  TempDir t, outside;
  fs::create_directories(t / "src/VELMO_Data/Managed");
  fs::create_directories(t / "dst/VELMO_Data/Managed");
  test::writeText(t / "src/VELMO.exe", "new exe");
  test::writeText(t / "src/VELMO_Data/Managed/a.dll", "new a");
  test::writeText(t / "dst/VELMO_Data/Managed/a.dll", "old a");
  test::writeText(t / "dst/VELMO_Data/Managed/mine.txt", "user file");
  test::writeText(outside / "target.txt", "outside");
  fs::create_symlink(outside / "target.txt", t / "src/link");
  ASSERT_TRUE(moveTreeInto(wide(t / "src"), wide(t / "dst")));
  EXPECT_EQ(test::readText(t / "dst/VELMO.exe"), "new exe");
  EXPECT_EQ(test::readText(t / "dst/VELMO_Data/Managed/a.dll"), "new a");
  EXPECT_EQ(test::readText(t / "dst/VELMO_Data/Managed/mine.txt"), "user file");
  EXPECT_TRUE(fs::is_symlink(t / "dst/link"));  // moved as a link
  EXPECT_TRUE(isDirectoryEmpty(wide(t / "src")));
  EXPECT_TRUE(moveTreeInto(wide(t / "no-such-source"), wide(t / "dst")));
}

TEST(MoveTreeInto, FailsWhenAFolderMeetsAFile) {
  TempDir t;
  fs::create_directories(t / "src/x");
  test::writeText(t / "src/x/f", "1");
  fs::create_directories(t / "dst");
  test::writeText(t / "dst/x", "a file where a folder goes");
  EXPECT_FALSE(moveTreeInto(wide(t / "src"), wide(t / "dst")));
  EXPECT_EQ(test::readText(t / "src/x/f"), "1");  // what did not move stays
}

}  // namespace
}  // namespace velmo
