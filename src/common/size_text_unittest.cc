#include "common/size_text.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(FormatSize, ThresholdsCompareExactByteCounts) {
  EXPECT_EQ(formatSize(0), L"0 KB");
  EXPECT_EQ(formatSize(1023), L"1 KB");
  EXPECT_EQ(formatSize(1048575), L"1024 KB");
  EXPECT_EQ(formatSize(1048576), L"1 MB");
  EXPECT_EQ(formatSize(1073741823), L"1024 MB");
  EXPECT_EQ(formatSize(1073741824), L"1.0 GB");
  EXPECT_EQ(formatSize(241564748), L"230 MB");
}

}  // namespace
}  // namespace velmo
