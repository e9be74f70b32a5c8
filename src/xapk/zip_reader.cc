#include "xapk/zip_reader.h"

#include <zip.h>

#include <algorithm>
#include <memory>

#include "common/crc32.h"
#include "common/utf8.h"

namespace velmo {
namespace {

// The smallest zip is a bare end-of-central-directory record.
constexpr uint64_t kMinArchiveSize = 22;

std::string foldAscii(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return folded;
}

// libzip reports a failed end-of-entry CRC or length check as these codes;
// they mean the data differs from what the directory records, not that it
// could not be read.
ZipError classifyReadError(zip_file_t* file) {
  int code = zip_error_code_zip(zip_file_get_error(file));
  return (code == ZIP_ER_CRC || code == ZIP_ER_INCONS) ? ZipError::DataMismatch : ZipError::Unreadable;
}

struct EntryCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

// A byte range of an open platform file, read as libzip's source. Reads are
// positional, so the handle's own position never matters.
struct FileWindow {
  FileHandle file;
  uint64_t offset;
  uint64_t length;
  uint64_t position = 0;
  zip_error_t error{};
};

zip_int64_t fileWindowCallback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* w = static_cast<FileWindow*>(state);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      w->position = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      uint64_t want = std::min<uint64_t>(len, w->length - w->position);
      size_t got = 0;
      if (want > 0 && !platform().readFileAt(w->file, w->offset + w->position, data, size_t(want), got)) {
        zip_error_set(&w->error, ZIP_ER_READ, 0);
        return -1;
      }
      w->position += got;
      return zip_int64_t(got);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->size = w->length;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&w->error, data, len);
    case ZIP_SOURCE_SEEK: {
      zip_int64_t to = zip_source_seek_compute_offset(w->position, w->length, data, len, &w->error);
      if (to < 0) return -1;
      w->position = uint64_t(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return zip_int64_t(w->position);
    case ZIP_SOURCE_FREE:
      platform().closeFile(w->file);
      zip_error_fini(&w->error);
      delete w;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_FREE,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&w->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

bool finishOpen(ZipReader& reader, zip_source_t* source) {
  zip_error_t error;
  zip_error_init(&error);
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);
    return false;
  }
  zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0) {
    zip_discard(archive);
    return false;
  }
  reader.archive = archive;
  reader.entries = uint64_t(count);
  reader.foldedNames.reserve(size_t(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    // Raw bytes: no guessing of CP437 and no re-encoding.
    const char* name = zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_RAW);
    if (name) reader.foldedNames.emplace(foldAscii(name), i);  // keeps the first
  }
  reader.isOpen = true;
  return true;
}

}  // namespace

ZipReader::~ZipReader() { close(); }

void ZipReader::close() {
  if (archive) zip_discard(archive);  // also closes the file of the source
  archive = nullptr;
  isOpen = false;
  foldedNames.clear();
  entries = 0;
  memory.clear();
  memory.shrink_to_fit();
}

bool ZipReader::open(const std::wstring& path) { return openRange(path, 0, UINT64_MAX); }

bool ZipReader::openRange(const std::wstring& path, uint64_t offset, uint64_t length) {
  close();
  const PlatformOps& os = platform();
  FileHandle file = os.openFileRead(path);
  if (file == kInvalidFile) return false;
  uint64_t fileBytes = 0;
  if (!os.fileSize(file, fileBytes) || offset > fileBytes) {
    os.closeFile(file);
    return false;
  }
  length = std::min(length, fileBytes - offset);
  if (length < kMinArchiveSize) {
    os.closeFile(file);
    return false;
  }
  auto* window = new FileWindow{file, offset, length};
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(fileWindowCallback, window, &error);
  zip_error_fini(&error);
  if (!source) {
    os.closeFile(file);
    delete window;
    return false;
  }
  return finishOpen(*this, source);  // the source owns the window from here
}

bool ZipReader::openStoredEntry(ZipReader& outer, uint64_t index) {
  close();
  ZipEntryStat st;
  if (&outer == this || !outer.stat(index, st) || st.method != ZIP_CM_STORE || st.compressedSize != st.uncompressedSize ||
      st.uncompressedSize < kMinArchiveSize) {
    return false;
  }
  // libzip checks the entry's local header and reads the stored bytes as a
  // seekable window of the outer archive's source.
  zip_source_t* source = zip_source_zip(outer.archive, outer.archive, index, 0, 0, -1);
  return source && finishOpen(*this, source);
}

bool ZipReader::openMemory(ByteView image) {
  close();
  if (image.size() < kMinArchiveSize) return false;
  memory.assign(image.begin(), image.end());
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(memory.data(), memory.size(), 0, &error);
  zip_error_fini(&error);
  if (!source || !finishOpen(*this, source)) {
    memory.clear();
    return false;
  }
  return true;
}

