#include "support/zip_builder.h"

#include <zip.h>

#include <cstdio>
#include <memory>

#include "common/crc32.h"

namespace velmo {
namespace {

constexpr uint32_t kLocalMagic = 0x04034b50;
constexpr uint32_t kCentralMagic = 0x02014b50;
constexpr uint32_t kEndMagic = 0x06054b50;
constexpr uint32_t kEnd64Magic = 0x06064b50;
constexpr uint32_t kLocator64Magic = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kMax32 = 0xFFFFFFFF;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool fits32(uint64_t v) { return v < kMax32; }

}  // namespace

bool writeZip(const std::string& path, const std::vector<ZipBuilderEntry>& entries) {
  int errorCode = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &errorCode);
  if (!archive) return false;
  for (const ZipBuilderEntry& entry : entries) {
    // The entries outlive zip_close, so libzip may read them in place.
    zip_source_t* source = zip_source_buffer(archive, entry.bytes.data(), entry.bytes.size(), 0);
    if (!source) return zip_discard(archive), false;
    zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return zip_discard(archive), false;
    }
    if (zip_set_file_compression(archive, zip_uint64_t(index), entry.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) != 0) {
      return zip_discard(archive), false;
    }
  }
  if (zip_close(archive) != 0) return zip_discard(archive), false;
  return true;
}

