#include "support/test_util.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/utf8.h"

namespace velmo::test {

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: the process id and a counter, created exclusively.
  static int counter = 0;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
    std::string name = "velmo-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA((base / name).string().c_str(), nullptr)) path_ = (base / name).string();
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "velmo-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data())) path_ = buf.data();
#endif
}

#ifdef _WIN32
namespace {

std::wstring windowsPath(const std::string& path) {
  std::wstring out = wide(path);
  for (auto& c : out) {
    if (c == L'/') c = L'\\';
  }
  return out;
}

bool isLinkW(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && (data.dwReserved0 & 0x20000000);
}

// The C++ library of this toolchain sees no links on Windows and would
// walk into a junction: links below path go first, as themselves.
void removeLinksBelow(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = data.cFileName, child = path + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    bool directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (isLinkW(child)) {
      directory ? RemoveDirectoryW(child.c_str()) : DeleteFileW(child.c_str());
    } else if (directory) {
      removeLinksBelow(child);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// A junction: a folder whose mount-point reparse data names target.
bool makeJunction(const std::wstring& target, const std::wstring& link) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool ok = false;
  if (h != INVALID_HANDLE_VALUE) {
    std::wstring substitute = L"\\??\\" + target;
    WORD substituteBytes = WORD(substitute.size() * 2), printBytes = WORD(target.size() * 2);
    std::vector<WORD> buf(8 + substitute.size() + 1 + target.size() + 1, 0);
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(buf.data(), &tag, 4);
    buf[2] = WORD(buf.size() * 2 - 8);                           // reparse data length
    buf[4] = 0, buf[5] = substituteBytes;                        // substitute name
    buf[6] = WORD(substituteBytes + 2), buf[7] = printBytes;     // print name
    memcpy(&buf[8], substitute.data(), substituteBytes);
    memcpy(&buf[8 + substitute.size() + 1], target.data(), printBytes);
    DWORD got = 0;
    ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), DWORD(buf.size() * 2), nullptr, 0, &got, nullptr);
    CloseHandle(h);
  }
  ok = ok && isLinkW(link);
  if (!ok) RemoveDirectoryW(link.c_str());
  return ok;
}

bool makeSymbolicLink(const std::wstring& target, const std::wstring& link, bool folder) {
  constexpr DWORD kAllowUnprivileged = 0x2;  // Windows 10 in developer mode
  DWORD flags = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), flags | kAllowUnprivileged) &&
      !CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) {
    return false;
  }
  if (isLinkW(link)) return true;
  folder ? RemoveDirectoryW(link.c_str()) : DeleteFileW(link.c_str());  // reported made, yet no link
  return false;
}

std::wstring fullWindowsPath(const std::string& path) {
  std::wstring p = windowsPath(path);
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(p.c_str(), DWORD(std::size(buf)), buf, nullptr);
  return n > 0 && n < std::size(buf) ? std::wstring(buf, n) : p;
}

}  // namespace
#endif

bool makeFolderLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  std::wstring to = fullWindowsPath(target), at = windowsPath(link);
  return makeJunction(to, at) || makeSymbolicLink(to, at, true);
#else
  std::error_code ec;
  std::filesystem::create_directory_symlink(target, link, ec);
  return !ec;
#endif
}

bool makeFileLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  return makeSymbolicLink(fullWindowsPath(target), windowsPath(link), false);
#else
  std::error_code ec;
  std::filesystem::create_symlink(target, link, ec);
  return !ec;
#endif
}

bool isLink(const std::string& path) {
#ifdef _WIN32
  return isLinkW(windowsPath(path));
#else
  std::error_code ec;
  return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
#endif
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
#ifdef _WIN32
  removeLinksBelow(windowsPath(path_));
#endif
  // Make everything writable first: tests leave read-only folders behind.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink()) std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                                       std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::wstring wide(const std::string& path) { return pathFromBytes(path); }

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return bool(out);
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

Bytes readBytes(const std::string& path) {
  std::string s = readText(path);
  return Bytes(s.begin(), s.end());
}

bool writeBytes(const std::string& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::map<std::string, std::string> treeSnapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), root).string();
    if (isLink(it->path().string())) {
#ifdef _WIN32
      out[rel] = "-> a link";  // never entered
      it.disable_recursion_pending();
#else
      out[rel] = "-> " + fs::read_symlink(it->path()).string();
#endif
    } else if (it->is_directory()) {
      out[rel] = "<dir>";
    } else {
      out[rel] = readText(it->path().string());
    }
  }
  return out;
}

bool exists(const std::string& path) {
  std::error_code ec;
  return isLink(path) || std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

Bytes randomBytes(size_t n, uint32_t seed) {
  Bytes out(n);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    out[i] = uint8_t(x >> 24);
  }
  return out;
}

std::string kitDir() {
  const char* kit = std::getenv("VELMO_KIT_DIR");
  return kit ? kit : "";
}

std::string dataDir(const char* configured, const char* inKit) {
  std::string kit = kitDir();
  return kit.empty() ? configured : kit + "/" + inKit;
}

Bytes readVector(const std::string& relativePath) {
  std::string path = dataDir(VELMO_VECTORS_DIR, "vectors") + "/" + relativePath;
  if (!exists(path)) {
    ADD_FAILURE() << "the genuine vector " << path
                  << " is missing; configure with -DVELMO_VECTORS_DIR=<the shared vectors folder>";
  }
  return readBytes(path);
}

std::string buildPath(const std::string& name) { return dataDir(VELMO_BINARY_DIR, "bin") + "/" + name; }

int runCommand(const std::string& commandLine) {
  int status = std::system(commandLine.c_str());
#ifdef _WIN32
  return status;
#else
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

bool underWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

void useTempFolder(const std::string& path) {
#ifdef _WIN32
  // GetTempPathW asks TMP first.
  SetEnvironmentVariableW(L"TMP", wide(path).c_str());
#else
  ::setenv("TMPDIR", path.c_str(), 1);
#endif
}

void restoreTempFolder() {
#ifdef _WIN32
  SetEnvironmentVariableW(L"TMP", nullptr);
#else
  ::unsetenv("TMPDIR");
#endif
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace velmo::test
