// The pack tool's single-buffer commands, run as a maintainer would.
#include <gtest/gtest.h>

#include "support/demo_fixture.h"
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

namespace velmo {
namespace {

using namespace velmo::test;

TEST(PackToolManifest, RebuildsTheDemoPackByteForByte) {
  const std::string& demo = smallDemoGame();
  ASSERT_FALSE(demo.empty());
  TempDir t;
  ASSERT_EQ(tool("build " + shellQuote(demo + "/pack-src/manifest.json") + " -o " + shellQuote(t / "pack.bin")), 0);
  EXPECT_TRUE(readBytes(t / "pack.bin") == readBytes(demo + "/pack.bin"));
}

TEST(PackToolDelta, CreatesAndAppliesAndRefusesWhatDoesNotFit) {
  TempDir t;
  Bytes source = randomBytes(200000, 1), target = source;
  for (size_t i = 0; i < target.size(); i += 5000) target[i] ^= 0x11;
  writeBytes(t / "src", source);
  writeBytes(t / "tgt", target);
  ASSERT_EQ(tool("delta-create " + shellQuote(t / "src") + " " + shellQuote(t / "tgt") + " " + shellQuote(t / "d")), 0);
  EXPECT_LT(readBytes(t / "d").size(), target.size() / 20);
  ASSERT_EQ(tool("delta-apply " + shellQuote(t / "src") + " " + shellQuote(t / "d") + " " + shellQuote(t / "out")), 0);
  EXPECT_EQ(readBytes(t / "out"), target);
  writeText(t / "junk", "PA19 is not ours");
  EXPECT_EQ(tool("delta-apply " + shellQuote(t / "src") + " " + shellQuote(t / "junk") + " " + shellQuote(t / "o2")), 1);
  EXPECT_EQ(tool("delta-create " + shellQuote(t / "missing") + " " + shellQuote(t / "tgt") + " " + shellQuote(t / "o3")), 1);
}

}  // namespace
}  // namespace velmo

#include "support/pe_fixture.h"

namespace velmo {
namespace {

using namespace velmo::test;

// A Windows patcher takes its pack, is signed by a throw-away certificate
// and verifies; the signed one is refused with one line and nothing written,
// since adding resources to it would break its signature.
TEST(PackToolEmbed, AnEmbeddedPatcherSignsAndASignedOneIsRefused) {
  TempDir t;
  const std::string pack = t / "pack.bin", unsignedExe = t / "patcher.exe", embedded = t / "embedded.exe",
                    signedExe = t / "signed.exe", refused = t / "refused.exe", err = t / "err.txt";
  ASSERT_TRUE(writeBytes(unsignedExe, tinyPe()));
  ASSERT_TRUE(writeBytes(pack, randomBytes(3000, 4)));
  ASSERT_EQ(tool("embed " + shellQuote(unsignedExe) + " " + shellQuote(pack) + " -o " + shellQuote(embedded)), 0);
  ASSERT_EQ(runCommand("cd " + shellQuote(t.path()) +
                       " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2"
                       " -subj /CN=throwaway >/dev/null 2>&1"
                       " && osslsigncode sign -certs cert.pem -key key.pem -in embedded.exe -out signed.exe"
                       " >/dev/null 2>&1"),
            0);
  EXPECT_EQ(runCommand("osslsigncode verify -CAfile " + shellQuote(t / "cert.pem") + " -in " +
                       shellQuote(signedExe) + " >/dev/null 2>&1"),
            0);
  EXPECT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " embed " + shellQuote(signedExe) + " " + shellQuote(pack) +
                       " -o " + shellQuote(refused) + " 2>" + shellQuote(err)),
            1);
  EXPECT_EQ(readText(err), "velmo-pack: " + signedExe +
                               ": the executable is signed; embed into the unsigned patcher and sign the result\n");
  EXPECT_FALSE(exists(refused));
}

}  // namespace
}  // namespace velmo
