#pragma once
// The LZMS buffer as the Windows Compression API writes it in buffered mode:
// a 24-byte header, then chunk records [u32 compressed size][bytes], each
// chunk an independent LZMS stream or stored verbatim. Windows decodes and
// writes it through its own Compression API (Cabinet.dll); under Wine, whose
// Compression API has no LZMS, our own coder does; elsewhere wimlib codes the
// chunks.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/bytes.h"
#include "pack/lzms_decode.h"

namespace velmo {

constexpr uint8_t kLzmsMagic[4] = {0x0A, 0x51, 0xE5, 0xC0};
constexpr size_t kLzmsHeaderSize = 24;
constexpr uint8_t kLzmsAlgorithm = 5;
// Chunk size our writer uses (and the one every known buffer uses).
constexpr uint32_t kLzmsWriteChunkSize = 65536;
// Largest chunk wimlib's LZMS coder accepts.
constexpr uint64_t kLzmsMaxChunkSize = uint64_t(1) << 30;

// The header fields that matter for decoding.
struct LzmsBufferHeader {
  uint32_t headerSize = 0;      // offset of the first chunk record
  uint64_t uncompressedSize = 0;
  uint32_t chunkSize = 0;       // as stored; may exceed the uncompressed size
};

// Who codes the LZMS chunks.
enum class LzmsCoder {
  Own,             // lzms_decode / lzms_encode, everywhere
  Wimlib,          // libwim, not on Windows
  CompressionApi,  // Cabinet.dll, Windows only; reads and writes whole buffers
};

// The coder this process uses, decided once on first use: the Compression
// API on Windows, ours under Wine (its ntdll exports wine_get_version; its
// Compression API has no LZMS, and calling it ends the process), wimlib
// elsewhere.
LzmsCoder lzmsSystemCoder();

// One decoder per operation (never shared between threads). It keeps the
// coder's state: the system's decompressor (Windows), a wimlib one for the
// chunk size seen (recreated when the size changes), or our workspace.
struct LzmsDecoder {
  LzmsCoder coder = lzmsSystemCoder();
  void* handle = nullptr;
  size_t handleChunkSize = 0;  // chunk size of the last buffer decoded
  LzmsWorkspacePtr workspace;

  LzmsDecoder() = default;
  LzmsDecoder(const LzmsDecoder&) = delete;
  LzmsDecoder& operator=(const LzmsDecoder&) = delete;
  ~LzmsDecoder();
};

// Reads and checks the header only: magic, header size (at least 24 and
// inside the buffer), algorithm 5, record flags 0. Nothing is allocated.
bool lzmsReadHeader(ByteView packed, LzmsBufferHeader& header);

// The uncompressed size a buffer claims, for callers that do not know it in
// advance. The claim is unverified: bound it before allocating from it.
bool lzmsBufferRawSize(ByteView packed, uint64_t& size);

// Low byte of the CRC-32 over the header with its own byte 6 skipped. Needs
// at least 7 bytes and covers min(header size field, packed.size()) bytes.
uint8_t lzmsHeaderCheckByte(ByteView packed);

// Decodes one buffer into exactly out.size() bytes (the caller's raw size).
// False for anything malformed: a bad header, an uncompressed size other than
// out.size(), a chunk size of 0 (with data) or beyond wimlib's limit, a chunk
// record past the end, a compressed size of 0 or above the chunk's size, a
// chunk wimlib rejects, and any bytes left after the last chunk record (a
// buffer's length is always known exactly, so extra bytes mean damage). The
// header check byte is not verified: it is informational, the pack's digest
// already proves the bytes. On failure out holds unspecified bytes. A coder
// this platform lacks fails.
bool lzmsDecodeBuffer(LzmsDecoder& decoder, ByteView packed, std::span<uint8_t> out);

// Replaces packed with one buffer holding raw: 24-byte header, chunk size
// min(size, 65536), each chunk LZMS-compressed by `coder`, or stored verbatim
// when that does not shrink it. False only when the coder cannot set up (or
// is missing here).
bool lzmsEncodeBuffer(ByteView raw, Bytes& packed, LzmsCoder coder = lzmsSystemCoder());

}  // namespace velmo
