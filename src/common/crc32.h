#pragma once
#include <cstddef>
#include <cstdint>

namespace velmo {

// Makes sure the CRC-32 tables exist. Called once at start-up before any
// other thread exists; crc32Update works without it.
void crc32InitTable();

// CRC-32/ISO-HDLC (zip, zlib), continued from an earlier value (0 to start),
// so that a CRC taken chunk by chunk equals the CRC of the whole.
uint32_t crc32Update(uint32_t crc, const void* data, size_t length);

}  // namespace velmo
