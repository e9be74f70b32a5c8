// The POSIX operations: paths as raw bytes (pathToBytes/pathFromBytes),
// file descriptors, and the running executable mapped from /proc/self/exe.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "common/utf8.h"
#include "platform/platform.h"

namespace velmo {
namespace {

std::string sys(const std::wstring& path) { return pathToBytes(path); }

FileHandle openFileRead(const std::wstring& path) {
  // Non-blocking only for the open itself: a FIFO would otherwise wait for a
  // writer for ever. Anything but a regular file is refused.
  int fd = ::open(sys(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kInvalidFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, O_RDONLY) != 0) {
    ::close(fd);
    return kInvalidFile;
  }
  return FileHandle(fd);
}

FileHandle createFile(const std::wstring& path) {
  int fd = ::open(sys(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? kInvalidFile : FileHandle(fd);
}

FileHandle createNewFile(const std::wstring& path) {
  // O_EXCL also refuses a link at path, even a broken one.
  int fd = ::open(sys(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fd < 0 ? kInvalidFile : FileHandle(fd);
}

bool writeFile(FileHandle file, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(int(file), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool readFile(FileHandle file, void* data, size_t size, size_t& got) {
  for (;;) {
    ssize_t n = ::read(int(file), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    got = size_t(n);
    return true;
  }
}

bool readFileAt(FileHandle file, uint64_t offset, void* data, size_t size, size_t& got) {
  got = 0;
  char* p = static_cast<char*>(data);
  while (got < size) {
    if (offset + got > uint64_t(INT64_MAX)) return false;
    ssize_t n = ::pread(int(file), p + got, size - got, off_t(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  return true;
}

bool fileSize(FileHandle file, uint64_t& size) {
  struct stat st;
  if (::fstat(int(file), &st) != 0) return false;
  size = uint64_t(st.st_size);
  return true;
}

// EINVAL: the file system has nothing to flush for this kind of file.
bool flushed(int fd) { return ::fsync(fd) == 0 || errno == EINVAL; }

bool flushFile(FileHandle file) { return flushed(int(file)); }
void closeFile(FileHandle file) {
  if (file != kInvalidFile) ::close(int(file));
}
bool deleteFile(const std::wstring& path) { return ::unlink(sys(path).c_str()) == 0; }

bool createDirectory(const std::wstring& path, bool& alreadyExists) {
  alreadyExists = false;
  if (::mkdir(sys(path).c_str(), 0755) == 0) return true;
  alreadyExists = (errno == EEXIST);
  return false;
}

bool createPrivateDirectory(const std::wstring& path) {
  std::string p = sys(path);
  if (::mkdir(p.c_str(), 0700) != 0) return false;
  // The umask may have taken bits away, never added any; the folder is
  // checked through a descriptor so that nothing put in its place counts.
  int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  bool ok = fd >= 0 && ::fchmod(fd, 0700) == 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
            (st.st_mode & 07777) == 0700;
  if (fd >= 0) ::close(fd);
  // The folder this call made goes again: a failure leaves nothing.
  if (!ok) ::rmdir(p.c_str());
  return ok;
}

bool removeDirectory(const std::wstring& path) { return ::rmdir(sys(path).c_str()) == 0; }

bool listFolder(const std::wstring& path, std::vector<DirEntry>& entries, bool throughLink) {
  entries.clear();
  int fd = ::open(sys(path).c_str(), O_RDONLY | O_DIRECTORY | (throughLink ? 0 : O_NOFOLLOW) | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  // readdir ends the listing with null both at its end and on an error
  // (an I/O error, a share gone): only errno tells them apart.
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(dir);
    if (!e) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = pathFromBytes(name);
    struct stat st;
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.type = EntryType::Other;
    } else if (S_ISLNK(st.st_mode)) {
      entry.type = EntryType::Link;
    } else if (S_ISDIR(st.st_mode)) {
      entry.type = EntryType::Directory;
    } else if (S_ISREG(st.st_mode)) {
      entry.type = EntryType::File;
    } else {
      entry.type = EntryType::Other;
    }
    entries.push_back(std::move(entry));
  }
  bool whole = errno == 0;
  ::closedir(dir);
  return whole;
}

bool listDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listFolder(path, entries, false);
}

bool listLinkedDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listFolder(path, entries, true);
}

bool pathExists(const std::wstring& path) {
  struct stat st;
  return ::lstat(sys(path).c_str(), &st) == 0;
}

bool isDirectory(const std::wstring& path) {
  struct stat st;
  return ::lstat(sys(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

EntryType typeOf(mode_t mode) {
  if (S_ISLNK(mode)) return EntryType::Link;
  if (S_ISDIR(mode)) return EntryType::Directory;
  if (S_ISREG(mode)) return EntryType::File;
  return EntryType::Other;
}

bool pathInfo(const std::wstring& path, PathInfo& info) {
  std::string p = sys(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return false;
  info = PathInfo();
  info.type = typeOf(st.st_mode);
  info.privateToUser = st.st_uid == ::geteuid() &&
                       (st.st_mode & 07777) == (info.type == EntryType::Directory ? 0700u : 0600u);
  if (info.type == EntryType::Link) {
    struct stat target;
    info.linkedType = ::stat(p.c_str(), &target) == 0 ? typeOf(target.st_mode) : EntryType::Other;
    if (info.linkedType != EntryType::Other) st = target;
  } else {
    info.linkedType = info.type;
  }
  info.volume = uint64_t(st.st_dev);
  info.size = uint64_t(st.st_size);
  // Replacing a file is a change of its folder, so only folders are asked.
  info.writable = info.linkedType != EntryType::Directory || ::access(p.c_str(), W_OK | X_OK) == 0;
  return true;
}

bool moveReplace(const std::wstring& from, const std::wstring& to) {
  return ::rename(sys(from).c_str(), sys(to).c_str()) == 0;
}

// One file system mounted at two places has one device number, yet a
// rename between them fails with EXDEV.
bool renameReplace(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  bool ok = moveReplace(from, to);
  otherVolume = !ok && errno == EXDEV;
  return ok;
}

bool flushDirectory(const std::wstring& path) {
  int fd = ::open(sys(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = flushed(fd);
  ::close(fd);
  return ok;
}

bool freeSpace(const std::wstring& path, uint64_t& bytes) {
  std::string p = sys(path);
  for (;;) {
    struct statvfs st;
    if (::statvfs(p.empty() ? "." : p.c_str(), &st) == 0) {
      bytes = uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
      return true;
    }
    size_t cut = p.find_last_of('/');
    if (cut == std::string::npos || p.empty()) return false;
    p = cut == 0 ? "/" : p.substr(0, cut);
  }
}

std::wstring mountPoint(const std::wstring& path) {
  // "." assigned as a string of its own: assigning the literal trips a false
  // -Wrestrict of GCC 12 at -O3.
  const std::string here(".");
  std::string p = sys(path);
  if (p.empty()) p = here;
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (p == "/" || p == here) return std::wstring();
    size_t cut = p.find_last_of('/');
    if (cut == std::string::npos) p = here;
    else p.erase(cut == 0 ? 1 : cut);
  }
  char* real = ::realpath(p.c_str(), nullptr);
  if (!real) return std::wstring();
  std::string at = real;
  std::free(real);
  // Up the folders while the parent still lies on the same device.
  while (at != "/") {
    std::string parent = at;
    size_t cut = parent.find_last_of('/');
    parent.erase(cut == 0 ? 1 : cut);
    struct stat up;
    if (::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    at = parent;
  }
  return fromUtf8(at);
}

std::wstring tempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return pathFromBytes(dir);
}

bool getEnvironment(const std::wstring& name, std::wstring& value) {
  const char* v = std::getenv(sys(name).c_str());
  if (!v) return false;
  value = pathFromBytes(v);
  return true;
}

std::wstring executablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return std::wstring();
  return pathFromBytes(std::string(buf, size_t(n)));
}

ByteView executableImage() {
  static std::once_flag once;
  static ByteView image;
  std::call_once(once, [] {
    int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) image = ByteView(static_cast<const uint8_t*>(p), size_t(st.st_size));
    }
    ::close(fd);
  });
  return image;
}

uint32_t tickCount() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

uint32_t processId() { return uint32_t(::getpid()); }

bool processExists(uint32_t pid) {
  // 0 and ids beyond pid_t would name process groups: not a single process.
  if (pid == 0 || pid > uint32_t(INT_MAX)) return true;
  return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

void sleepMs(uint32_t ms) {
  struct timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t physicalMemory() {
  long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
}

FileHandle lockFile(const std::wstring& path) {
  std::string p = sys(path);
  // A holder that finishes unlinks the file; one opened just before that
  // is no lock any more, so the file locked must still be the one at path.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidFile;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return kInvalidFile;
    }
    struct stat held, there;
    if (::fstat(fd, &held) == 0 && ::lstat(p.c_str(), &there) == 0 && held.st_dev == there.st_dev &&
        held.st_ino == there.st_ino) {
      return FileHandle(fd);
    }
    ::close(fd);
  }
  return kInvalidFile;
}

void unlockFile(FileHandle lock, const std::wstring& path) {
  // Unlinked while still held, so no one can take the name's old file.
  ::unlink(sys(path).c_str());
  ::close(int(lock));
}

bool hideFile(const std::wstring&) { return true; }

std::wstring fullPath(const std::wstring& path) {
  if (path.empty() || path[0] == L'/') return path;
  std::string here;
  for (size_t size = 256; size <= (size_t(1) << 20); size *= 2) {
    std::string buf(size, '\0');
    if (::getcwd(buf.data(), buf.size())) {
      here = buf.c_str();
      break;
    }
    if (errno != ERANGE) return path;
  }
  if (here.empty()) return path;
  return joinPath(pathFromBytes(here), path);
}

// Linux takes paths of up to 4096 bytes, longer than any game path.
bool pathLengthLimits(size_t&, size_t&) { return false; }

const PlatformOps kPosixOps = {
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

const PlatformOps& nativePlatform() { return kPosixOps; }

std::vector<std::wstring> processArguments(int argc, char** argv) {
  std::vector<std::wstring> args;
  // Paths arrive as bytes; they must reach the file system unchanged.
  for (int i = 0; i < argc; ++i) args.push_back(pathFromBytes(argv[i]));
  return args;
}

}  // namespace velmo
