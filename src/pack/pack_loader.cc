#include "pack/pack_loader.h"

#include <openssl/evp.h>

#include <cstring>

#include "platform/platform.h"

namespace velmo {

bool sha256(ByteView bytes, uint8_t digest[32]) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return false;
  unsigned int length = 0;
  bool ok = EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, bytes.data(), bytes.size()) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &length) == 1 && length == 32;
  EVP_MD_CTX_free(ctx);
  return ok;
}

bool findEmbeddedPack(ByteView image, ByteView& container, ByteView& digest) {
  if (image.size() < kEmbedTrailerSize) return false;
  const uint8_t* tail = image.data() + image.size() - kEmbedTrailerSize;
  if (std::memcmp(tail, kEmbedMagic, sizeof kEmbedMagic) != 0) return false;
  uint64_t packSize = readLe64(tail + 8);
  uint64_t digestSize = readLe64(tail + 16);
  uint64_t room = image.size() - kEmbedTrailerSize;
  if (digestSize > room || packSize > room - digestSize) return false;
  size_t packStart = size_t(room - digestSize - packSize);
  container = image.subspan(packStart, size_t(packSize));
  digest = image.subspan(packStart + size_t(packSize), size_t(digestSize));
  return true;
}

bool loadPatchPackFrom(ByteView container, ByteView digest, PatchPack& pack) {
  if (container.size() <= 23 || container.data() == nullptr) return false;
  if (digest.size() != kPackDigestSize) return false;
  uint8_t actual[32];
  if (!sha256(container, actual)) return false;
  if (std::memcmp(actual, digest.data(), 32) != 0) return false;
  if (std::memcmp(container.data(), kPackMagic, sizeof kPackMagic) != 0) return false;
  uint64_t directoryOffset = readLe64(container.data() + 16);
  if (directoryOffset < kPackHeaderSize || directoryOffset > container.size()) return false;
  uint32_t entryCount = readLe32(container.data() + 12);
  if (entryCount > kMaxPackEntries) return false;

  // Parsed aside and published whole: a pack that fails part-way leaves the
  // caller's pack as it was, with no records and no data to read.
  std::vector<PackEntry> entries;
  ByteReader reader{container, size_t(directoryOffset)};
  for (uint32_t i = 0; i < entryCount; ++i) {
    PackEntry entry;
    if (!parsePackRecord(reader, entry)) return false;
    entries.push_back(std::move(entry));
  }
  pack.data = container.data();
  pack.dataSize = container.size();
  pack.entries = std::move(entries);
  return true;
}

bool loadPatchPack(PatchPack& pack) {
  ByteView container, digest;
  if (!findEmbeddedPack(platform().executableImage(), container, digest)) return false;
  return loadPatchPackFrom(container, digest, pack);
}

Bytes makeEmbedTail(ByteView container) {
  Bytes tail(32);
  sha256(container, tail.data());
  tail.insert(tail.end(), kEmbedMagic, kEmbedMagic + sizeof kEmbedMagic);
  appendLe64(tail, container.size());
  appendLe64(tail, kPackDigestSize);
  return tail;
}

}  // namespace velmo
