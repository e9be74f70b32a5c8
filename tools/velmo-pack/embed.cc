#include "velmo-pack/embed.h"

#include "pack/pack_loader.h"
#include "velmo-pack/pe_resources.h"
#include "velmo-pack/program_icon.h"

namespace velmo {

bool embedPack(Bytes& patcher, ByteView pack, std::string& error) {
  if (isPeImage(patcher)) {
    Bytes digest(kPackDigestSize);
    if (!sha256(pack, digest.data())) return error = "cannot hash the pack", false;
    // The program icon travels with the pack, so that a release made
    // from a bare build shows it in the window and in Explorer.
    const ProgramIcon& icon = programIcon();
    std::vector<PeResource> resources = {{kRcDataResourceType, kPackResourceId, pack},
                                         {kRcDataResourceType, kPackDigestResourceId, digest},
                                         {kGroupIconResourceType, kProgramIconGroupId, icon.group}};
    for (size_t i = 0; i < icon.images.size(); ++i) {
      resources.push_back({kIconResourceType, uint16_t(i + 1), icon.images[i]});
    }
    return peSetResources(patcher, resources, error);
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
