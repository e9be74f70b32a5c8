#pragma once
// Message digests from the platform's own provider: CNG on Windows, the
// system's libcrypto elsewhere.
#include <cstddef>

#include "common/bytes.h"

namespace velmo {

enum class DigestKind { Md5, Sha1, Sha256 };

constexpr size_t digestSize(DigestKind kind) {
  return kind == DigestKind::Md5 ? 16 : kind == DigestKind::Sha1 ? 20 : 32;
}

// Replaces out with the digest of data; false when the provider fails.
bool computeDigest(DigestKind kind, ByteView data, Bytes& out);

}  // namespace velmo
