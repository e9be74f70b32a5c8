#include "patch/pa30_hash.h"

#include <openssl/evp.h>

#include "patch/pa30_format.h"

namespace velmo {

static const EVP_MD* digestFor(uint32_t algId) {
  switch (algId) {
    case kPa30HashMd5:
      return EVP_md5();
    case kPa30HashSha1:
      return EVP_sha1();
    case kPa30HashSha256:
      return EVP_sha256();
    default:
      return nullptr;
  }
}

bool pa30HashSize(uint32_t algId, size_t& size) {
  const EVP_MD* md = digestFor(algId);
  if (md == nullptr) return false;
  size = size_t(EVP_MD_get_size(md));
  return true;
}

bool pa30ComputeHash(uint32_t algId, ByteView data, Bytes& digest) {
  const EVP_MD* md = digestFor(algId);
  if (md == nullptr) return false;
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outSize = 0;
  if (EVP_Digest(data.data(), data.size(), out, &outSize, md, nullptr) != 1) return false;
  digest.assign(out, out + outSize);
  return true;
}

}  // namespace velmo
