#include "patch/file_delta.h"

#include <gtest/gtest.h>

#include "common/utf8.h"
#include "support/patch_fixture.h"
#include "velmo-pack/source_records.h"

namespace velmo {
namespace {

using namespace velmo::test;

Bytes edited(Bytes b) {
  for (size_t i = 100; i < b.size(); i += 4000) b[i] ^= 0x33;
  b.insert(b.begin() + 50, {'w', 'i', 'n'});
  return b;
}

class FileDeltaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    android = randomBytes(50000, 1);
    windows = edited(android);
    f.layout.apkEntries = {{"assets/bin/Data/abc", android, false}};
    f.layout.obbEntries = {{"x", {1}, true}};
  }
  PackEntry& addRecord(ByteView source, ByteView target, const std::string& name = "assets/bin/Data/abc") {
    PackEntry e;
    e.source = XapkArchive::Apk;
    e.sourceName = wide(name);
    e.targetPath = L"VELMO_Data\\abc";
    std::string error;
    EXPECT_TRUE(addDeltaRecord(f.builder, e, source, target, false, error)) << error;
    return f.builder.entries.back();
  }
  bool apply(std::wstring& message, const std::string& out = "abc") {
    return f.build(f.pack.entries.back(), out, message);
  }
  PatchFixture f;
  Bytes android, windows;
};

TEST_F(FileDeltaTest, WritesTheProvenResult) {
  addRecord(android, windows);
  ASSERT_TRUE(f.open());
  std::wstring message;
  ASSERT_TRUE(apply(message)) << toUtf8(message);
  EXPECT_EQ(readBytes(f.dir / "abc"), windows);
  EXPECT_TRUE(message.empty());
}

TEST_F(FileDeltaTest, AnotherReleasesSourceFailsAtTheSourceCheckUnread) {
  addRecord(randomBytes(50000, 2), windows);  // the pack expects other source bytes
  f.layout.apkEntries = {{"assets/bin/Data/abc", randomBytes(4 << 20, 3), false}};
  ASSERT_TRUE(f.open());
  std::wstring message;
  // The archive's recorded CRC already tells, so nothing is inflated.
  EXPECT_LT(bytesReadDuring([&] { EXPECT_FALSE(apply(message)); }), 65536u);
  EXPECT_EQ(message, L"The XAPK entry failed its CRC (assets/bin/Data/abc).");
  EXPECT_FALSE(exists(f.dir / "abc"));
}

TEST_F(FileDeltaTest, AResultOfTheWrongSizeOrAnUnwritablePathLeavesNoFile) {
  addRecord(android, windows).size -= 1;  // the delta yields one byte more than recorded
  ASSERT_TRUE(f.open());
  std::wstring message;
  EXPECT_FALSE(apply(message));
  EXPECT_EQ(message, L"The patched file did not match (VELMO_Data\\abc).");
  EXPECT_FALSE(exists(f.dir / "abc"));
}

TEST_F(FileDeltaTest, OutputThatCannotBeCreatedGivesTheMatchMessage) {
  addRecord(android, windows);
  ASSERT_TRUE(f.open());
  std::wstring message;
  EXPECT_FALSE(apply(message, "no-such-folder/abc"));
  EXPECT_EQ(message, L"The patched file did not match (VELMO_Data\\abc).");
}

TEST_F(FileDeltaTest, DamagedOrForeignDeltas) {
  PackEntry& e = addRecord(android, windows);
  e.storedSize = 1u << 30;  // the blob runs past the pack
  PackEntry garbage = e;
  garbage.storedSize = 20;  // twenty bytes of the data area that are no delta
  garbage.dataOffset = 64;
  f.builder.entries.push_back(garbage);
  ASSERT_TRUE(f.open());
  std::wstring message;
  EXPECT_FALSE(f.build(f.pack.entries[0], "a", message));
  EXPECT_EQ(message, L"The delta data is damaged (VELMO_Data\\abc).");
  EXPECT_FALSE(f.build(f.pack.entries[1], "a", message));
  EXPECT_EQ(message, L"Could not apply the delta for VELMO_Data\\abc.");
  PackEntry missing = f.pack.entries[1];
  missing.sourceName = L"assets/bin/Data/gone";
  EXPECT_FALSE(f.build(missing, "a", message));
  EXPECT_EQ(message, L"The XAPK is missing assets/bin/Data/gone.");
}

}  // namespace
}  // namespace velmo
