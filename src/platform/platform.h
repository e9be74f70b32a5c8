#pragma once
// The services the core needs from the operating system, behind one table of
// operations chosen once at start-up. The core never includes a system header
// for these; tests may swap single operations (a fault seam) with
// ScopedPlatformOverride.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace velmo {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

enum class EntryType { File, Directory, Link, Other };

struct DirEntry {
  std::wstring name;
  EntryType type = EntryType::File;
};

// What pathInfo reports. type and privateToUser describe the entry itself;
// the other fields describe what it leads to, following links.
struct PathInfo {
  EntryType type = EntryType::Other;  // a link is reported as Link
  // For a link: the kind of its final target (Other when the link is
  // broken); otherwise equal to type.
  EntryType linkedType = EntryType::Other;
  // Identifies the volume (file system) the final target lies on; two paths
  // with equal values can be renamed into each other.
  uint64_t volume = 0;
  uint64_t size = 0;  // bytes of a file
  // A folder: this user may create, rename and delete entries in it.
  // Anything else: this user may replace it (it is not read-only).
  bool writable = false;
  // The entry itself is owned by this user and no one else has any access
  // to it (POSIX: owner is the effective user, mode exactly 0700 for a
  // folder or 0600 for a file).
  bool privateToUser = false;
};

struct PlatformOps {
  // Files. openFileRead opens regular files only, without ever blocking;
  // createFile replaces an existing file (truncates it).
  FileHandle (*openFileRead)(const std::wstring& path);
  FileHandle (*createFile)(const std::wstring& path);
  // Creates a file that must not exist yet: fails when anything, a link
  // included, is at path; never writes through a link.
  FileHandle (*createNewFile)(const std::wstring& path);
  // Writes all bytes or fails.
  bool (*writeFile)(FileHandle file, const void* data, size_t size);
  // Reads up to size bytes; got = 0 at the end of the file.
  bool (*readFile)(FileHandle file, void* data, size_t size, size_t& got);
  // Reads up to size bytes at offset without moving the file position, so
  // several readers may share one handle; got < size only at the end.
  bool (*readFileAt)(FileHandle file, uint64_t offset, void* data, size_t size, size_t& got);
  bool (*fileSize)(FileHandle file, uint64_t& size);
  bool (*flushFile)(FileHandle file);
  void (*closeFile)(FileHandle file);
  bool (*deleteFile)(const std::wstring& path);

  // Folders. createDirectory sets alreadyExists when the path exists already
  // (as anything), which the caller may count as success.
  bool (*createDirectory)(const std::wstring& path, bool& alreadyExists);
  // Creates a folder that must not exist yet (fails when anything, a link
  // included, is at path) and that only this user can enter, list or change.
  bool (*createPrivateDirectory)(const std::wstring& path);
  // Callers remove a folder only after its entries, so "not empty" then is
  // a deleted entry that another program still holds open (FAT, shares and
  // older Windows keep its name until then): waited for as a held file.
  bool (*removeDirectory)(const std::wstring& path);
  // Lists a folder without "." and ".."; links are reported as links, never
  // followed. Fails when path itself is a link.
  bool (*listDirectory)(const std::wstring& path, std::vector<DirEntry>& entries);
  // Both look at the entry itself: a link exists (even when broken) and is
  // not a directory.
  bool (*pathExists)(const std::wstring& path);
  bool (*isDirectory)(const std::wstring& path);
  // False when nothing is at path (or it cannot be looked at).
  bool (*pathInfo)(const std::wstring& path, PathInfo& info);
  // Renames within a volume, replacing an existing file at the target.
  bool (*moveReplace)(const std::wstring& from, const std::wstring& to);
  // moveReplace that tells one refusal apart: otherVolume is set when from
  // and to lie on different volumes after all (two volumes sharing a serial
  // number, one file system mounted at two places), which only a copy
  // bridges.
  bool (*renameReplace)(const std::wstring& from, const std::wstring& to, bool& otherVolume);
  bool (*flushDirectory)(const std::wstring& path);
  // Bytes available to this user on the volume holding path (or its nearest
  // existing parent).
  bool (*freeSpace)(const std::wstring& path, uint64_t& bytes);
  // Where the volume that freeSpace measures for path is mounted (the same
  // nearest existing parent); empty when it cannot be told.
  std::wstring (*mountPoint)(const std::wstring& path);

