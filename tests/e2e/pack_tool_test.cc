// The pack tool's single-buffer commands, run as a maintainer would.
#include <gtest/gtest.h>

#include "support/test_util.h"

namespace velmo {
namespace {

using namespace velmo::test;

int tool(const std::string& args) { return runCommand(shellQuote(buildPath("velmo-pack")) + " " + args + " 2>/dev/null"); }

TEST(PackToolLzms, RoundTripsEveryShapeOfInput) {
  TempDir t;
  Bytes text;
  for (int i = 0; i < 20000; ++i) {
    std::string line = "line " + std::to_string(i * 7 % 1000) + " of the wintry ledger\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"empty", {}},
      {"tiny", {'a'}},
      {"incompressible", randomBytes(100000, 5)},
      {"multichunk", text},
      {"big", randomBytes(16 * 1024 * 1024 + 1, 6)},
  };
  for (auto& [name, bytes] : inputs) {
    ASSERT_TRUE(writeBytes(t / name, bytes));
    ASSERT_EQ(tool("lzms-encode " + shellQuote(t / name) + " " + shellQuote(t / (name + ".lzms"))), 0) << name;
    ASSERT_EQ(tool("lzms-decode " + shellQuote(t / (name + ".lzms")) + " " + shellQuote(t / (name + ".out"))), 0)
        << name;
    EXPECT_EQ(readBytes(t / (name + ".out")), bytes) << name;
  }
  EXPECT_LT(readBytes(t / "multichunk.lzms").size(), text.size() / 4);
}

TEST(PackToolLzms, RefusesWhatIsNotABuffer) {
  TempDir t;
  writeText(t / "junk", "this is not an LZMS buffer at all");
  EXPECT_EQ(tool("lzms-decode " + shellQuote(t / "junk") + " " + shellQuote(t / "out")), 1);
  Bytes packed;
  writeBytes(t / "x", randomBytes(5000, 1));
  ASSERT_EQ(tool("lzms-encode " + shellQuote(t / "x") + " " + shellQuote(t / "x.lzms")), 0);
  Bytes cut = readBytes(t / "x.lzms");
  cut.resize(cut.size() - 1);
  writeBytes(t / "cut.lzms", cut);
  EXPECT_EQ(tool("lzms-decode " + shellQuote(t / "cut.lzms") + " " + shellQuote(t / "out")), 1);
  EXPECT_EQ(tool("lzms-decode " + shellQuote(t / "missing") + " " + shellQuote(t / "out")), 1);
}

}  // namespace
}  // namespace velmo
