#include "support/test_util.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
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

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
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
    if (it->is_symlink()) {
      out[rel] = "-> " + fs::read_symlink(it->path()).string();
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
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
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
