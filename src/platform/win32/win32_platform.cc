// The Windows operations on the Unicode API: wide paths straight to the
// system (joined with backslashes, never normalised, no long-path prefix),
// file handles as HANDLE values.
#include <windows.h>
#include <shellapi.h>

#include <mutex>

#include "platform/platform.h"
#include "platform/win32/win32_file_calls.h"

namespace velmo {
namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle fileOf(HANDLE h) { return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h); }

// The largest single ReadFile/WriteFile request (their sizes are DWORDs).
constexpr size_t kMaxIo = size_t(1) << 30;

LONG WINAPI noNtStatus() { return 0; }

// Bound before any file call: looking it up later would itself replace the
// status it reads.
Win32FileCalls gCalls = [] {
  using LastNtStatus = LONG(WINAPI*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto status = ntdll ? reinterpret_cast<LastNtStatus>(
                            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetLastNtStatus")))
                      : nullptr;
  return Win32FileCalls{GetFileAttributesW, FindFirstFileW,   FindClose,
                        DeleteFileW,        RemoveDirectoryW, status ? status : noNtStatus};
}();

// What the failed call that just returned (on path) means. Virus scanners,
// the search indexer and sync clients open fresh files for a moment; the
// system then answers a sharing violation or "access denied", which pass
// when the other program lets go. The lasting denials that Windows tells
// apart fail at once.
WindowsRefusal refusalOf(const std::wstring& path, bool wantsFile) {
  DWORD error = GetLastError();
  uint32_t status = uint32_t(gCalls.lastNtStatus());
  DWORD attributes = error == ERROR_ACCESS_DENIED ? gCalls.getFileAttributes(path.c_str()) : INVALID_FILE_ATTRIBUTES;
  SetLastError(error);
  return classifyWindowsRefusal(error, status, attributes, wantsFile);
}

// Runs one call on path that returns a BOOL while the entry is held;
// deletePending (when given) is set when it failed on an entry that is
// deleted already.
template <typename Call>
bool retried(const std::wstring& path, bool wantsFile, Call call, bool* deletePending = nullptr) {
  return retryWhileHeld([&](bool& held) {
    if (call()) return true;
    WindowsRefusal refusal = refusalOf(path, wantsFile);
    if (refusal == WindowsRefusal::DeletePending && deletePending) {
      *deletePending = true;
      return false;
    }
    held = refusal != WindowsRefusal::Final;
    return false;
  });
}

HANDLE openRetried(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  HANDLE h = INVALID_HANDLE_VALUE;
  retried(path, true, [&] {
    h = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  return h;
}

// The attributes of the entry at path itself and, for a reparse point, its
// tag (which only a listing reports). A tag that cannot be read counts as
// a link's: such an entry is never entered.
DWORD attributesOf(const std::wstring& path, DWORD& tag) {
  tag = 0;
  DWORD attributes = gCalls.getFileAttributes(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return attributes;
  WIN32_FIND_DATAW data;
  HANDLE find = gCalls.findFirstFile(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    tag = IO_REPARSE_TAG_SYMLINK;
  } else {
    tag = data.dwReserved0;
    gCalls.findClose(find);
  }
  return attributes;
}

// INVALID_FILE_ATTRIBUTES gives Other.
EntryType entryTypeOf(const std::wstring& path) {
  DWORD tag = 0;
  DWORD attributes = attributesOf(path, tag);
  return attributes == INVALID_FILE_ATTRIBUTES ? EntryType::Other : windowsEntryType(attributes, tag);
}

FileHandle openFileRead(const std::wstring& path) {
  // Others may read, write, and rename or delete the file meanwhile (the
  // handle keeps reading what it opened), as on POSIX.
  return fileOf(openRetried(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
}

FileHandle createFile(const std::wstring& path) {
  return fileOf(openRetried(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
}

bool writeFile(FileHandle file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD want = DWORD(size < kMaxIo ? size : kMaxIo);
    DWORD done = 0;
    if (!WriteFile(handleOf(file), p, want, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

bool readFile(FileHandle file, void* data, size_t size, size_t& got) {
  DWORD done = 0;
  if (!ReadFile(handleOf(file), data, DWORD(size < kMaxIo ? size : kMaxIo), &done, nullptr)) return false;
  got = done;
  return true;
}

// Each read names its offset (OVERLAPPED), so readers sharing a handle never
// depend on one another. Windows still moves the position of a synchronous
// handle, so the sequential readFile must not be mixed with this on a handle.
bool readFileAt(FileHandle file, uint64_t offset, void* data, size_t size, size_t& got) {
  got = 0;
  char* p = static_cast<char*>(data);
  while (got < size) {
    OVERLAPPED at{};
    uint64_t position = offset + got;
    at.Offset = DWORD(position);
    at.OffsetHigh = DWORD(position >> 32);
    size_t left = size - got;
    DWORD done = 0;
    if (!ReadFile(handleOf(file), p + got, DWORD(left < kMaxIo ? left : kMaxIo), &done, &at)) {
      return GetLastError() == ERROR_HANDLE_EOF;
    }
    if (done == 0) break;
    got += done;
  }
  return true;
}

bool fileSize(FileHandle file, uint64_t& size) {
  LARGE_INTEGER li;
  if (!GetFileSizeEx(handleOf(file), &li)) return false;
  size = uint64_t(li.QuadPart);
  return true;
}

bool flushFile(FileHandle file) {
  if (FlushFileBuffers(handleOf(file))) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  // A handle opened for reading may not flush; a writing one to the same
  // file may (readers share writing for this).
  HANDLE writer = ReOpenFile(handleOf(file), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (writer == INVALID_HANDLE_VALUE) return false;
  bool ok = FlushFileBuffers(writer) != 0;
  CloseHandle(writer);
  return ok;
}

void closeFile(FileHandle file) {
  if (file != kInvalidFile) CloseHandle(handleOf(file));
}

bool deleteFile(const std::wstring& path) {
  // A link to a folder (a junction, a directory symbolic link) is an entry
  // of the folder kind: removed as such, never what it leads to.
  DWORD tag = 0;
  DWORD attributes = attributesOf(path, tag);
  if (attributes != INVALID_FILE_ATTRIBUTES && windowsFolderLink(attributes, tag)) {
    return retried(path, false, [&] { return gCalls.removeDirectory(path.c_str()) != 0; });
  }
  // A file deleted already but still open elsewhere goes once let go.
  bool pending = false;
  return retried(path, true, [&] { return gCalls.deleteFile(path.c_str()) != 0; }, &pending) || pending;
}

bool createDirectory(const std::wstring& path, bool& alreadyExists) {
  alreadyExists = false;
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  alreadyExists = GetLastError() == ERROR_ALREADY_EXISTS;
  return false;
}

bool removeDirectory(const std::wstring& path) {
  return retried(path, false, [&] { return gCalls.removeDirectory(path.c_str()) != 0; });
}

bool listFolder(const std::wstring& path, std::vector<DirEntry>& entries, bool throughLink) {
  entries.clear();
  DWORD tag = 0;
  DWORD own = attributesOf(path, tag);
  if (own == INVALID_FILE_ATTRIBUTES) return false;
  // A junction or a link to a folder is a folder with a reparse point.
  if (throughLink ? !(own & FILE_ATTRIBUTE_DIRECTORY) : windowsEntryType(own, tag) != EntryType::Directory) {
    return false;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(joinPath(path, L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({name, windowsEntryType(data.dwFileAttributes, data.dwReserved0)});
  } while (FindNextFileW(find, &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) ok = false;
  FindClose(find);
  return ok;
}

bool listDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listFolder(path, entries, false);
}

bool listLinkedDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listFolder(path, entries, true);
}

bool pathExists(const std::wstring& path) { return gCalls.getFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::wstring& path) { return entryTypeOf(path) == EntryType::Directory; }

bool renameReplace(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  DWORD error = ERROR_SUCCESS;
  bool ok = retried(to, true, [&] {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = GetLastError();
    return false;
  });
  otherVolume = !ok && error == ERROR_NOT_SAME_DEVICE;
  return ok;
}

bool moveReplace(const std::wstring& from, const std::wstring& to) {
  bool otherVolume = false;
  return renameReplace(from, to, otherVolume);
}

FileHandle createNewFile(const std::wstring& path) {
  // CREATE_NEW fails on anything at path, a link (reparse point) included.
  return fileOf(openRetried(path, GENERIC_WRITE, 0, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
}

// The temporary path is the user's own profile folder; a new folder there
// inherits its access rules, so creating it afresh is what makes it private.
bool createPrivateDirectory(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool pathInfo(const std::wstring& path, PathInfo& info) {
  DWORD tag = 0;
  DWORD own = attributesOf(path, tag);
  if (own == INVALID_FILE_ATTRIBUTES) return false;
  info = PathInfo();
  info.type = windowsEntryType(own, tag);
  // Folders and files created in the per-user temporary path are this
  // user's only; the POSIX mode test has no counterpart here.
  info.privateToUser = info.type != EntryType::Link;
  DWORD attributes = own;
  // The final target, through any link: its kind, volume and size.
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION target;
  if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &target)) {
    attributes = target.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_REPARSE_POINT);
    info.linkedType = windowsEntryType(attributes, 0);
    info.volume = target.dwVolumeSerialNumber;
    info.size = (uint64_t(target.nFileSizeHigh) << 32) | target.nFileSizeLow;
  } else {
    info.linkedType = info.type == EntryType::Link ? EntryType::Other : info.type;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  // A read-only file cannot be replaced; folders are asked no further (their
  // read-only bit means nothing to the file system).
  info.writable = info.linkedType == EntryType::Directory || !(attributes & FILE_ATTRIBUTE_READONLY);
  return true;
}

bool processExists(uint32_t pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // access denied: it runs
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

uint64_t physicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? uint64_t(status.ullTotalPhys) : 0;
}

// NTFS journals its metadata; a folder has nothing to flush of its own.
bool flushDirectory(const std::wstring& path) { return isDirectory(path); }

// Asks for the path itself, then for its nearest existing parent (a
// destination need not exist yet), down to the drive root.
bool freeSpace(const std::wstring& path, uint64_t& bytes) {
  const size_t root = windowsRootLength(path);
  std::wstring p = path;
  while (!p.empty()) {
    // Asked with a closing separator, which a share requires.
    std::wstring ask = p;
    if (!isPathSeparator(ask.back()) && (root > 3 || ask.size() <= root)) ask.push_back(L'\\');
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(ask.c_str(), &available, nullptr, nullptr)) {
      bytes = available.QuadPart;
      return true;
    }
    if (p.size() <= root) return false;
    size_t cut = p.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return false;
    p.resize(cut < root ? root : cut);
  }
  return false;
}

// The folder the volume holding path is mounted at ("C:\\", or a mount
// folder); empty when it cannot be told.
std::wstring mountPoint(const std::wstring& path) {
  wchar_t buf[MAX_PATH + 1];
  if (!GetVolumePathNameW(path.c_str(), buf, MAX_PATH + 1)) return std::wstring();
  return buf;
}

std::wstring tempFolder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  std::wstring dir(buf, n);
  // Callers join names with a separator of their own.
  if (dir.size() > kRootPrefixLength && dir.back() == L'\\') dir.pop_back();
  return dir;
}

bool getEnvironment(const std::wstring& name, std::wstring& value) {
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value.clear();  // present but empty
    return true;
  }
  std::wstring buf(n, L'\0');
  DWORD got = GetEnvironmentVariableW(name.c_str(), buf.data(), n);
  if (got >= n) return false;  // changed meanwhile
  buf.resize(got);
  value = std::move(buf);
  return true;
}

std::wstring executablePath() {
  // Grows past MAX_PATH instead of cutting a long path short.
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return std::wstring();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() >= 32768) return std::wstring();
    buf.resize(buf.size() * 2);
  }
}

ByteView executableImage() {
  static std::once_flag once;
  static ByteView image;
  std::call_once(once, [] {
    HANDLE file = CreateFileW(executablePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    HANDLE mapping = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
      mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    }
    if (mapping) {
      // The view stays mapped for the life of the process.
      if (void* p = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
        image = ByteView(static_cast<const uint8_t*>(p), size_t(size.QuadPart));
      }
      CloseHandle(mapping);
    }
    CloseHandle(file);
  });
  return image;
}

// Opened without sharing, so a second run's open fails at once; the system
// deletes the file when the handle closes, also when the process is killed.
FileHandle lockFile(const std::wstring& path) {
  return fileOf(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

void unlockFile(FileHandle lock, const std::wstring&) { closeFile(lock); }

bool hideFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(path.c_str(), a | FILE_ATTRIBUTE_HIDDEN) != 0;
}

// "E:" means the current folder of drive E:, "a\\b" and "\\b" lie below the
// current folder and drive: resolved as the system resolves them.
std::wstring fullPath(const std::wstring& path) {
  size_t root = windowsRootLength(path);
  if (root >= 3 || path.empty()) return path;
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring buf(n, L'\0');
  DWORD got = GetFullPathNameW(path.c_str(), n, buf.data(), nullptr);
  if (got == 0 || got >= n) return path;
  buf.resize(got);
  return buf;
}

// Without long paths (Windows 10 1607 on, with the registry setting and a
// program that declares itself aware) a file path holds MAX_PATH - 1
// characters and a folder's leaves room for an 8.3 name.
bool pathLengthLimits(size_t& fileLimit, size_t& folderLimit) {
  using AreLongPathsEnabled = BOOLEAN(WINAPI*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto enabled = ntdll ? reinterpret_cast<AreLongPathsEnabled>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlAreLongPathsEnabled")))
                       : nullptr;
  if (enabled && enabled()) return false;
  fileLimit = MAX_PATH - 1;
  folderLimit = MAX_PATH - 12 - 1;
  return true;
}

// From the performance counter, not GetTickCount: Wine updates the tick
// count only when its server handles a request, so across a short Sleep it
// can stand still and a wait measured by it never ends.
// Both calls always succeed on Windows XP and later.
uint32_t tickCount() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return uint64_t(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t c = uint64_t(now.QuadPart);
  return uint32_t(c / frequency * 1000u + c % frequency * 1000u / frequency);
}
uint32_t processId() { return uint32_t(GetCurrentProcessId()); }
void sleepMs(uint32_t ms) { Sleep(ms); }

const PlatformOps kWin32Ops = {
    .openFileRead = openFileRead,
    .createFile = createFile,
    .createNewFile = createNewFile,
    .writeFile = writeFile,
    .readFile = readFile,
    .readFileAt = readFileAt,
    .fileSize = fileSize,
    .flushFile = flushFile,
    .closeFile = closeFile,
    .deleteFile = deleteFile,
    .createDirectory = createDirectory,
    .createPrivateDirectory = createPrivateDirectory,
    .removeDirectory = removeDirectory,
    .listDirectory = listDirectory,
    .pathExists = pathExists,
    .isDirectory = isDirectory,
    .pathInfo = pathInfo,
    .moveReplace = moveReplace,
    .renameReplace = renameReplace,
    .flushDirectory = flushDirectory,
    .freeSpace = freeSpace,
    .mountPoint = mountPoint,
    .tempFolder = tempFolder,
    .getEnvironment = getEnvironment,
    .executablePath = executablePath,
    .executableImage = executableImage,
    .tickCount = tickCount,
    .processId = processId,
    .processExists = processExists,
    .sleepMs = sleepMs,
    .physicalMemory = physicalMemory,
    .lockFile = lockFile,
    .unlockFile = unlockFile,
    .hideFile = hideFile,
    .listLinkedDirectory = listLinkedDirectory,
    .fullPath = fullPath,
    .pathLengthLimits = pathLengthLimits,
};

}  // namespace

const PlatformOps& nativePlatform() { return kWin32Ops; }

Win32FileCalls& win32FileCalls() { return gCalls; }

std::vector<std::wstring> processArguments(int, char**) {
  // The narrow argv of the C runtime is in the ANSI code page; the wide
  // command line holds every character, split as the shell splits it.
  std::vector<std::wstring> args;
  int count = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
  }
  return args;
}

}  // namespace velmo
