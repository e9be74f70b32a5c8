#pragma once
// Read-only access to zip archives (the XAPK and its inner APK and OBB) on
// top of libzip, with the guarantees the rest of the patcher relies on:
// names are the raw bytes of the central directory, lookup folds only ASCII
// letters, and every extraction proves its length and CRC-32 itself instead
// of trusting what the archive claims.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/bytes.h"
#include "common/progress.h"
#include "platform/platform.h"

struct zip;  // libzip's archive handle (zip_t)

namespace velmo {

// Bytes handed to a write callback at a time; also the granularity at which
// a cancel request takes effect.
constexpr size_t kZipChunkSize = size_t(1) << 20;

// Receives an entry's data in order, chunk by chunk. `offset` is where the
// chunk starts inside the entry. Returning fewer than `size` abandons the
// entry and makes the extraction fail.
using ZipWriteCallback = size_t (*)(void* opaque, uint64_t offset, const void* data, size_t size);

// Why the last extraction failed, for callers that word their messages by
// cause.
enum class ZipError {
  None,
  NotOpen,       // the reader holds no archive
  NoEntry,       // the index is out of range
  Unreadable,    // stat, entry open, decompression or I/O failed
  TooLarge,      // the recorded size is above the caller's cap
  DataMismatch,  // the data's length or CRC-32 differs from the recorded ones
  Rejected,      // the write callback consumed fewer bytes than given
};

// What the central directory records for one entry.
struct ZipEntryStat {
  std::string name;  // raw bytes as stored; UTF-8 in well-formed archives
  uint32_t crc32 = 0;
  uint64_t uncompressedSize = 0;
  uint64_t compressedSize = 0;
  uint16_t method = 0;  // 0 stored, 8 deflated, ...
};

// One opened zip archive. The file (or an owned copy of the memory image)
// belongs to libzip's source while the reader is open.
struct ZipReader {
  zip* archive = nullptr;  // null while closed
  bool isOpen = false;
  ZipError lastError = ZipError::None;  // set by the extract operations

  // Central-directory names with ASCII letters folded to lower case, mapped
  // to the first entry that carries them.
  std::unordered_map<std::string, int64_t> foldedNames;
  uint64_t entries = 0;
  Bytes memory;  // the archive image when opened from memory

  ZipReader() = default;
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Closes whatever was open, then opens the archive at `path` (read-only).
  // A file too short to hold an end-of-central-directory record is refused,
  // so an empty file is not taken for an empty archive.
  bool open(const std::wstring& path);
  // Same over `length` bytes of the file from `offset` (clipped to the file):
  // an archive stored inside another one, read in place.
  bool openRange(const std::wstring& path, uint64_t offset, uint64_t length);
  // Same over entry `index` of the open archive `outer`, which must be stored
  // (not compressed): read in place through outer, which must stay open
  // longer than this reader. Fails for a compressed entry.
  bool openStoredEntry(ZipReader& outer, uint64_t index);
  // Same over a copy of `image`, for tests and fuzzing.
  bool openMemory(ByteView image);
  // Safe on a closed reader.
  void close();

  // Number of entries in the central directory; 0 while closed.
  uint64_t entryCount() const;
  bool stat(uint64_t index, ZipEntryStat& out) const;
  // Index of the first entry whose full path equals `name` (converted to
  // UTF-8), ASCII letters compared without case and every other byte exactly;
  // -1 when nothing matches or the reader is closed.
  int64_t locate(const std::wstring& name) const;
  int64_t locateUtf8(std::string_view name) const;

  // Streams the entry through `callback` in chunks of at most kZipChunkSize.
  // Fails when the callback rejects a chunk, when the data would run past the
  // recorded size (the excess is never handed over), ends short of it, or
  // has a CRC-32 other than the recorded one.
  bool extractToCallback(uint64_t index, ZipWriteCallback callback, void* opaque);
  // Reads the whole entry into `out`, sized once to the recorded size; a
  // recorded size above `maxSize` fails before anything is allocated. The
  // same length and CRC-32 checks apply; `out`'s content is unspecified
  // after a failure.
  bool extractToMemory(uint64_t index, uint64_t maxSize, Bytes& out);
};

// The state the write callback below works on while an entry is streamed
// into a file.
struct ExtractSink {
  FileHandle file = kInvalidFile;  // the open destination
  uint32_t crc = 0;           // running CRC-32 of the bytes written
  uint64_t written = 0;       // bytes written so far
  uint64_t expectedSize = 0;  // carried for the caller; the callback ignores it
  ProgressFn progress;        // told of every chunk before it is written; may be empty
  bool stopped = false;       // set when progress asked to stop
  bool writeFailed = false;   // set when the destination refused a chunk (a full disk, a size limit)
};

// ZipWriteCallback over an ExtractSink: returns 0 (abandoning the entry) when
// progress asks to stop or the write fails (noting `writeFailed`), else
// writes the chunk, folds it into `crc` and `written` and returns its size.
size_t extractSinkWrite(void* opaque, uint64_t offset, const void* data, size_t size);

}  // namespace velmo
