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

void removeTree(const std::wstring& path) {
  const PlatformOps& os = platform();
  // A link (or a file) at the root is removed itself; what it points to is
  // not ours.
  if (os.pathExists(path) && !os.isDirectory(path)) {
    os.deleteFile(path);
    return;
  }
  std::vector<DirEntry> entries;
  if (os.listDirectory(path, entries)) {
    for (const auto& e : entries) {
      std::wstring child = joinPath(path, e.name);
      if (e.type == EntryType::Directory) {
        removeTree(child);
      } else {
        os.deleteFile(child);
      }
    }
  }
  os.removeDirectory(path);
}

bool isDirectoryEmpty(const std::wstring& path) {
  std::vector<DirEntry> entries;
  if (!platform().listDirectory(path, entries)) return true;
  return entries.empty();
}

}  // namespace velmo
