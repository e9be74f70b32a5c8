#include "patch/lzma_raw.h"

#include <lzma.h>

#include <algorithm>
#include <limits>

namespace velmo {

namespace {

constexpr uint32_t kLzmaBasePreset = 6;
constexpr size_t kDecodeHeadroom = 1048576;
constexpr size_t kEncodeHeadroom = 65536;

size_t saturatingAdd(size_t a, size_t b) {
  return a > std::numeric_limits<size_t>::max() - b ? std::numeric_limits<size_t>::max() : a + b;
}

size_t saturatingMul(size_t a, size_t b) {
  return b != 0 && a > std::numeric_limits<size_t>::max() / b ? std::numeric_limits<size_t>::max()
                                                               : a * b;
}

lzma_match_finder toLzma(LzmaMatchFinder finder) {
  switch (finder) {
    case LzmaMatchFinder::Hc3: return LZMA_MF_HC3;
    case LzmaMatchFinder::Hc4: return LZMA_MF_HC4;
    case LzmaMatchFinder::Bt2: return LZMA_MF_BT2;
    case LzmaMatchFinder::Bt3: return LZMA_MF_BT3;
    case LzmaMatchFinder::Bt4: return LZMA_MF_BT4;
  }
  return LZMA_MF_BT4;
}

void release(Bytes& out) { Bytes().swap(out); }

}  // namespace

LzmaDecodeResult lzmaDecodeRaw(ByteView input, uint32_t dictionarySize, uint32_t lc, uint32_t lp,
                               uint32_t pb, uint64_t maxOutput, Bytes& out, const ProgressFn& progress) {
  release(out);
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, kLzmaBasePreset)) return LzmaDecodeResult::Failed;
  options.dict_size = dictionarySize;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;

  // One byte past the limit is enough room to notice the limit was crossed.
  const size_t cap = maxOutput >= std::numeric_limits<size_t>::max()
                         ? std::numeric_limits<size_t>::max()
                         : size_t(maxOutput) + 1;
  // liblzma allocates the whole dictionary up front, and a header may claim
  // 4 GiB. No valid distance can reach further back than the output we allow,
  // so a dictionary of that size decodes every allowed stream identically.
  const uint64_t dictionaryLimit = std::max<uint64_t>(cap, LZMA_DICT_SIZE_MIN);
  if (options.dict_size > dictionaryLimit) options.dict_size = uint32_t(dictionaryLimit);

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream{};
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return LzmaDecodeResult::Failed;
  stream.next_in = input.data();
  stream.avail_in = input.size();

  out.resize(std::min(saturatingAdd(saturatingMul(input.size(), 8), kDecodeHeadroom), cap));
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(std::min(saturatingMul(out.size(), 2), cap));
    const size_t room = std::min(out.size() - produced, kLzmaDecodeStep);
    stream.next_out = out.data() + produced;
    stream.avail_out = room;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    const size_t step = room - stream.avail_out;
    produced += step;
    if (ret != LZMA_OK && ret != LZMA_STREAM_END) {
      lzma_end(&stream);
      release(out);
      return LzmaDecodeResult::Failed;
    }
    if (produced > maxOutput) {
      lzma_end(&stream);
      release(out);
      return LzmaDecodeResult::TooLarge;
    }
    if (!keepGoing(progress, step)) {
      lzma_end(&stream);
      release(out);
      return LzmaDecodeResult::Stopped;
    }
    if (ret == LZMA_STREAM_END) break;
    if (stream.avail_in == 0 && stream.avail_out != 0) break;
  }
  lzma_end(&stream);
  out.resize(produced);
  out.shrink_to_fit();
  return LzmaDecodeResult::Ok;
}

bool lzmaEncodeRawWith(ByteView input, const LzmaEncoderSettings& settings, Bytes& out,
                       const ProgressFn& progress) {
  release(out);
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, settings.preset | (settings.extreme ? LZMA_PRESET_EXTREME : 0u))) {
    return false;
  }
  options.dict_size = settings.dictionarySize;
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  options.mode = settings.mode == LzmaMode::Fast ? LZMA_MODE_FAST : LZMA_MODE_NORMAL;
  options.nice_len = settings.niceLength;
  options.mf = toLzma(settings.matchFinder);
  if (settings.depth != 0) options.depth = settings.depth;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream{};
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return false;
  stream.next_in = input.data();
  size_t given = 0;     // input handed to liblzma so far
  size_t reported = 0;  // of which progress has heard

  out.resize(input.size() / 2 + kEncodeHeadroom);
  size_t produced = 0;
  for (;;) {
    if (out.size() - produced < kEncodeHeadroom) {
      out.resize(saturatingAdd(saturatingMul(out.size(), 2), kEncodeHeadroom));
    }
    // Top the input up one step at a time; LZMA_FINISH only once all of it
    // has been handed over, as liblzma requires.
    if (stream.avail_in == 0 && given < input.size()) {
      const size_t step = std::min(input.size() - given, kLzmaEncodeStep);
      if (!keepGoing(progress, given - reported)) {
        lzma_end(&stream);
        release(out);
        return false;
      }
      reported = given;
      stream.avail_in = step;
      given += step;
    }
    stream.next_out = out.data() + produced;
    stream.avail_out = out.size() - produced;
    const lzma_ret ret = lzma_code(&stream, given == input.size() ? LZMA_FINISH : LZMA_RUN);
    produced = out.size() - stream.avail_out;
    if (ret == LZMA_STREAM_END) {
      lzma_end(&stream);
      out.resize(produced);
      out.shrink_to_fit();
      keepGoing(progress, given - reported);
      return true;
    }
    if (ret != LZMA_OK) {
      lzma_end(&stream);
      release(out);
      return false;
    }
  }
}

bool lzmaEncodeRaw(ByteView input, Bytes& out, const ProgressFn& progress) {
  return lzmaEncodeRawWith(input, LzmaEncoderSettings{}, out, progress);
}

}  // namespace velmo
