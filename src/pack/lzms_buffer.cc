#include "pack/lzms_buffer.h"

#ifdef _WIN32
#include <windows.h>
#include <compressapi.h>
#else
#include <wimlib.h>
#endif

#include <algorithm>
#include <cstring>

#include "common/crc32.h"
#include "pack/lzms_encode.h"

namespace velmo {
namespace {

#ifndef _WIN32
struct CompressorHandle {
  wimlib_compressor* handle = nullptr;
  ~CompressorHandle() { wimlib_free_compressor(handle); }
};
#endif

bool decodeChunk(LzmsDecoder& decoder, size_t chunkSize, ByteView stored, std::span<uint8_t> target) {
  if (decoder.coder == LzmsCoder::Own) {
    if (!decoder.workspace) decoder.workspace = lzmsNewWorkspace();
    return lzmsDecodeBlock(*decoder.workspace, stored, target);
  }
#ifdef _WIN32
  return false;
#else
  if (decoder.coder != LzmsCoder::Wimlib) return false;
  // The decompressor is sized for the chunk size; buffers of one operation
  // normally share it, so it is only rebuilt when the size changes.
  if (decoder.handle == nullptr) {
    wimlib_decompressor* handle = nullptr;
    if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunkSize, &handle) != 0) return false;
    decoder.handle = handle;
  }
  return wimlib_decompress(stored.data(), stored.size(), target.data(), target.size(),
                           static_cast<wimlib_decompressor*>(decoder.handle)) == 0;
#endif
}

// Drops a wimlib decompressor made for another chunk size.
void useChunkSize(LzmsDecoder& decoder, size_t chunkSize) {
  if (decoder.handleChunkSize == chunkSize) return;
#ifndef _WIN32
  if (decoder.coder == LzmsCoder::Wimlib) {
    wimlib_free_decompressor(static_cast<wimlib_decompressor*>(decoder.handle));
    decoder.handle = nullptr;
  }
#endif
  decoder.handleChunkSize = chunkSize;
}

#ifdef _WIN32
bool underWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The Compression API reads its own buffer format whole; the header is
// checked first so that every coder refuses the same malformed headers.
bool decodeWithCompressionApi(LzmsDecoder& decoder, ByteView packed, std::span<uint8_t> out) {
  if (decoder.handle == nullptr) {
    DECOMPRESSOR_HANDLE handle = nullptr;
    if (!CreateDecompressor(COMPRESS_ALGORITHM_LZMS, nullptr, &handle)) return false;
    decoder.handle = handle;
  }
  SIZE_T produced = 0;
  return Decompress(static_cast<DECOMPRESSOR_HANDLE>(decoder.handle), const_cast<uint8_t*>(packed.data()),
                    packed.size(), out.data(), out.size(), &produced) &&
         produced == out.size();
}

bool encodeWithCompressionApi(ByteView raw, Bytes& packed) {
  COMPRESSOR_HANDLE compressor = nullptr;
  if (!CreateCompressor(COMPRESS_ALGORITHM_LZMS, nullptr, &compressor)) return false;
  // A first call without a buffer asks for the size the buffer needs.
  SIZE_T size = 0;
  void* input = const_cast<uint8_t*>(raw.data());
  bool ok = Compress(compressor, input, raw.size(), nullptr, 0, &size) ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  if (ok) {
    packed.resize(size);
    ok = Compress(compressor, input, raw.size(), packed.data(), packed.size(), &size);
  }
  CloseCompressor(compressor);
  packed.resize(ok ? size : 0);
  return ok;
}
#endif

}  // namespace

LzmsCoder lzmsSystemCoder() {
  static const LzmsCoder coder = [] {
#ifdef _WIN32
    return underWine() ? LzmsCoder::Own : LzmsCoder::CompressionApi;
#else
    return LzmsCoder::Wimlib;
#endif
  }();
  return coder;
}

LzmsDecoder::~LzmsDecoder() {
  if (!handle) return;
#ifdef _WIN32
  CloseDecompressor(static_cast<DECOMPRESSOR_HANDLE>(handle));
#else
  wimlib_free_decompressor(static_cast<wimlib_decompressor*>(handle));
#endif
}

bool lzmsReadHeader(ByteView packed, LzmsBufferHeader& header) {
  if (packed.size() < kLzmsHeaderSize) return false;
  const uint8_t* p = packed.data();
  if (std::memcmp(p, kLzmsMagic, sizeof kLzmsMagic) != 0) return false;
  uint16_t headerSize = readLe16(p + 4);
  if (headerSize < kLzmsHeaderSize || headerSize > packed.size()) return false;
  if (p[7] != kLzmsAlgorithm) return false;
  // Bit 0 would select a record layout the compressor never writes; no other
  // bit has a known meaning, so anything but 0 is refused.
  if (readLe32(p + 20) != 0) return false;
  header.headerSize = headerSize;
  header.uncompressedSize = readLe64(p + 8);
  header.chunkSize = readLe32(p + 16);
  return true;
}

