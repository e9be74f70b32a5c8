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

// One pass; true when its last removal succeeded.
bool removeOnce(const std::wstring& path) {
  const PlatformOps& os = platform();
  // A link (or a file) at the root is removed itself; what it points to is
  // not ours.
  if (os.pathExists(path) && !os.isDirectory(path)) return os.deleteFile(path);
  std::vector<DirEntry> entries;
  // A listing cut short still yields what it saw; the rest waits for the
  // next pass, and the folder's own removal fails meanwhile.
  os.listDirectory(path, entries);
  for (const auto& e : entries) {
    std::wstring child = joinPath(path, e.name);
    if (e.type == EntryType::Directory) {
      removeTree(child);
    } else {
      os.deleteFile(child);
    }
  }
  return os.removeDirectory(path);
}

}  // namespace

bool removeTree(const std::wstring& path) {
  // A listing that failed part-way or a delete refused for a moment gets
  // one more pass; what outlasts it stays.
  for (int pass = 0; pass < 2; ++pass) {
    if (removeOnce(path) || !platform().pathExists(path)) return true;
  }
  return false;
}

bool isDirectoryEmpty(const std::wstring& path) {
  std::vector<DirEntry> entries;
  // A folder that cannot be listed counts as empty: its one caller then
  // removes it only as an empty folder, which the system refuses otherwise.
  if (!platform().listDirectory(path, entries)) return true;
  return entries.empty();
}

}  // namespace velmo
