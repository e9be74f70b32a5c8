#pragma once
// Small helpers shared by the tests: a temporary folder that cleans up after
// itself, file helpers, running the built programs.
#include <map>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace velmo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Keeps an object for the rest of the process and still reachable, so leak
// checkers do not count it: for what a worker thread that outlived a failed
// test may still touch.
template <class T>
T* keptUntilExit(T* object) {
  static auto* kept = new std::vector<const void*>;
  kept->push_back(object);
  return object;
}

// A path's bytes as the platform calls take them.
std::wstring wide(const std::string& path);
bool writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
Bytes readBytes(const std::string& path);
bool writeBytes(const std::string& path, ByteView bytes);
bool exists(const std::string& path);
// Links as the tests make them: symbolic links on POSIX; on Windows a
// junction for a folder (no privilege needed), else a symbolic link where
// this user may make one. False when the system makes none: the caller
// skips. target may not exist (a broken link).
bool makeFolderLink(const std::string& target, const std::string& link);
bool makeFileLink(const std::string& target, const std::string& link);
// The entry at path is a link (a name-surrogate reparse point on Windows).
bool isLink(const std::string& path);
// Everything under root without following links: relative path ->
// contents, "<dir>" for a folder or "-> target" for a link.
std::map<std::string, std::string> treeSnapshot(const std::string& root);
// Deterministic pseudo-random bytes.
Bytes randomBytes(size_t n, uint32_t seed);
// A genuine vector, read in place below the vectors folder (the build's
// VELMO_VECTORS_DIR); a missing one fails the test with where it was sought.
Bytes readVector(const std::string& relativePath);
// A path inside the build tree (the built programs).
std::string buildPath(const std::string& name);
// The Windows test kit (velmo-windows-tests.zip) names its own folder in
// VELMO_KIT_DIR; the folders the build configured are then the kit's copies:
// vectors\ (the genuine vectors), bin\ (the programs), demo\ (the
// small demo game) and host\ (the build machine's reference renders).
// Empty when not running from the kit.
std::string kitDir();
// The folder the build configured, or the kit's copy named `inKit`.
std::string dataDir(const char* configured, const char* inKit);
// Runs a command line through the shell; returns its exit status (-1 when it
// did not exit normally). Output goes to the test log.
int runCommand(const std::string& commandLine);
std::string shellQuote(const std::string& s);
// True when a Windows build runs under Wine (its ntdll exports
// wine_get_version).
bool underWine();

// Points the platform's temporary folder at path for this process, and back
// at the system's.
void useTempFolder(const std::string& path);
void restoreTempFolder();

}  // namespace velmo::test
