#include <gtest/gtest.h>

#include <type_traits>

#include "platform/platform.h"
#include "support/test_util.h"

namespace velmo {
namespace {

// The override keeps the table's address, so a temporary table is refused
// at compile time rather than read after its end.
static_assert(std::is_constructible_v<ScopedPlatformOverride, const PlatformOps&>);
static_assert(!std::is_constructible_v<ScopedPlatformOverride, PlatformOps>);

TEST(VolumeRoot, IsTheMountPointOfTheNearestExistingFolder) {
  const PlatformOps& os = nativePlatform();
  EXPECT_EQ(os.mountPoint(L"/"), L"/");
  // /proc is a file system of its own on every Linux system.
  EXPECT_EQ(os.mountPoint(L"/proc/self"), L"/proc");
  EXPECT_EQ(os.mountPoint(L"/proc/no/such/folder"), L"/proc");
  test::TempDir t;
  std::wstring here = os.mountPoint(test::wide(t.path()));
  EXPECT_EQ(os.mountPoint(test::wide(t / "not/yet/made")), here);
  EXPECT_TRUE(test::wide(t.path()).starts_with(here)) << t.path();
}

}  // namespace
}  // namespace velmo
