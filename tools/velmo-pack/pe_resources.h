#pragma once
// Resources of a Windows executable (PE32 or PE32+), written without the
// Windows resource update API so that a release can be made on any build
// machine from a built patcher and a pack.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace velmo {

struct PeResource {
  uint16_t type = 0;  // numeric resource type, e.g. 10 (RT_RCDATA)
  uint16_t id = 0;
  ByteView data;
};

// True when the bytes start like a PE image ("MZ", then "PE\0\0" where the
// DOS header points).
bool isPeImage(ByteView image);

// Gives the image `resources` (language neutral) in a resource section
// appended as its last section, keeping every resource the image already
// carries except those of the same type and id (in any language), which are
// replaced. A resource section that is already the last one in the file and
// in memory (one this tool wrote before) is rewritten in place of itself;
// one elsewhere (the linker's) stays where it is, no longer referenced.
// Refused: damaged headers or resources, a signed image, and headers that
// leave no room for one more section header. The checksum is recomputed.
// False with a one-line reason in error; image is unchanged then.
bool peSetResources(Bytes& image, const std::vector<PeResource>& resources, std::string& error);

// Finds resource type/id (its first language) and points data at its bytes
// inside image. False when the image is malformed or has no such resource.
bool peFindResource(ByteView image, uint16_t type, uint16_t id, ByteView& data);

}  // namespace velmo