bool deflateForZip(const Bytes& input, Bytes& out) {
  // libzip has the only deflate encoder we link: build a one-entry archive in
  // memory and read the entry back still compressed.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_error_fini(&error);
  if (!buffer) return false;
  zip_source_keep(buffer);
  std::unique_ptr<zip_source_t, decltype(&zip_source_free)> holder(buffer, &zip_source_free);
  zip_error_init(&error);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  zip_error_fini(&error);
  if (!archive) return false;
  zip_source_t* data = zip_source_buffer(archive, input.data(), input.size(), 0);
  zip_int64_t index = data ? zip_file_add(archive, "x", data, 0) : -1;
  if (index < 0) {
    if (data) zip_source_free(data);
    return zip_discard(archive), false;
  }
  if (zip_set_file_compression(archive, 0, ZIP_CM_DEFLATE, 9) != 0) return zip_discard(archive), false;
  if (zip_close(archive) != 0) return zip_discard(archive), false;

  zip_error_init(&error);
  archive = zip_open_from_source(buffer, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (!archive) return false;
  zip_source_keep(buffer);  // zip_discard below would free it otherwise
  zip_stat_t st;
  bool ok = zip_stat_index(archive, 0, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_SIZE) &&
            (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_DEFLATE;
  if (ok) {
    zip_file_t* file = zip_fopen_index(archive, 0, ZIP_FL_COMPRESSED);
    ok = file != nullptr;
    if (ok) {
      out.assign(size_t(st.comp_size), 0);
      zip_int64_t got = out.empty() ? 0 : zip_fread(file, out.data(), out.size());
      ok = got == zip_int64_t(out.size());
      zip_fclose(file);
    }
  }
  zip_discard(archive);
  return ok;
}

bool makeRawZipEntry(const std::string& name, const Bytes& bytes, bool store, RawZipEntry& out) {
  out = RawZipEntry{};
  out.name = name;
  out.crc32 = crc32Update(0, bytes.data(), bytes.size());
  out.uncompressedSize = bytes.size();
  if (store) {
    out.method = 0;
    out.data = bytes;
    return true;
  }
  out.method = 8;
  return deflateForZip(bytes, out.data);
}

bool writeRawZip(const std::string& path, const std::vector<RawZipEntry>& entries, bool zip64) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  uint64_t pos = 0;
  auto put = [&](const Bytes& bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
    pos += bytes.size();
    return true;
  };
  const uint16_t version = zip64 ? 45 : 20;

  std::vector<uint64_t> offsets;
  for (const RawZipEntry& e : entries) {
    if (e.gapBefore) {
#ifdef _WIN32
      if (_fseeki64(file.get(), int64_t(pos + e.gapBefore), SEEK_SET) != 0) return false;
#else
      if (fseeko(file.get(), off_t(pos + e.gapBefore), SEEK_SET) != 0) return false;
#endif
      pos += e.gapBefore;
    }
    offsets.push_back(pos);
    if (!zip64 && (!fits32(e.uncompressedSize) || !fits32(e.data.size()) || !fits32(pos))) return false;
    Bytes header;
    appendLe32(header, kLocalMagic);
    appendLe16(header, version);
    appendLe16(header, e.flags);
    appendLe16(header, e.method);
    appendLe16(header, 0);       // time
    appendLe16(header, 0x21);    // date: 1980-01-01
    appendLe32(header, e.crc32);
    appendLe32(header, zip64 ? kMax32 : uint32_t(e.data.size()));
    appendLe32(header, zip64 ? kMax32 : uint32_t(e.uncompressedSize));
    appendLe16(header, uint16_t(e.name.size()));
    appendLe16(header, zip64 ? 20 : 0);
    header.insert(header.end(), e.name.begin(), e.name.end());
    if (zip64) {
      appendLe16(header, kZip64ExtraId);
      appendLe16(header, 16);
      appendLe64(header, e.uncompressedSize);
      appendLe64(header, e.data.size());
    }
    if (!put(header) || !put(e.data)) return false;
  }

  const uint64_t centralStart = pos;
  for (size_t i = 0; i < entries.size(); ++i) {
    const RawZipEntry& e = entries[i];
    Bytes header;
    appendLe32(header, kCentralMagic);
    appendLe16(header, version);  // made by
    appendLe16(header, version);  // needed
    appendLe16(header, e.flags);
    appendLe16(header, e.method);
    appendLe16(header, 0);
    appendLe16(header, 0x21);
    appendLe32(header, e.crc32);
    appendLe32(header, zip64 ? kMax32 : uint32_t(e.data.size()));
    appendLe32(header, zip64 ? kMax32 : uint32_t(e.uncompressedSize));
    appendLe16(header, uint16_t(e.name.size()));
    appendLe16(header, zip64 ? 28 : 0);
    appendLe16(header, 0);  // comment
    appendLe16(header, 0);  // disk
    appendLe16(header, 0);  // internal attributes
    appendLe32(header, 0);  // external attributes
    appendLe32(header, zip64 ? kMax32 : uint32_t(offsets[i]));
    header.insert(header.end(), e.name.begin(), e.name.end());
    if (zip64) {
      appendLe16(header, kZip64ExtraId);
      appendLe16(header, 24);
      appendLe64(header, e.uncompressedSize);
      appendLe64(header, e.data.size());
      appendLe64(header, offsets[i]);
    }
    if (!put(header)) return false;
  }
  const uint64_t centralSize = pos - centralStart;
  const uint64_t count = entries.size();

  Bytes tail;
  if (zip64) {
    const uint64_t end64 = pos;
    appendLe32(tail, kEnd64Magic);
    appendLe64(tail, 44);  // size of the rest of this record
    appendLe16(tail, 45);
    appendLe16(tail, 45);
    appendLe32(tail, 0);  // this disk
    appendLe32(tail, 0);  // disk with the central directory
    appendLe64(tail, count);
    appendLe64(tail, count);
    appendLe64(tail, centralSize);
    appendLe64(tail, centralStart);
    appendLe32(tail, kLocator64Magic);
    appendLe32(tail, 0);
    appendLe64(tail, end64);
    appendLe32(tail, 1);  // total disks
  } else if (count > 0xFFFF || !fits32(centralSize) || !fits32(centralStart)) {
    return false;
  }
  appendLe32(tail, kEndMagic);
  appendLe16(tail, 0);
  appendLe16(tail, 0);
  appendLe16(tail, zip64 ? 0xFFFF : uint16_t(count));
  appendLe16(tail, zip64 ? 0xFFFF : uint16_t(count));
  appendLe32(tail, zip64 ? kMax32 : uint32_t(centralSize));
  appendLe32(tail, zip64 ? kMax32 : uint32_t(centralStart));
  appendLe16(tail, 0);
  if (!put(tail)) return false;
  return std::fflush(file.get()) == 0;
}

}  // namespace velmo
