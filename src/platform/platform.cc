#include "platform/platform.h"

#include <algorithm>

#include "platform/staged_output.h"

namespace velmo {
namespace {

const PlatformOps* gOps = nullptr;

// The open HeldFileRetryPhase: its stop flag and the milliseconds its
// retries have waited so far.
std::atomic<bool> gPhaseOpen{false};
std::atomic<const std::atomic<bool>*> gPhaseStop{nullptr};
std::atomic<uint32_t> gPhaseSpent{0};

bool isWindowsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:" followed by a separator (3) or not (2); 0 when path has no drive.
size_t driveRootLength(const std::wstring& path, size_t at) {
  if (path.size() < at + 2 || path[at + 1] != L':') return 0;
  wchar_t d = path[at];
  if (!((d >= L'A' && d <= L'Z') || (d >= L'a' && d <= L'z'))) return 0;
  return path.size() > at + 2 && isWindowsSeparator(path[at + 2]) ? 3 : 2;
}

// "server\share\" from at: through the separator after the share name.
size_t shareRootEnd(const std::wstring& path, size_t at) {
  size_t server = path.find_first_of(L"\\/", at);
  if (server == std::wstring::npos) return path.size();
  size_t share = path.find_first_of(L"\\/", server + 1);
  return share == std::wstring::npos ? path.size() : share + 1;
}

}  // namespace

const PlatformOps& platform() { return gOps ? *gOps : nativePlatform(); }

ScopedPlatformOverride::ScopedPlatformOverride(const PlatformOps& ops) : previous_(gOps) { gOps = &ops; }
ScopedPlatformOverride::~ScopedPlatformOverride() { gOps = previous_; }

size_t windowsRootLength(const std::wstring& path) {
  const size_t n = path.size();
  if (n >= 2 && isWindowsSeparator(path[0]) && isWindowsSeparator(path[1])) {
    // "\\?\" and "\\.\" name a drive or "UNC\server\share" behind them.
    if (n >= 4 && (path[2] == L'?' || path[2] == L'.') && isWindowsSeparator(path[3])) {
      if (n >= 8 && (path.compare(4, 3, L"UNC") == 0 || path.compare(4, 3, L"unc") == 0) &&
          isWindowsSeparator(path[7])) {
        return shareRootEnd(path, 8);
      }
      if (size_t drive = driveRootLength(path, 4)) return 4 + drive;
      size_t volume = path.find_first_of(L"\\/", 4);  // "Volume{...}\"
      return volume == std::wstring::npos ? n : volume + 1;
    }
    return shareRootEnd(path, 2);
  }
  if (size_t drive = driveRootLength(path, 0)) return drive;
  return n >= 1 && isWindowsSeparator(path[0]) ? 1 : 0;
}

size_t rootLength(const std::wstring& path) {
#ifdef _WIN32
  return windowsRootLength(path);
#else
  return !path.empty() && path[0] == L'/' ? 1 : 0;
#endif
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring out = folder;
  if (out.empty() || !isPathSeparator(out.back())) out.push_back(kPathSeparator);
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

std::wstring windowsVolumeRoot(const std::wstring& path) {
  size_t root = windowsRootLength(path);
  // A relative path is measured where it lies, on the current drive.
  if (root < 2) return path.substr(0, kRootPrefixLength);
  std::wstring out = path.substr(0, root);
  // Shares are named with a closing separator ("\\server\share\").
  if (root > 3 && !isWindowsSeparator(out.back())) out.push_back(L'\\');
  if (root == 2) out.push_back(L'\\');
  return out;
}

std::wstring windowsVolumeLabel(const std::wstring& root) {
  if (root.size() > 3 && isWindowsSeparator(root.back())) return root.substr(0, root.size() - 1);
  return root.substr(0, 2);
}

std::wstring volumeRoot(const std::wstring& path) {
#ifdef _WIN32
  return windowsVolumeRoot(path);
#else
  return path;
#endif
}

std::wstring volumeLabel(const std::wstring& root) {
#ifdef _WIN32
  return windowsVolumeLabel(root);
#else
  // The mount point, which is what the free bytes belong to (a disk at
  // /media/usb is not "/media").
  std::wstring mountedAt = platform().mountPoint(root);
  return mountedAt.empty() ? root : mountedAt;
#endif
}

HeldFileRetryPhase::HeldFileRetryPhase(const std::atomic<bool>* stop)
    : wasOpen_(gPhaseOpen.load()), stop_(gPhaseStop.load()), spent_(gPhaseSpent.load()) {
  gPhaseStop = stop;
  gPhaseSpent = 0;
  gPhaseOpen = true;
}

HeldFileRetryPhase::~HeldFileRetryPhase() {
  gPhaseOpen = wasOpen_;
  gPhaseStop = stop_;
  gPhaseSpent = spent_;
}

bool HeldFileRetryPhase::open() { return gPhaseOpen.load(); }

bool retryWhileHeld(const std::function<bool(bool& held)>& attempt) {
  const PlatformOps& os = platform();
  const bool inPhase = gPhaseOpen.load();
  uint32_t waited = 0;  // by this call; a phase counts every call's
  uint32_t pause = 10;
  for (;;) {
    bool held = false;
    if (attempt(held)) return true;
    if (!held) return false;
    const std::atomic<bool>* stop = inPhase ? gPhaseStop.load() : nullptr;
    if (stop && stop->load()) return false;
    uint32_t used = inPhase ? gPhaseSpent.load() : waited;
    if (used >= kHeldFileRetryMs) return false;
    uint32_t asked = std::min(pause, kHeldFileRetryMs - used);
    uint32_t before = os.tickCount();
    os.sleepMs(asked);
    // At least the pause asked for: a clock that stands still (or a sleep
    // cut short) must not make the budget endless.
    uint32_t slept = std::max(asked, os.tickCount() - before);
    waited += slept;
    if (inPhase) gPhaseSpent += slept;
    pause = std::min<uint32_t>(pause * 2, 250);
  }
}

EntryType windowsEntryType(uint32_t attributes, uint32_t reparseTag) {
  constexpr uint32_t kNameSurrogate = 0x20000000;
  if ((attributes & kWinAttributeReparsePoint) && (reparseTag & kNameSurrogate)) return EntryType::Link;
  if (attributes & kWinAttributeDirectory) return EntryType::Directory;
  if (attributes & kWinAttributeDevice) return EntryType::Other;
  return EntryType::File;
}

bool windowsFolderLink(uint32_t attributes, uint32_t reparseTag) {
  return (attributes & kWinAttributeDirectory) && windowsEntryType(attributes, reparseTag) == EntryType::Link;
}

WindowsRefusal classifyWindowsRefusal(uint32_t error, uint32_t ntStatus, uint32_t attributes, bool wantsFile) {
  constexpr uint32_t kAccessDenied = 5, kSharingViolation = 32, kLockViolation = 33, kDirNotEmpty = 145,
                     kDeletePending = 303;
  constexpr uint32_t kStatusDeletePending = 0xC0000056, kStatusFileIsADirectory = 0xC00000BA,
                     kStatusCannotDelete = 0xC0000121;
  switch (error) {
    case kSharingViolation:
    case kLockViolation:
    case kDirNotEmpty:  // see removeDirectory
      return WindowsRefusal::Held;
    case kDeletePending:
      return WindowsRefusal::DeletePending;
    case kAccessDenied:
      break;
    default:
      return WindowsRefusal::Final;
  }
  // "Access denied" stands for many answers. A deleted file still open
  // elsewhere goes when let go; a running program's image or a read-only
  // file cannot be deleted while it stays that; a folder is never a file.
  if (ntStatus == kStatusDeletePending) return WindowsRefusal::DeletePending;
  if (ntStatus == kStatusCannotDelete || ntStatus == kStatusFileIsADirectory) return WindowsRefusal::Final;
  if (attributes != kWinInvalidAttributes) {
    if (attributes & kWinAttributeReadOnly) return WindowsRefusal::Final;
    if (wantsFile && (attributes & kWinAttributeDirectory)) return WindowsRefusal::Final;
  }
  // Scanners may deny access to a file they examine, for a moment; a
  // refused right looks the same and costs the phase's budget.
  return WindowsRefusal::Held;
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