  // Process and environment.
  std::wstring (*tempFolder)();
  bool (*getEnvironment)(const std::wstring& name, std::wstring& value);
  std::wstring (*executablePath)();
  // The running executable's bytes, mapped read-only for the life of the
  // process; empty when it cannot be mapped.
  ByteView (*executableImage)();
  uint32_t (*tickCount)();
  uint32_t (*processId)();
  // False only when surely no process with that id runs.
  bool (*processExists)(uint32_t pid);
  void (*sleepMs)(uint32_t ms);
  // Installed memory in bytes; 0 when unknown.
  uint64_t (*physicalMemory)();

  // Takes the lock file at path for this process, creating it; fails at once
  // when another process holds it. unlockFile deletes the file and lets go;
  // a process that ends lets go of its locks too.
  FileHandle (*lockFile)(const std::wstring& path);
  void (*unlockFile)(FileHandle lock, const std::wstring& path);
  // Marks a file hidden where the system shows such files apart (Windows);
  // elsewhere a name that starts with "." is hidden already.
  bool (*hideFile)(const std::wstring& path);
  // Lists the folder that path leads to, through a link at path itself;
  // entries inside are reported as listDirectory reports them.
  bool (*listLinkedDirectory)(const std::wstring& path, std::vector<DirEntry>& entries);
  // A relative (or drive-relative) path resolved against the current folder
  // as the system itself resolves it; a full path comes back unchanged.
  std::wstring (*fullPath)(const std::wstring& path);
  // The longest file and folder paths, in characters, that the system
  // accepts; false when it sets no limit worth checking beforehand.
  bool (*pathLengthLimits)(size_t& fileLimit, size_t& folderLimit);
};

// The operations in force.
const PlatformOps& platform();

// The native operations of this build.
const PlatformOps& nativePlatform();

// Replaces the operations in force for the life of the object (tests only;
// set up before any worker thread starts).
class ScopedPlatformOverride {
 public:
  explicit ScopedPlatformOverride(const PlatformOps& ops);
  // The table is kept by address, so it must outlive the override.
  explicit ScopedPlatformOverride(const PlatformOps&& ops) = delete;
  ~ScopedPlatformOverride();
  ScopedPlatformOverride(const ScopedPlatformOverride&) = delete;
  ScopedPlatformOverride& operator=(const ScopedPlatformOverride&) = delete;

 private:
  const PlatformOps* previous_;
};

// The native path separator and the length of a drive root ("C:\" on
// Windows, "/" elsewhere).
#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
constexpr size_t kRootPrefixLength = 3;
#else
constexpr wchar_t kPathSeparator = L'/';
constexpr size_t kRootPrefixLength = 1;
#endif

// Windows takes a forward slash as a separator too, wherever a user typed
// one; paths are still joined with the native one.
constexpr bool isPathSeparator(wchar_t c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == L'/';
#endif
}

// The length of path's root, which no folder operation creates, by the
// rules of Windows: "X:\" (3), "\\server\share\" (through the separator
// after the share name, or the whole path when it ends there), the same
// behind "\\?\" or "\\?\UNC\", "X:" (2, drive-relative), a lone leading
// separator (1); 0 for a relative path.
size_t windowsRootLength(const std::wstring& path);
// The native rules: windowsRootLength on Windows, 1 for "/..." elsewhere.
size_t rootLength(const std::wstring& path);

// folder + separator + name; a folder that ends in a separator (a drive
// root) gets no second one.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);
// A relative path as the pack writes it (backslashes) in native form.
std::wstring nativeRelativePath(const std::wstring& packPath);
// The path up to, not including, its last separator.
std::wstring parentFolder(const std::wstring& path);

