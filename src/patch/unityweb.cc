#include "patch/unityweb.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmo {

namespace {

constexpr char kSignature[] = "UnityWeb";
constexpr size_t kSignatureLength = sizeof(kSignature) - 1;
constexpr uint32_t kStreamVersion = 3;
constexpr uint64_t kMaxU32 = 0xFFFFFFFFu;

// Position of the first NUL at or after `from`, or bytes.size() if none.
size_t findNul(ByteView bytes, size_t from) {
  if (from >= bytes.size()) return bytes.size();
  const void* hit = std::memchr(bytes.data() + from, 0, bytes.size() - from);
  return hit ? size_t(static_cast<const uint8_t*>(hit) - bytes.data()) : bytes.size();
}

// The eight header fields, the zero padding up to headerSize and the
// LZMA-alone header. Both writers share it so their layouts cannot drift.
void appendFieldsAndLzmaHeader(Bytes& out, uint32_t total, uint32_t headerSize,
                               uint32_t compressedSize, uint32_t decodedSize,
                               uint32_t fileInfoHeaderSize, uint8_t properties,
                               uint32_t dictionarySize) {
  appendBe32(out, total);  // minimumStreamedBytes
  appendBe32(out, headerSize);
  appendBe32(out, 1);  // levelsToDownload
  appendBe32(out, 1);  // levelCount
  appendBe32(out, compressedSize);
  appendBe32(out, decodedSize);
  appendBe32(out, total);  // completeFileSize
  appendBe32(out, fileInfoHeaderSize);
  out.resize(headerSize, 0);
  out.push_back(properties);
  appendLe32(out, dictionarySize);
  appendLe64(out, decodedSize);
}

}  // namespace

bool parseUnityWebHeader(ByteView bytes, UnityWebHeader& header) {
  const size_t size = bytes.size();
  const size_t signatureEnd = findNul(bytes, 0);
  if (signatureEnd == size || signatureEnd != kSignatureLength ||
      std::memcmp(bytes.data(), kSignature, kSignatureLength) != 0) {
    return false;
  }
  if (size - signatureEnd < 5) return false;
  if (readBe32(bytes.data() + signatureEnd + 1) != kStreamVersion) return false;

  const size_t firstEnd = findNul(bytes, signatureEnd + 5);
  if (firstEnd == size) return false;
  const size_t secondEnd = findNul(bytes, firstEnd + 1);
  if (secondEnd == size) return false;

  UnityWebHeader parsed;
  parsed.prefixLength = secondEnd + 1;
  if (parsed.prefixLength + kUnityWebFieldsSize > size) return false;
  const uint8_t* fields = bytes.data() + parsed.prefixLength;
  parsed.headerSize = readBe32(fields + 4);
  parsed.levelsToDownload = readBe32(fields + 8);
  parsed.levelCount = readBe32(fields + 12);
  parsed.compressedSize = readBe32(fields + 16);
  parsed.completeFileSize = readBe32(fields + 24);
  parsed.fileInfoHeaderSize = readBe32(fields + 28);

  if (parsed.levelCount != 1 || parsed.levelsToDownload != 1) return false;
  if (parsed.headerSize < parsed.prefixLength + kUnityWebFieldsSize || parsed.headerSize > size) {
    return false;
  }
  if (parsed.compressedSize < kLzmaAloneHeaderSize) return false;
  if (uint64_t(parsed.headerSize) + parsed.compressedSize > size) return false;

  const uint8_t* level = bytes.data() + parsed.headerSize;
  const uint32_t properties = level[0];
  parsed.lc = properties % 9;
  parsed.lp = (properties / 9) % 5;
  parsed.pb = properties / 45;
  parsed.dictionarySize = readLe32(level + 1);
  if (parsed.dictionarySize == 0) return false;

  header = parsed;
  return true;
}

bool assembleUnityWebBundle(ByteView bytes, const UnityWebHeader& header,
                            const UnityWebTarget& target, ByteView encoded, Bytes& out) {
  const uint64_t compressedSize = uint64_t(encoded.size()) + kLzmaAloneHeaderSize;
  const uint64_t total = target.headerSize + compressedSize;
  if (header.prefixLength == 0 || header.prefixLength > bytes.size()) return false;
  if (header.prefixLength + kUnityWebFieldsSize > target.headerSize) return false;
  if (total > kMaxU32 || target.targetDecodedSize > kMaxU32) return false;

  out.clear();
  out.reserve(size_t(total));
  out.assign(bytes.begin(), bytes.begin() + ptrdiff_t(header.prefixLength));
  appendFieldsAndLzmaHeader(out, uint32_t(total), target.headerSize, uint32_t(compressedSize),
                            uint32_t(target.targetDecodedSize), target.fileInfoHeaderSize,
                            kRebuiltLzmaProperties, kRebuiltLzmaDictionarySize);
  out.insert(out.end(), encoded.begin(), encoded.end());
  return true;
}

bool buildUnityWebBundle(ByteView payload, const UnityWebBuildOptions& options, Bytes& out) {
  const LzmaEncoderSettings& encoder = options.encoder;
  if (options.playerVersion.find('\0') != std::string::npos ||
      options.engineVersion.find('\0') != std::string::npos) {
    return false;
  }
  Bytes prefix(kSignature, kSignature + kSignatureLength + 1);
  appendBe32(prefix, kStreamVersion);
  prefix.insert(prefix.end(), options.playerVersion.begin(), options.playerVersion.end());
  prefix.push_back(0);
  prefix.insert(prefix.end(), options.engineVersion.begin(), options.engineVersion.end());
  prefix.push_back(0);
  if (prefix.size() + kUnityWebFieldsSize > options.headerSize) return false;
  if (payload.size() > kMaxU32) return false;

  Bytes encoded;
  if (!lzmaEncodeRawWith(payload, encoder, encoded)) return false;
  const uint64_t compressedSize = uint64_t(encoded.size()) + kLzmaAloneHeaderSize;
  const uint64_t total = options.headerSize + compressedSize;
  if (total > kMaxU32) return false;

  out = std::move(prefix);
  out.reserve(size_t(total));
  appendFieldsAndLzmaHeader(out, uint32_t(total), options.headerSize, uint32_t(compressedSize),
                            uint32_t(payload.size()), options.fileInfoHeaderSize,
                            lzmaPropertiesByte(encoder.lc, encoder.lp, encoder.pb),
                            encoder.dictionarySize);
  out.insert(out.end(), encoded.begin(), encoded.end());
  return true;
}

}  // namespace velmo
