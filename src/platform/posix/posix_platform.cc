// The POSIX operations: UTF-8 paths, file descriptors, and the running
// executable mapped from /proc/self/exe.
#include <dirent.h>
#include <fcntl.h>
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

std::string sys(const std::wstring& path) { return toUtf8(path); }

FileHandle openFileRead(const std::wstring& path) {
  int fd = ::open(sys(path).c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? kInvalidFile : FileHandle(fd);
}

FileHandle createFile(const std::wstring& path) {
  int fd = ::open(sys(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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

bool flushFile(FileHandle file) { return ::fsync(int(file)) == 0; }
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

bool removeDirectory(const std::wstring& path) { return ::rmdir(sys(path).c_str()) == 0; }

bool listDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  entries.clear();
  std::string base = sys(path);
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return false;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = fromUtf8(name);
    struct stat st;
    std::string full = base + "/" + name;
    if (::lstat(full.c_str(), &st) != 0) {
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
  ::closedir(dir);
  return true;
}

bool pathExists(const std::wstring& path) {
  struct stat st;
  return ::lstat(sys(path).c_str(), &st) == 0;
}

bool isDirectory(const std::wstring& path) {
  struct stat st;
  return ::lstat(sys(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool moveReplace(const std::wstring& from, const std::wstring& to) {
  return ::rename(sys(from).c_str(), sys(to).c_str()) == 0;
}

bool flushDirectory(const std::wstring& path) {
  int fd = ::open(sys(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
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

std::wstring tempFolder() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return fromUtf8(dir);
}

bool getEnvironment(const std::wstring& name, std::wstring& value) {
  const char* v = std::getenv(sys(name).c_str());
  if (!v) return false;
  value = fromUtf8(v);
  return true;
}

std::wstring executablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return std::wstring();
  return fromUtf8(std::string(buf, size_t(n)));
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

void sleepMs(uint32_t ms) {
  struct timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t physicalMemory() {
  long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
}

const PlatformOps kPosixOps = {
    .openFileRead = openFileRead,
    .createFile = createFile,
    .writeFile = writeFile,
    .readFile = readFile,
    .readFileAt = readFileAt,
    .fileSize = fileSize,
    .flushFile = flushFile,
    .closeFile = closeFile,
    .deleteFile = deleteFile,
    .createDirectory = createDirectory,
    .removeDirectory = removeDirectory,
    .listDirectory = listDirectory,
    .pathExists = pathExists,
    .isDirectory = isDirectory,
    .moveReplace = moveReplace,
    .flushDirectory = flushDirectory,
    .freeSpace = freeSpace,
    .tempFolder = tempFolder,
    .getEnvironment = getEnvironment,
    .executablePath = executablePath,
    .executableImage = executableImage,
    .tickCount = tickCount,
    .processId = processId,
    .sleepMs = sleepMs,
    .physicalMemory = physicalMemory,
};

}  // namespace

const PlatformOps& nativePlatform() { return kPosixOps; }

}  // namespace velmo
