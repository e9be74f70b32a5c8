#pragma once
// Music for the demo game's pack: a short opening phrase and a loop, composed
// from soft bell, pad and bass tones in D minor, as 48 kHz stereo 16-bit
// little-endian raw PCM (the format of the music assets).
#include <cstdint>

#include "common/bytes.h"

namespace velmo {

constexpr uint32_t kDemoIntroSeconds = 8;
constexpr uint32_t kDemoLoopSeconds = 16;

// intro is played once and loop after it for ever: the end of intro flows into
// the start of loop, and the end of loop into its own start, without a step.
void composeDemoMusic(Bytes& intro, Bytes& loop);

}  // namespace velmo
