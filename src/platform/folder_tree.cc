#include "platform/folder_tree.h"

#include <vector>

#include "platform/platform.h"

namespace velmo {

bool createDirectoryChain(const std::wstring& path) {
  const PlatformOps& os = platform();
  const size_t n = path.size();
  // A root is never created: Windows refuses a drive root ("access denied")
  // and the server and share of a network path.
  const size_t root = rootLength(path);
  for (size_t i = root + 1; i <= n; ++i) {
    if (i != n && !isPathSeparator(path[i])) continue;
    // A doubled or closing separator names the folder before it again.
    if (isPathSeparator(path[i - 1])) continue;
    bool alreadyExists = false;
    if (!os.createDirectory(path.substr(0, i), alreadyExists) && !alreadyExists) return false;
  }
  return true;
}

namespace {

// One pass; true when nothing is left at path.
bool removeTreeAt(const std::wstring& path) {
  const PlatformOps& os = platform();
  // A link (or a file) at the root is removed itself; what it points to is
  // not ours.
  if (os.pathExists(path) && !os.isDirectory(path)) return os.deleteFile(path);
  std::vector<DirEntry> entries;
  // A listing cut short still yields what it saw; the rest waits for the
  // next pass.
  bool emptied = os.listDirectory(path, entries);
  for (const auto& e : entries) {
    std::wstring child = joinPath(path, e.name);
    bool gone = e.type == EntryType::Directory ? removeTreeAt(child) : os.deleteFile(child);
    emptied = emptied && gone;
  }
  // A folder that keeps an entry cannot go; asking would only wait.
  return emptied && os.removeDirectory(path);
}

// A listing that failed part-way or a delete refused for a moment gets one
// more pass; what outlasts it stays.
bool removeTreeTwice(const std::wstring& path) {
  for (int pass = 0; pass < 2; ++pass) {
    if (removeTreeAt(path) || !platform().pathExists(path)) return true;
  }
  return false;
}

}  // namespace

bool removeTree(const std::wstring& path) {
  // The whole tree shares one wait for held entries, unless the caller's
  // phase already bounds it.
  if (HeldFileRetryPhase::open()) return removeTreeTwice(path);
  HeldFileRetryPhase phase(nullptr);
  return removeTreeTwice(path);
}

bool isDirectoryEmpty(const std::wstring& path) {
  std::vector<DirEntry> entries;
  // A folder that cannot be listed counts as empty: its one caller then
  // removes it only as an empty folder, which the system refuses otherwise.
  if (!platform().listDirectory(path, entries)) return true;
  return entries.empty();
}

}  // namespace velmo
