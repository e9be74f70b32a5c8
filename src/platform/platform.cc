#include "platform/platform.h"

#include "platform/staged_output.h"

namespace velmo {
namespace {

const PlatformOps* gOps = nullptr;

}  // namespace

const PlatformOps& platform() { return gOps ? *gOps : nativePlatform(); }

ScopedPlatformOverride::ScopedPlatformOverride(const PlatformOps& ops) : previous_(gOps) { gOps = &ops; }
ScopedPlatformOverride::~ScopedPlatformOverride() { gOps = previous_; }

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring out = folder;
  out.push_back(kPathSeparator);
  out += name;
  return out;
}

std::wstring nativeRelativePath(const std::wstring& packPath) {
  std::wstring out = packPath;
  for (auto& c : out) {
    if (c == L'\\') c = kPathSeparator;
  }
  return out;
}

std::wstring parentFolder(const std::wstring& path) {
  size_t cut = path.find_last_of(L"/" + std::wstring(1, kPathSeparator));
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring volumeRoot(const std::wstring& path) {
#ifdef _WIN32
  return path.substr(0, kRootPrefixLength);
#else
  return path;
#endif
}

std::wstring volumeLabel(const std::wstring& root) {
#ifdef _WIN32
  return root.substr(0, 2);
#else
  // The mount point, which is what the free bytes belong to (a disk at
  // /media/usb is not "/media").
  std::wstring mountedAt = platform().mountPoint(root);
  return mountedAt.empty() ? root : mountedAt;
#endif
}

bool readWholeFile(const std::wstring& path, Bytes& out) {
  const PlatformOps& os = platform();
  FileHandle f = os.openFileRead(path);
  if (f == kInvalidFile) return false;
  out.clear();
  uint64_t size = 0;
  if (os.fileSize(f, size) && size < (uint64_t(1) << 40)) out.reserve(size_t(size));
  uint8_t chunk[1 << 16];
  bool ok = true;
  for (;;) {
    size_t got = 0;
    if (!os.readFile(f, chunk, sizeof chunk, got)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    out.insert(out.end(), chunk, chunk + got);
  }
  os.closeFile(f);
  return ok;
}

bool writeWholeFile(const std::wstring& path, ByteView bytes) {
  StagedOutput out;
  if (!out.create(path)) return false;
  out.write(bytes.data(), bytes.size());
  return out.finish(true);
}

}  // namespace velmo