// The program's arguments as the platform's shell split them, the program
// first: UTF-8 argv on POSIX, the wide command line on Windows.
std::vector<std::wstring> processArguments(int argc, char** argv);

// The volume whose free space a destination shows ("C:\" of
// "C:\Games\VELMO"; the path itself elsewhere) and the label naming it
// ("C:"; the mount point of its volume elsewhere).
std::wstring volumeRoot(const std::wstring& path);
std::wstring volumeLabel(const std::wstring& root);
// The Windows rules of both, on every build: "C:\" and "C:",
// "\\server\share\" and "\\server\share".
std::wstring windowsVolumeRoot(const std::wstring& path);
std::wstring windowsVolumeLabel(const std::wstring& root);

// How long the operations on files that other programs hold for a moment
// (a virus scanner, the search indexer, a sync client) are tried again: per
// call, or shared by every call of a HeldFileRetryPhase.
constexpr uint32_t kHeldFileRetryMs = 5000;
// Runs attempt until it succeeds or fails other than by such a hold (attempt
// sets held), pausing a little longer each time, while the budget lasts; a
// stop of the current phase ends the waiting at once. The result is the
// last attempt's.
bool retryWhileHeld(const std::function<bool(bool& held)>& attempt);

// One phase of a job (preparing, building, moving, cleaning up): its retries
// share one budget of kHeldFileRetryMs, so a tree of many held entries waits
// no longer than one, and stop (a cancel flag, or nullptr) ends any of its
// waits. Process-wide, for the job's threads; a phase opened inside another
// stands in for it until it ends.
class HeldFileRetryPhase {
 public:
  explicit HeldFileRetryPhase(const std::atomic<bool>* stop);
  ~HeldFileRetryPhase();
  HeldFileRetryPhase(const HeldFileRetryPhase&) = delete;
  HeldFileRetryPhase& operator=(const HeldFileRetryPhase&) = delete;
  // Whether a phase is open (else every call has a budget of its own).
  static bool open();

 private:
  bool wasOpen_;
  const std::atomic<bool>* stop_;
  uint32_t spent_;
};

// Windows file attributes and reparse tags, read apart from the system's
// headers so that their meaning is tested on every build.
constexpr uint32_t kWinAttributeReadOnly = 0x1;
constexpr uint32_t kWinAttributeDirectory = 0x10;
constexpr uint32_t kWinAttributeDevice = 0x40;
constexpr uint32_t kWinAttributeReparsePoint = 0x400;
constexpr uint32_t kWinInvalidAttributes = 0xFFFFFFFF;
// What an entry is, from its attributes and (for a reparse point) its tag.
// Only name surrogates (symbolic links, junctions, mount points) stand for
// another entry; any other reparse point (a cloud-synced placeholder, a
// compressed or deduplicated file) is the file or folder it is.
EntryType windowsEntryType(uint32_t attributes, uint32_t reparseTag);
// A link to a folder (a junction, a directory symbolic link): an entry that
// DeleteFileW refuses and RemoveDirectoryW removes as itself, never
// touching what it leads to.
bool windowsFolderLink(uint32_t attributes, uint32_t reparseTag);

// How a Windows file call that failed is taken, from its error, the NT
// status behind it (0 when unknown) and the attributes of the entry it
// would change (kWinInvalidAttributes when unknown); wantsFile when the call
// is meant for a file.
enum class WindowsRefusal {
  Final,          // retrying cannot help: fail now
  Held,           // another program holds the entry for a moment
  DeletePending,  // the entry is deleted already and goes once let go
};
WindowsRefusal classifyWindowsRefusal(uint32_t error, uint32_t ntStatus, uint32_t attributes, bool wantsFile);

// Convenience: reads a whole file; false when it cannot be opened or read.
bool readWholeFile(const std::wstring& path, Bytes& out);
// Creates (replacing) a file with the given bytes; deletes it on a failed write.
bool writeWholeFile(const std::wstring& path, ByteView bytes);

}  // namespace velmo
