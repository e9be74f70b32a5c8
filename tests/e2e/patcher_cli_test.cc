// Runs the built patcher and pack tool as a user would, checking the auto log
// beside the executable and the exit code.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;

const char kPackLine[] =
    "The patcher's embedded patch data is missing or damaged. Download VELMO Patcher.exe again.";

class PatcherCli : public ::testing::Test {
 protected:
  void SetUp() override {
    writeText(dir / "hello.txt", "hello");
    writeText(dir / "manifest.json",
              R"({"records": [{"kind": "asset", "name": "xapk_info", "file": "hello.txt"},
                             {"kind": "file", "path": "VELMO.bat", "file": "hello.txt"}]})");
    ASSERT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " build " + shellQuote(dir / "manifest.json") +
                         " -o " + shellQuote(dir / "pack.bin")),
              0);
    ASSERT_EQ(embed(dir / "patcher"), 0);
  }
  int embed(const std::string& out) {
    return runCommand(shellQuote(buildPath("velmo-pack")) + " embed " + shellQuote(buildPath("velmo-patcher")) +
                      " " + shellQuote(dir / "pack.bin") + " -o " + shellQuote(out));
  }
  int runAuto(const std::string& exe, const std::string& xapk, const std::string& dest) {
    return runCommand(shellQuote(exe) + " /auto " + shellQuote(xapk) + " " + shellQuote(dest) + " 2>/dev/null");
  }
  std::string log() { return readText(dir / "patcher-auto.txt"); }
  TempDir dir;
};

TEST_F(PatcherCli, EmptyXapkArgumentLogsUsage) {
  EXPECT_EQ(runAuto(dir / "patcher", "", "b"), 1);
  EXPECT_EQ(log(), "usage: VELMO Patcher.exe /auto <xapk> <dest>");
}

TEST_F(PatcherCli, DamagedOrMissingPackLogsThePackLine) {
  // The bare patcher carries no pack at all.
  fs::copy_file(buildPath("velmo-patcher"), dir / "bare");
  EXPECT_EQ(runAuto(dir / "bare", "a", "b"), 1);
  EXPECT_EQ(log(), kPackLine);

  Bytes good = readBytes(dir / "patcher");
  Bytes pack = readBytes(dir / "pack.bin");
  size_t packStart = good.size() - 24 - 32 - pack.size();
  for (size_t offset : {size_t(0), size_t(20), size_t(30), size_t(64), pack.size() - 1}) {
    fs::remove(dir / "patcher-auto.txt");
    Bytes damaged = good;
    damaged[packStart + offset] ^= 0x40;
    writeBytes(dir / "damaged", damaged);
    fs::permissions(dir / "damaged", fs::perms::owner_all);
    EXPECT_EQ(runAuto(dir / "damaged", "a", "b"), 1) << offset;
    EXPECT_EQ(log(), kPackLine) << offset;
  }
  Bytes noTrailer(good.begin(), good.end() - 24);
  writeBytes(dir / "cut", noTrailer);
  fs::permissions(dir / "cut", fs::perms::owner_all);
  EXPECT_EQ(runAuto(dir / "cut", "a", "b"), 1);
  EXPECT_EQ(log(), kPackLine);
}

TEST_F(PatcherCli, WizardWithoutADisplaySaysSoInOneLine) {
  std::string err = dir / "stderr.txt";
  int rc = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + shellQuote(dir / "patcher") + " /dest " +
                      shellQuote(dir / "out") + " 2>" + shellQuote(err));
  EXPECT_EQ(rc, 1);
  std::string text = readText(err);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_NE(text.find("display"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(PatcherCli, PackToolListsAndRefusesBadInput) {
  std::string tool = shellQuote(buildPath("velmo-pack"));
  EXPECT_EQ(runCommand(tool + " list " + shellQuote(dir / "patcher") + " > " + shellQuote(dir / "list.txt")), 0);
  std::string listing = readText(dir / "list.txt");
  EXPECT_NE(listing.find("asset:xapk_info"), std::string::npos);
  EXPECT_NE(listing.find("VELMO.bat"), std::string::npos);

  writeText(dir / "bad.json", "{\"records\": [ {\"kind\": \"file\" ");
  EXPECT_EQ(runCommand(tool + " build " + shellQuote(dir / "bad.json") + " -o " + shellQuote(dir / "x") + " 2>/dev/null"), 1);
  writeText(dir / "nofile.json", R"({"records": [{"kind": "file", "path": "a", "file": "missing.bin"}]})");
  EXPECT_EQ(runCommand(tool + " build " + shellQuote(dir / "nofile.json") + " -o " + shellQuote(dir / "x") + " 2>/dev/null"), 1);
  writeText(dir / "kind.json", R"({"records": [{"kind": "teleport", "name": "a", "file": "hello.txt"}]})");
  EXPECT_EQ(runCommand(tool + " build " + shellQuote(dir / "kind.json") + " -o " + shellQuote(dir / "x") + " 2>/dev/null"), 1);
  EXPECT_EQ(runCommand(tool + " list " + shellQuote(dir / "hello.txt") + " 2>/dev/null"), 1);
  EXPECT_EQ(runCommand(tool + " frobnicate 2>/dev/null"), 1);

  // Embedding into an already embedded patcher replaces the pack.
  ASSERT_EQ(runCommand(tool + " embed " + shellQuote(dir / "patcher") + " " + shellQuote(dir / "pack.bin") +
                       " -o " + shellQuote(dir / "again")),
            0);
  EXPECT_EQ(fs::file_size(dir / "again"), fs::file_size(dir / "patcher"));
  EXPECT_TRUE((fs::status(dir / "again").permissions() & fs::perms::owner_exec) != fs::perms::none);
}

}  // namespace
}  // namespace velmo
