// The icon the window class loads, read back by Windows' own resource and
// icon code from the demo patcher, which the pack tool gave its pack.
// Windows only (velmo_tests_win32 under Wine).
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/test_util.h"

namespace velmo {
namespace {

TEST(ProgramIconTest, WindowsLoadsTheEmbeddedIconAtItsSizes) {
  const std::wstring patcher = test::wide(test::dataDir(VELMO_PREBUILT_DEMO_DIR, "demo") + "\\VELMO Patcher.exe");
  HMODULE module = LoadLibraryExW(patcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "cannot load the demo patcher, error " << GetLastError();
  for (int side : {16, 32}) {
    SCOPED_TRACE(side);
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, 0));
    ASSERT_NE(icon, nullptr) << "error " << GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    ASSERT_NE(info.hbmColor, nullptr);
    ASSERT_TRUE(GetObjectW(info.hbmColor, sizeof colour, &colour));
    EXPECT_EQ(colour.bmWidth, side);
    EXPECT_EQ(colour.bmHeight, side);
    EXPECT_EQ(colour.bmBitsPixel, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  FreeLibrary(module);
}

}  // namespace
}  // namespace velmo

#endif  // _WIN32
