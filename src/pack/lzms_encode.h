#pragma once
// Our own LZMS block compressor: a plain greedy one (literals and explicit LZ
// matches) for where no better one exists, the writer under Wine. Its blocks
// follow the format exactly, so every LZMS decoder reads them.
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

// Compresses raw (4 bytes up to 64 MiB) into one LZMS block at out, x86
// filter included. Returns the block's size, or 0 when raw is outside those
// sizes or the block would not fit in capacity bytes.
size_t lzmsCompressBlock(ByteView raw, uint8_t* out, size_t capacity);

}  // namespace velmo