uint64_t ZipReader::entryCount() const { return isOpen ? entries : 0; }

bool ZipReader::stat(uint64_t index, ZipEntryStat& out) const {
  if (!isOpen || index >= entries) return false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive, index, ZIP_FL_ENC_RAW, &st) != 0) return false;
  constexpr zip_uint64_t kNeeded = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_CRC;
  if ((st.valid & kNeeded) != kNeeded || !st.name) return false;
  out.name = st.name;
  out.crc32 = st.crc;
  out.uncompressedSize = st.size;
  out.compressedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
  out.method = (st.valid & ZIP_STAT_COMP_METHOD) ? uint16_t(st.comp_method) : 0;
  return true;
}

int64_t ZipReader::locate(const std::wstring& name) const { return locateUtf8(toUtf8(name)); }

int64_t ZipReader::locateUtf8(std::string_view name) const {
  if (!isOpen) return -1;
  auto it = foldedNames.find(foldAscii(name));
  return it == foldedNames.end() ? -1 : it->second;
}

bool ZipReader::extractToCallback(uint64_t index, ZipWriteCallback callback, void* opaque) {
  lastError = ZipError::None;
  if (!isOpen) return lastError = ZipError::NotOpen, false;
  if (index >= entries) return lastError = ZipError::NoEntry, false;
  ZipEntryStat st;
  if (!stat(index, st)) return lastError = ZipError::Unreadable, false;
  EntryHandle file(zip_fopen_index(archive, index, 0));
  if (!file) return lastError = ZipError::Unreadable, false;

  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kZipChunkSize]);
  uint64_t done = 0;
  uint32_t crc = 0;
  // Reads on past the recorded size so that surplus data is noticed (and
  // libzip runs its own end-of-entry checks), but never hands surplus over.
  for (;;) {
    zip_int64_t got = zip_fread(file.get(), buffer.get(), kZipChunkSize);
    if (got < 0) return lastError = classifyReadError(file.get()), false;
    if (got == 0) break;
    if (uint64_t(got) > st.uncompressedSize - done) return lastError = ZipError::DataMismatch, false;
    if (callback(opaque, done, buffer.get(), size_t(got)) != size_t(got)) {
      return lastError = ZipError::Rejected, false;
    }
    crc = crc32Update(crc, buffer.get(), size_t(got));
    done += uint64_t(got);
  }
  if (done != st.uncompressedSize || crc != st.crc32) return lastError = ZipError::DataMismatch, false;
  return true;
}

bool ZipReader::extractToMemory(uint64_t index, uint64_t maxSize, Bytes& out) {
  lastError = ZipError::None;
  if (!isOpen) return lastError = ZipError::NotOpen, false;
  if (index >= entries) return lastError = ZipError::NoEntry, false;
  ZipEntryStat st;
  if (!stat(index, st)) return lastError = ZipError::Unreadable, false;
  if (st.uncompressedSize > maxSize || st.uncompressedSize > out.max_size()) {
    return lastError = ZipError::TooLarge, false;
  }
  EntryHandle file(zip_fopen_index(archive, index, 0));
  if (!file) return lastError = ZipError::Unreadable, false;

  out.clear();
  out.resize(size_t(st.uncompressedSize));
  uint64_t done = 0;
  while (done < st.uncompressedSize) {
    uint64_t want = std::min<uint64_t>(st.uncompressedSize - done, kZipChunkSize);
    zip_int64_t got = zip_fread(file.get(), out.data() + done, want);
    if (got < 0) return lastError = classifyReadError(file.get()), false;
    if (got == 0) return lastError = ZipError::DataMismatch, false;  // ended short
    done += uint64_t(got);
  }
  // One more read must find the end: surplus data fails, and reaching the end
  // lets libzip finish its own checks.
  uint8_t probe[64];
  zip_int64_t extra = zip_fread(file.get(), probe, sizeof probe);
  if (extra < 0) return lastError = classifyReadError(file.get()), false;
  if (extra > 0) return lastError = ZipError::DataMismatch, false;
  if (crc32Update(0, out.data(), out.size()) != st.crc32) return lastError = ZipError::DataMismatch, false;
  return true;
}

size_t extractSinkWrite(void* opaque, uint64_t /*offset*/, const void* data, size_t size) {
  auto* sink = static_cast<ExtractSink*>(opaque);
  if (!keepGoing(sink->progress, size)) {
    sink->stopped = true;
    return 0;
  }
  if (sink->file == kInvalidFile || !platform().writeFile(sink->file, data, size)) {
    sink->writeFailed = true;
    return 0;
  }
  sink->crc = crc32Update(sink->crc, data, size);
  sink->written += size;
  return size;
}

}  // namespace velmo
