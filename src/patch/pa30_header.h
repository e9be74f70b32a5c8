#pragma once
// The PA30 container: signature, time stamp, and the outer stream's header
// fields and buffers.
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

struct Pa30Header {
  uint64_t fileTime = 0;
  int64_t fileTypeSet = 0;
  int64_t fileType = 0;
  int64_t flags = 0;
  int64_t targetSize = 0;
  uint32_t hashAlgId = 0;
  ByteView hash;
  ByteView preprocess;
  ByteView patch;
};

// Splits a delta into its header fields. Only the structure is checked here
// (signature, stream bounds, nothing after the patch buffer); what the
// fields may hold is for the applier to judge.
bool pa30ReadHeader(ByteView delta, Pa30Header& header);

void pa30WriteHeader(const Pa30Header& header, Bytes& delta);

}  // namespace velmo
