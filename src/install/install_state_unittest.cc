#include "install/install_state.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(ProgressLine, BundlesNoEstimateThresholdAndEstimate) {
  InstallState s;
  EXPECT_EQ(formatProgressLine(s, false, 0), L"0 KB of 0 KB");
  EXPECT_EQ(formatPercent(fractionDone(0, 0)), L"0%");
  EXPECT_EQ(formatProgressLine(s, true, 0), L"0 KB of 0 KB   re-encoding bundles (a few minutes)");

  s.bytesTotal = 100 * 1048576ull;
  s.bytesDone = 25 * 1048576ull;
  s.startTick = 1000;
  EXPECT_EQ(formatProgressLine(s, true, 101000), L"25 MB of 100 MB   re-encoding bundles (a few minutes)");
  EXPECT_EQ(formatProgressLine(s, false, 101000), L"25 MB of 100 MB   about 5 min 00 s left");
  EXPECT_EQ(formatProgressLine(s, false, 1500), L"25 MB of 100 MB   about 0 min 00 s left");
  EXPECT_EQ(formatPercent(0.37), L"37%");

  s.bytesTotal = 5000;
  s.bytesDone = 100;  // exactly 0.02: no estimate yet
  EXPECT_EQ(formatProgressLine(s, false, 900000), L"0 KB of 5 KB");
  s.bytesDone = 101;
  EXPECT_NE(formatProgressLine(s, false, 900000).find(L"left"), std::wstring::npos);
  // The tick count wraps; elapsed time is taken modulo 2^32.
  s.bytesTotal = 100, s.bytesDone = 50, s.startTick = 0xFFFFFFFFu - 9999;
  EXPECT_EQ(formatProgressLine(s, false, 50000), L"0 KB of 0 KB   about 1 min 00 s left");
}

TEST(InstallState, SetErrorTextReturnsFalseAndIgnoresItself) {
  InstallState s;
  EXPECT_FALSE(setErrorText(s, L"Cancelled."));
  EXPECT_EQ(copyErrorText(s), L"Cancelled.");
  EXPECT_FALSE(setErrorText(s, s.errorText));
  EXPECT_EQ(copyErrorText(s), L"Cancelled.");
}

}  // namespace
}  // namespace velmo