bool lzmsBufferRawSize(ByteView packed, uint64_t& size) {
  LzmsBufferHeader header;
  if (!lzmsReadHeader(packed, header)) return false;
  size = header.uncompressedSize;
  return true;
}

uint8_t lzmsHeaderCheckByte(ByteView packed) {
  if (packed.size() < 7) return 0;
  size_t end = std::min<size_t>(readLe16(packed.data() + 4), packed.size());
  uint32_t crc = crc32Update(0, packed.data(), 6);
  if (end > 7) crc = crc32Update(crc, packed.data() + 7, end - 7);
  return uint8_t(crc);
}

bool lzmsDecodeBuffer(LzmsDecoder& decoder, ByteView packed, std::span<uint8_t> out) {
  LzmsBufferHeader header;
  if (!lzmsReadHeader(packed, header)) return false;
  if (header.uncompressedSize != out.size()) return false;
  ByteReader reader{packed, header.headerSize};
  if (out.empty()) return reader.remaining() == 0;
  if (header.chunkSize == 0) return false;
  // A chunk never holds more than the whole output, so a hostile chunk size
  // is cut down to that before anything is sized from it.
  size_t chunkSize = size_t(std::min<uint64_t>(header.chunkSize, out.size()));
  if (chunkSize > kLzmsMaxChunkSize) return false;
  useChunkSize(decoder, chunkSize);
#ifdef _WIN32
  if (decoder.coder == LzmsCoder::CompressionApi) return decodeWithCompressionApi(decoder, packed, out);
#endif

  size_t done = 0;
  while (done < out.size()) {
    size_t rawSize = std::min(chunkSize, out.size() - done);
    uint32_t storedSize = 0;
    ByteView stored;
    if (!reader.readU32(storedSize)) return false;
    if (storedSize == 0 || storedSize > rawSize) return false;
    if (!reader.readBytes(storedSize, stored)) return false;
    std::span<uint8_t> target = out.subspan(done, rawSize);
    if (storedSize == rawSize) {
      std::memcpy(target.data(), stored.data(), rawSize);
    } else if (!decodeChunk(decoder, chunkSize, stored, target)) {
      return false;
    }
    done += rawSize;
  }
  return reader.remaining() == 0;
}

bool lzmsEncodeBuffer(ByteView raw, Bytes& packed, LzmsCoder coder) {
  packed.clear();
#ifdef _WIN32
  if (coder == LzmsCoder::CompressionApi) return encodeWithCompressionApi(raw, packed);
  if (coder != LzmsCoder::Own) return false;
#else
  if (coder == LzmsCoder::CompressionApi) return false;
  CompressorHandle compressor;
#endif
  uint32_t chunkSize = uint32_t(std::min<uint64_t>(raw.size(), kLzmsWriteChunkSize));
  packed.reserve(kLzmsHeaderSize + raw.size() + (raw.size() / kLzmsWriteChunkSize + 1) * 4);
  packed.insert(packed.end(), std::begin(kLzmsMagic), std::end(kLzmsMagic));
  appendLe16(packed, uint16_t(kLzmsHeaderSize));
  packed.push_back(0);  // check byte, filled in once the header is complete
  packed.push_back(kLzmsAlgorithm);
  appendLe64(packed, raw.size());
  appendLe32(packed, chunkSize);
  appendLe32(packed, 0);
  packed[6] = lzmsHeaderCheckByte(packed);
  if (raw.empty()) return true;

#ifndef _WIN32
  if (coder == LzmsCoder::Wimlib &&
      wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, chunkSize, 0, &compressor.handle) != 0) {
    packed.clear();
    return false;
  }
#endif
  for (size_t done = 0; done < raw.size(); done += chunkSize) {
    size_t rawSize = std::min<size_t>(chunkSize, raw.size() - done);
    const uint8_t* chunk = raw.data() + done;
    size_t recordAt = packed.size();
    appendLe32(packed, 0);
    size_t dataAt = packed.size();
    // Room for one byte less than the chunk: anything that does not shrink
    // is stored verbatim, which the size field alone tells apart.
    packed.resize(dataAt + rawSize);
    size_t compressed = 0;
    if (rawSize > 1) {
      uint8_t* target = packed.data() + dataAt;
#ifndef _WIN32
      if (coder == LzmsCoder::Wimlib) {
        compressed = wimlib_compress(chunk, rawSize, target, rawSize - 1, compressor.handle);
      } else
#endif
      {
        compressed = lzmsCompressBlock(ByteView(chunk, rawSize), target, rawSize - 1);
      }
    }
    if (compressed == 0) {
      std::memcpy(packed.data() + dataAt, chunk, rawSize);
      compressed = rawSize;
    }
    packed.resize(dataAt + compressed);
    uint8_t* record = packed.data() + recordAt;
    for (int i = 0; i < 4; ++i) record[i] = uint8_t(compressed >> (8 * i));
  }
  return true;
}

}  // namespace velmo
