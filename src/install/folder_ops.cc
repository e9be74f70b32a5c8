#include "install/folder_ops.h"

#include <vector>

#include "platform/platform.h"

namespace velmo {

bool createDirectoryChain(const std::wstring& path) {
  const PlatformOps& os = platform();
  const size_t n = path.size();
  for (size_t i = kRootPrefixLength; i <= n; ++i) {
    if (i != n && !isPathSeparator(path[i])) continue;
    bool alreadyExists = false;
    if (!os.createDirectory(path.substr(0, i), alreadyExists) && !alreadyExists) return false;
  }
  return true;
}

void removeTree(const std::wstring& path) {
  const PlatformOps& os = platform();
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

bool moveTreeInto(const std::wstring& source, const std::wstring& target) {
  const PlatformOps& os = platform();
  std::vector<DirEntry> entries;
  if (!os.listDirectory(source, entries)) return true;
  for (const auto& e : entries) {
    std::wstring from = joinPath(source, e.name);
    std::wstring to = joinPath(target, e.name);
    if (e.type == EntryType::Directory) {
      if (!createDirectoryChain(to) || !moveTreeInto(from, to)) return false;
      os.removeDirectory(from);
    } else if (!os.moveReplace(from, to)) {
      return false;
    }
  }
  return true;
}

bool flushTree(const std::wstring& path) {
  const PlatformOps& os = platform();
  std::vector<DirEntry> entries;
  if (!os.listDirectory(path, entries)) return false;
  bool ok = true;
  for (const auto& e : entries) {
    std::wstring child = joinPath(path, e.name);
    if (e.type == EntryType::Directory) {
      ok = flushTree(child) && ok;
    } else if (e.type == EntryType::File) {
      FileHandle f = os.openFileRead(child);
      if (f == kInvalidFile) {
        ok = false;
        continue;
      }
      ok = os.flushFile(f) && ok;
      os.closeFile(f);
    }
  }
  return os.flushDirectory(path) && ok;
}

}  // namespace velmo
