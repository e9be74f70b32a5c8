#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"

namespace velmo {
namespace {

CommandLine parse(std::vector<std::wstring> rest) {
  rest.insert(rest.begin(), L"velmo-patcher");
  return parseCommandLine(rest);
}

TEST(CommandLine, SelectsAutoModeOnlyWithTwoValues) {
  EXPECT_FALSE(parse({}).autoMode);
  EXPECT_FALSE(parse({L"/AUTO", L"a", L"b"}).autoMode);
  CommandLine one = parse({L"/auto", L"a"});
  EXPECT_FALSE(one.autoMode);
  EXPECT_TRUE(one.xapkPath.empty());
  CommandLine dashes = parse({L"--auto", L"a", L"b"});
  EXPECT_TRUE(dashes.autoMode);
  EXPECT_EQ(dashes.xapkPath, L"a");
  EXPECT_EQ(dashes.destinationFolder, L"b");
  CommandLine emptyValue = parse({L"/auto", L"", L"b"});
  EXPECT_TRUE(emptyValue.autoMode);
  EXPECT_TRUE(emptyValue.xapkPath.empty());
}

TEST(CommandLine, LaterArgumentsWinAndValuesAreLiteral) {
  CommandLine cl = parse({L"/auto", L"a", L"b", L"/dest", L"c"});
  EXPECT_TRUE(cl.autoMode);
  EXPECT_EQ(cl.xapkPath, L"a");
  EXPECT_EQ(cl.destinationFolder, L"c");
  CommandLine prefill = parse({L"/xapk", L"a", L"/dest", L"b"});
  EXPECT_FALSE(prefill.autoMode);
  EXPECT_EQ(prefill.xapkPath, L"a");
  EXPECT_EQ(prefill.destinationFolder, L"b");
  CommandLine keywordValue = parse({L"/xapk", L"/auto", L"x", L"y"});
  EXPECT_FALSE(keywordValue.autoMode);  // "/auto" was the XAPK path; "x", "y" are ignored
  EXPECT_EQ(keywordValue.xapkPath, L"/auto");
  EXPECT_FALSE(parse({L"/auto=a", L"b", L"c"}).autoMode);
  EXPECT_TRUE(parse({L"/dest"}).destinationFolder.empty());
}

TEST(CommandLine, ARelativeDestinationIsResolvedOnceAgainstTheCurrentFolder) {
  std::wstring here = std::filesystem::current_path().wstring();
  std::wstring relative = joinPath(L"a", L"Games");  // a one-letter first folder
  CommandLine cl = parse({L"/auto", L"x.xapk", relative});
  resolveDestination(cl);
  EXPECT_EQ(cl.destinationFolder, joinPath(here, relative));
  EXPECT_EQ(cl.xapkPath, L"x.xapk");
  std::wstring full = joinPath(joinPath(here, L"."), L"VELMO");  // a full path stays exactly as given
  cl = parse({L"/dest", full});
  resolveDestination(cl);
  EXPECT_EQ(cl.destinationFolder, full);
#ifdef _WIN32
  cl = parse({L"/dest", here.substr(0, 2)});  // "Z:": the current folder of that drive
  resolveDestination(cl);
  EXPECT_TRUE(cl.destinationFolder == here || cl.destinationFolder == here + L"\\");
#endif
  cl = parse({});
  resolveDestination(cl);
  EXPECT_TRUE(cl.destinationFolder.empty());
}

}  // namespace
}  // namespace velmo
