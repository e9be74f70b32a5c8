// The shell actions on Wine's shell: the shortcut read back through the
// shell's own link reader, and the game started in its working folder.
// Windows only (velmo_tests_win32 under Wine).
#ifdef _WIN32

#include "ui/win32/win32_desktop.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <thread>

#include "support/test_util.h"

namespace velmo {
namespace {

using namespace velmo::test;

// The path with backslashes, as the shell hands paths back.
std::wstring winPath(const std::string& path) {
  std::wstring out = wide(path);
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
  }
  return out;
}

struct ComApartment {
  ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

struct ReadLink {
  bool loaded = false;
  std::wstring target, workingFolder, description;
};

ReadLink readShellLink(const std::wstring& path) {
  ReadLink out;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return out;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    out.loaded = SUCCEEDED(file->Load(path.c_str(), STGM_READ));
    file->Release();
  }
  wchar_t text[MAX_PATH] = {};
  if (out.loaded && SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) out.target = text;
  if (out.loaded && SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) out.workingFolder = text;
  if (out.loaded && SUCCEEDED(link->GetDescription(text, MAX_PATH))) out.description = text;
  link->Release();
  return out;
}

TEST(Win32Desktop, WritesAShellLinkTheShellReadsBack) {
  ComApartment com;
  TempDir dir;
  std::string game = dir / "Game Folder";
  std::filesystem::create_directories(game);
  ASSERT_TRUE(writeText(game + "/VELMO.exe", "MZ"));
  std::wstring folder = winPath(game), target = folder + L"\\VELMO.exe";
  std::wstring link = winPath(dir / "VELMO.lnk");
  // An older file of that name is replaced.
  ASSERT_TRUE(writeText(dir / "VELMO.lnk", "not a link"));

  ASSERT_TRUE(writeShellLink(link, target, folder, L"Harrowmere for Windows"));
  Bytes bytes = readBytes(dir / "VELMO.lnk");
  ASSERT_GE(bytes.size(), 20u);
  EXPECT_EQ(readLe32(bytes.data()), 0x4Cu) << "no shell link header";
  ReadLink read = readShellLink(link);
  ASSERT_TRUE(read.loaded);
  EXPECT_EQ(read.target, target);
  EXPECT_EQ(read.workingFolder, folder);
  EXPECT_EQ(read.description, L"Harrowmere for Windows");

  // Into a folder that does not exist nothing is written, and it says so.
  EXPECT_FALSE(writeShellLink(winPath(dir / "missing/VELMO.lnk"), target, folder, L"x"));
  std::wstring desktop;
  EXPECT_TRUE(userDesktopFolder(desktop));
  EXPECT_FALSE(desktop.empty());
}

TEST(Win32Desktop, StartsTheGameInItsWorkingFolderWithoutWaiting) {
  TempDir dir;
  std::string exeFolder = dir / "bin", work = dir / "work folder";
  std::filesystem::create_directories(exeFolder);
  std::filesystem::create_directories(work);
  std::filesystem::copy_file(buildPath("write_cwd.exe"), exeFolder + "/VELMO.exe");

  ASSERT_TRUE(startGameProcess(winPath(exeFolder) + L"\\VELMO.exe", winPath(work)));
  std::string written = work + "/cwd.txt";
  for (int i = 0; i < 200 && !exists(written); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(exists(written)) << "the program did not run in its working folder";
  std::filesystem::path seen = readText(written);
  EXPECT_TRUE(std::filesystem::equivalent(seen, work)) << seen.string();

  // A game that is gone starts nothing.
  EXPECT_FALSE(startGameProcess(winPath(dir / "gone/VELMO.exe"), winPath(work)));
}

}  // namespace
}  // namespace velmo

#endif  // _WIN32
