#include "common/digest.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>

namespace velmo {

#ifdef _WIN32

bool computeDigest(DigestKind kind, ByteView data, Bytes& out) {
  const wchar_t* name = kind == DigestKind::Md5    ? BCRYPT_MD5_ALGORITHM
                        : kind == DigestKind::Sha1 ? BCRYPT_SHA1_ALGORITHM
                                                   : BCRYPT_SHA256_ALGORITHM;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, name, nullptr, 0) < 0) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  out.assign(digestSize(kind), 0);
  bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  // One call for anything below 4 GiB (the length is a ULONG).
  for (size_t done = 0; ok && done < data.size();) {
    ULONG chunk = ULONG(std::min<size_t>(data.size() - done, 0x80000000u));
    ok = BCryptHashData(hash, const_cast<PUCHAR>(data.data() + done), chunk, 0) >= 0;
    done += chunk;
  }
  ok = ok && BCryptFinishHash(hash, out.data(), ULONG(out.size()), 0) >= 0;
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

#else

bool computeDigest(DigestKind kind, ByteView data, Bytes& out) {
  const EVP_MD* md = kind == DigestKind::Md5 ? EVP_md5() : kind == DigestKind::Sha1 ? EVP_sha1() : EVP_sha256();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, md, nullptr) != 1 || size != digestSize(kind)) return false;
  out.assign(digest, digest + size);
  return true;
}

#endif

}  // namespace velmo
