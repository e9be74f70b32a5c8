#pragma once
// Loading and proving the patch pack. On Windows the pack and its SHA-256
// digest are the executable's RT_RCDATA resources 101 and 102. On Linux they
// travel appended to the executable, found through a trailer at the very end
// of the file: magic "VELMOEMB", u64 pack size, u64 digest size.
#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "pack/pack_format.h"

namespace velmo {

constexpr char kEmbedMagic[8] = {'V', 'E', 'L', 'M', 'O', 'E', 'M', 'B'};
constexpr size_t kEmbedTrailerSize = 24;
constexpr uint16_t kPackResourceId = 101;
constexpr uint16_t kPackDigestResourceId = 102;
constexpr uint16_t kRcDataResourceType = 10;  // RT_RCDATA

struct PatchPack {
  const uint8_t* data = nullptr;  // the container, used in place
  uint64_t dataSize = 0;
  std::vector<PackEntry> entries;
};

// Finds the container and the digest appended to an executable image. False
// when there is no well-formed trailer or the sizes do not fit the image.
bool findEmbeddedPack(ByteView image, ByteView& container, ByteView& digest);

// Proves and parses a container already in memory; the bytes must outlive
// the pack. Checks, in order: size above 23, digest of exactly 32 bytes,
// SHA-256 equal to the digest, magic, directory offset, entry count, records.
// pack is changed only when every check passed.
bool loadPatchPackFrom(ByteView container, ByteView digest, PatchPack& pack);

// Loads the pack embedded in the running executable (its resources on
// Windows, its trailer elsewhere).
bool loadPatchPack(PatchPack& pack);

// The trailer (and the digest) that the pack tool appends after the pack.
Bytes makeEmbedTail(ByteView container);

// SHA-256 of bytes; false if the library fails.
bool sha256(ByteView bytes, uint8_t digest[32]);

}  // namespace velmo
