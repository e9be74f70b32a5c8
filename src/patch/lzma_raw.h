#pragma once
// Raw LZMA1 (no container) decoding and encoding of bundle payloads, on top
// of liblzma.
#include <cstdint>

#include "common/bytes.h"
#include "common/progress.h"

namespace velmo {

enum class LzmaMatchFinder { Hc3, Hc4, Bt2, Bt3, Bt4 };
enum class LzmaMode { Fast, Normal };

// Encoder settings, applied on top of a liblzma preset. The defaults are the
// fixed settings every rebuilt bundle is written with; the pack's sizes and
// CRCs were computed from exactly that output, so lzmaEncodeRaw never takes
// other settings. Other values exist for tools and tests that need streams
// "compressed by someone else".
struct LzmaEncoderSettings {
  uint32_t preset = 6;  // liblzma preset level, 0 to 9
  bool extreme = false;
  uint32_t dictionarySize = 0x00800000;
  uint32_t lc = 3;
  uint32_t lp = 0;
  uint32_t pb = 2;
  LzmaMode mode = LzmaMode::Normal;
  uint32_t niceLength = 123;
  LzmaMatchFinder matchFinder = LzmaMatchFinder::Bt4;
  uint32_t depth = 0;  // 0 lets liblzma choose, as every preset does
};

// The properties byte of the LZMA-alone header: lc + 9 * (lp + 5 * pb).
inline uint8_t lzmaPropertiesByte(uint32_t lc, uint32_t lp, uint32_t pb) {
  return uint8_t(lc + 9 * (lp + 5 * pb));
}

enum class LzmaDecodeResult { Ok, Failed, TooLarge, Stopped };

// Decodes a raw LZMA1 stream until its end marker, or until the input is used
// up while the decoder still has room. Stops with TooLarge as soon as more
// than maxOutput bytes would come out, so a crafted stream cannot exhaust
// memory. On anything but Ok, `out` is left empty. progress hears of the
// decoded bytes every kLzmaDecodeStep and may stop the decoder (Stopped).
LzmaDecodeResult lzmaDecodeRaw(ByteView input, uint32_t dictionarySize, uint32_t lc, uint32_t lp,
                               uint32_t pb, uint64_t maxOutput, Bytes& out, const ProgressFn& progress = {});

// Encodes with the fixed bundle settings (preset 6, 8 MiB dictionary, lc 3
// lp 0 pb 2, normal mode, nice length 123, BT4), ending with an end marker.
// The input goes in kLzmaEncodeStep at a time (the output does not depend on
// it); progress hears of each step and may stop the encoder (false).
bool lzmaEncodeRaw(ByteView input, Bytes& out, const ProgressFn& progress = {});

// Encodes with any settings; lzmaEncodeRaw is this with the defaults.
bool lzmaEncodeRawWith(ByteView input, const LzmaEncoderSettings& settings, Bytes& out,
                       const ProgressFn& progress = {});

// Work per call into liblzma: small enough that a stop request is seen within
// a few milliseconds even at the encoder's 2 to 3 MB/s.
constexpr size_t kLzmaDecodeStep = size_t(1) << 20;
constexpr size_t kLzmaEncodeStep = size_t(32) << 10;

}  // namespace velmo
