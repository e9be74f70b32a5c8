#pragma once
// Our own decoder of one LZMS block (one chunk of an LZMS buffer): a range
// coder for the decisions, adaptive Huffman codes read backwards from the end
// for the symbols, LZ and delta matches, and the x86 post-filter.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/bytes.h"

namespace velmo {

// Largest block the decoder takes: the bitstream's own offsets and lengths
// and its 32-bit position arithmetic are only known to hold up to here.
constexpr size_t kLzmsMaxBlockSize = size_t(1) << 30;

// The decoder's working state (models, code tables, the x86 filter's table):
// a fixed size of about 340 KiB whatever the block, reused from block to
// block. One per thread.
struct LzmsWorkspace;
struct LzmsWorkspaceDeleter {
  void operator()(LzmsWorkspace* workspace) const;
};
using LzmsWorkspacePtr = std::unique_ptr<LzmsWorkspace, LzmsWorkspaceDeleter>;
LzmsWorkspacePtr lzmsNewWorkspace();

// Decodes the compressed block `in` into exactly out.size() bytes. False
// ("corrupt") for an odd or shorter than 4 byte input, a match reaching before
// the block's start or past its end, a delta offset out of range, or a block
// larger than kLzmsMaxBlockSize. Running out of input is not an error: the
// streams read as zeros past their ends. On failure out holds unspecified
// bytes.
bool lzmsDecodeBlock(LzmsWorkspace& workspace, ByteView in, std::span<uint8_t> out);

// The number of offset slots a block of `size` bytes uses.
uint32_t lzmsOffsetSlotCount(uint64_t size);

// The slot tables: value = base[slot] + (extra[slot] bits), with an end
// sentinel at base[count].
constexpr uint32_t kLzmsOffsetSlots = 799;
constexpr uint32_t kLzmsLengthSlots = 54;
extern const std::array<uint32_t, kLzmsOffsetSlots + 1> kLzmsOffsetBase;
extern const std::array<uint8_t, kLzmsOffsetSlots> kLzmsOffsetExtra;
extern const std::array<uint32_t, kLzmsLengthSlots + 1> kLzmsLengthBase;
extern const std::array<uint8_t, kLzmsLengthSlots> kLzmsLengthExtra;

// Code lengths of the adaptive Huffman codes from symbol frequencies (each at
// least 1 and below 2^20), built exactly as the format fixes them so both
// coder sides agree: ties taken leaf-first, depths capped at 15, lengths
// then handed out longest-first in (frequency, symbol) order. lengths[i] is
// 1..15 for n >= 2; a single symbol gets length 1.
void lzmsCodeLengths(const uint32_t* freq, uint32_t n, uint8_t* lengths);

// The x86 filter's table of where each target was last used, reused from
// block to block without clearing (256 KiB).
struct LzmsX86Table {
  uint32_t base = 0;
  uint32_t lastUse[65536];
};

// The x86 filter every block carries: forward (the encoder, before
// compressing) turns the relative operands of calls and RIP-relative
// instructions into absolute ones; backward (the decoder, after) undoes it.
void lzmsX86Filter(std::span<uint8_t> block, bool forward, LzmsX86Table& table);

}  // namespace velmo
