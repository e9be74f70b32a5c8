#include "platform/folder_tree.h"

#include <gtest/gtest.h>

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
  // A link at the root is unlinked, not entered.
  fs::create_directory_symlink(outside.path(), t / "root-link");
  removeTree(wide(t / "root-link"));
  EXPECT_FALSE(fs::is_symlink(t / "root-link"));
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

}  // namespace
}  // namespace velmo
