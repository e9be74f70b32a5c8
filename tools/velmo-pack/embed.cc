#include "velmo-pack/embed.h"

#include "pack/pack_loader.h"
#include "velmo-pack/pe_resources.h"

namespace velmo {

bool embedPack(Bytes& patcher, ByteView pack, std::string& error) {
  if (isPeImage(patcher)) {
    Bytes digest(kPackDigestSize);
    if (!sha256(pack, digest.data())) return error = "cannot hash the pack", false;
    return peSetResources(patcher,
                          {{kRcDataResourceType, kPackResourceId, pack},
                           {kRcDataResourceType, kPackDigestResourceId, digest}},
                          error);
  }
  ByteView oldPack, oldDigest;
  if (findEmbeddedPack(patcher, oldPack, oldDigest)) patcher.resize(size_t(oldPack.data() - patcher.data()));
  Bytes tail = makeEmbedTail(pack);
  patcher.insert(patcher.end(), pack.begin(), pack.end());
  patcher.insert(patcher.end(), tail.begin(), tail.end());
  return true;
}

bool findPatcherPack(ByteView patcher, ByteView& pack, ByteView& digest) {
  if (isPeImage(patcher)) {
    return peFindResource(patcher, kRcDataResourceType, kPackResourceId, pack) &&
           peFindResource(patcher, kRcDataResourceType, kPackDigestResourceId, digest);
  }
  return findEmbeddedPack(patcher, pack, digest);
}

}  // namespace velmo
