#pragma once
// File helpers for the build tools (native paths as narrow strings).
#include <string>

#include "common/bytes.h"

namespace velmo {

bool readFileBytes(const std::string& path, Bytes& out);
bool writeFileBytes(const std::string& path, ByteView bytes);

}  // namespace velmo
