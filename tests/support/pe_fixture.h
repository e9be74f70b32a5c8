#pragma once
// A minimal Windows executable for the resource writer's tests.
#include <cstdint>

#include "common/bytes.h"

namespace velmo::test {

// PE32+: headers in sizeOfHeaders bytes (room for more section headers at
// the default), one .text section at file offset 0x200, 0x400 bytes in all.
Bytes tinyPe(uint32_t sizeOfHeaders = 0x200);

}  // namespace velmo::test
