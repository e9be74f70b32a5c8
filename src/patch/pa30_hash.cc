#include "patch/pa30_hash.h"

#include "common/digest.h"
#include "patch/pa30_format.h"

namespace velmo {

static bool digestFor(uint32_t algId, DigestKind& kind) {
  switch (algId) {
    case kPa30HashMd5:
      return kind = DigestKind::Md5, true;
    case kPa30HashSha1:
      return kind = DigestKind::Sha1, true;
    case kPa30HashSha256:
      return kind = DigestKind::Sha256, true;
    default:
      return false;
  }
}

bool pa30HashSize(uint32_t algId, size_t& size) {
  DigestKind kind;
  if (!digestFor(algId, kind)) return false;
  size = digestSize(kind);
  return true;
}

bool pa30ComputeHash(uint32_t algId, ByteView data, Bytes& digest) {
  DigestKind kind;
  return digestFor(algId, kind) && computeDigest(kind, data, digest);
}

}  // namespace velmo
