#pragma once
// UnityWeb bundles of stream version 3 with one LZMA level: reading the
// big-endian header, and writing a header of the same shape in front of
// re-encoded LZMA data.
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "patch/lzma_raw.h"

namespace velmo {

// Offset of the LZMA data from the level start: properties byte, LE32
// dictionary size and LE64 decoded size of the LZMA-alone header.
constexpr uint32_t kLzmaAloneHeaderSize = 13;
// The eight BE32 fields that follow the version strings.
constexpr uint32_t kUnityWebFieldsSize = 32;
// The properties byte and dictionary size every rebuilt bundle carries.
constexpr uint8_t kRebuiltLzmaProperties = 0x5D;
constexpr uint32_t kRebuiltLzmaDictionarySize = 0x00800000;

struct UnityWebHeader {
  uint64_t prefixLength = 0;  // just past the NUL of the second version string
  uint32_t headerSize = 0;    // offset of the level data
  uint32_t levelsToDownload = 0;
  uint32_t levelCount = 0;
  uint32_t compressedSize = 0;  // level data including its 13-byte LZMA header
  uint32_t completeFileSize = 0;
  uint32_t fileInfoHeaderSize = 0;
  uint32_t dictionarySize = 0;
  uint32_t lc = 0;
  uint32_t lp = 0;
  uint32_t pb = 0;
};

// What the rebuilt bundle must have, from its pack record.
struct UnityWebTarget {
  uint32_t headerSize = 0;
  uint32_t fileInfoHeaderSize = 0;
  uint64_t targetDecodedSize = 0;
};

// Reads and checks the header of a whole bundle. False for anything but a
// single-level stream-version-3 bundle whose level lies inside the file.
bool parseUnityWebHeader(ByteView bytes, UnityWebHeader& header);

// The raw LZMA1 data of the parsed bundle's level (past the 13-byte header).
inline ByteView unityWebLzmaData(ByteView bytes, const UnityWebHeader& header) {
  return bytes.subspan(size_t(header.headerSize) + kLzmaAloneHeaderSize,
                       header.compressedSize - kLzmaAloneHeaderSize);
}

// Builds a bundle from the source bundle's prefix (signature and version
// strings), the target's header values and raw LZMA1 data encoded with the
// fixed settings. Size fields come from the target, never from the source.
bool assembleUnityWebBundle(ByteView bytes, const UnityWebHeader& header,
                            const UnityWebTarget& target, ByteView encoded, Bytes& out);

// For tools and tests: a whole bundle made from a decoded payload.
struct UnityWebBuildOptions {
  std::string playerVersion = "3.x.x";
  std::string engineVersion = "4.6.9f1";
  uint32_t headerSize = 60;
  uint32_t fileInfoHeaderSize = 64;
  LzmaEncoderSettings encoder;  // the LZMA header records its lc, lp, pb and dictionary
};

bool buildUnityWebBundle(ByteView payload, const UnityWebBuildOptions& options, Bytes& out);

}  // namespace velmo
