// What only a real Windows can prove, in the Windows test kit (and under
// Wine, with our own LZMS decoder standing in for the Compression API): the
// release patcher's manifest and version block as Windows reads them, LZMS
// buffers our pack tool wrote decoded by the system's coder, and the demo
// game with an LZMS pack installed end to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/bytes.h"
#include "pack/lzms_buffer.h"
#include "support/demo_fixture.h"
#include "support/test_util.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using test::dataDir;
using test::wide;

// The demo game with an LZMS pack (demo\) and the pack tool's LZMS buffers
// (lzms\): made on the build machine, carried by the kit.
std::string kitData(const std::string& name) { return dataDir(VELMO_KIT_DATA_DIR, ".") + "\\" + name; }
std::string releasePatcher() { return kitData("demo\\VELMO Patcher.exe"); }

std::wstring versionString(const Bytes& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(block.data(), key.c_str(), &value, &length) || !value) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(WindowsKit, TheReleasePatcherCarriesItsVersionAndManifest) {
  const std::wstring patcher = wide(releasePatcher());
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(patcher.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version block in " << releasePatcher() << ", error " << GetLastError();
  Bytes block(size);
  ASSERT_TRUE(GetFileVersionInfoW(patcher.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  ASSERT_GE(fixedLength, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = (VELMO_VERSION_MAJOR << 16) | VELMO_VERSION_MINOR, low = VELMO_VERSION_PATCH << 16;
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

  const std::wstring version = wide(VELMO_VERSION);
  EXPECT_EQ(versionString(block, L"FileDescription"), L"VELMO Patcher");
  EXPECT_EQ(versionString(block, L"ProductName"), L"VELMO Patcher");
  EXPECT_EQ(versionString(block, L"OriginalFilename"), L"VELMO Patcher.exe");
  EXPECT_EQ(versionString(block, L"FileVersion"), version);
  EXPECT_EQ(versionString(block, L"ProductVersion"), version);
  WORD* translation = nullptr;
  UINT translationLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &translationLength));
  ASSERT_EQ(translationLength, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);

  // The manifest, and beside it what the pack tool put there.
  HMODULE module = LoadLibraryExW(patcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no RT_MANIFEST 1";
  const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
  std::string manifest(text, SizeofResource(module, found));
  for (const char* part : {"level=\"asInvoker\"", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">PerMonitorV2, PerMonitor<", ">true/pm<",
                           "<longPathAware", "Microsoft.Windows.Common-Controls"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10)), nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(10)), nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr);
  FreeLibrary(module);
}

TEST(WindowsKit, PackToolLzmsBuffersDecodeThroughTheCompressionApi) {
  int buffers = 0;
  bool sawStored = false, sawSeveral = false;
  for (const auto& entry : fs::directory_iterator(kitData("lzms"))) {
    if (entry.path().extension() != ".lzms") continue;
    SCOPED_TRACE(entry.path().string());
    Bytes packed = test::readBytes(entry.path().string());
    fs::path rawPath = entry.path();
    Bytes raw = test::readBytes(rawPath.replace_extension(".raw").string());
    LzmsBufferHeader header;
    ASSERT_TRUE(lzmsReadHeader(packed, header));
    // Walk the records: how many chunks, and whether one is stored whole.
    size_t at = header.headerSize, chunks = 0;
    while (at + 4 <= packed.size()) {
      uint32_t recordSize = readLe32(&packed[at]);
      uint64_t chunkRaw = std::min<uint64_t>(header.chunkSize, raw.size() - chunks * header.chunkSize);
      sawStored |= recordSize == chunkRaw;
      at += 4 + recordSize;
      ++chunks;
    }
    sawSeveral |= chunks > 1;
    Bytes out(raw.size());
    LzmsDecoder decoder;
    ASSERT_TRUE(lzmsDecodeBuffer(decoder, packed, out));
    EXPECT_TRUE(out == raw);
    ++buffers;
  }
  EXPECT_GE(buffers, 2);
  EXPECT_TRUE(sawSeveral) << "no buffer of several chunks";
  EXPECT_TRUE(sawStored) << "no stored chunk";
}

// Runs a program and waits for it; its exit code, or -1.
int runAndWait(std::wstring commandLine, const std::wstring& program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 10 * 60 * 1000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return int(code);
}

TEST(WindowsKit, TheLzmsDemoGameInstallsExactlyTheExpectedTree) {
  test::TempDir dir;
  const std::string exe = dir / "VELMO Patcher.exe";
  fs::copy_file(releasePatcher(), exe);
  const std::string game = dir / "Harrowmere game";
  const std::wstring commandLine = L"\"" + wide(exe) + L"\" /auto \"" + wide(kitData("demo\\harrowmere-1.0.7.xapk")) +
                                   L"\" \"" + wide(game) + L"\"";
  ASSERT_EQ(runAndWait(commandLine, wide(exe)), 0) << test::readText(dir / "patcher-auto.txt");
  EXPECT_EQ(test::readText(dir / "patcher-auto.txt"), "OK");
  std::string difference;
  EXPECT_TRUE(test::sameTree(kitData("demo\\expected"), game, difference)) << difference;
}

}  // namespace
}  // namespace velmo
