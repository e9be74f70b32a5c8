#include "audio/music_output.h"

#include <chrono>
#include <cmath>

namespace velmo {

void signalMusicEvent(MusicEvent& event) {
  {
    std::lock_guard<std::mutex> hold(event.lock);
    event.signalled = true;
  }
  event.wake.notify_one();
}

bool waitMusicEvent(MusicEvent& event, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> hold(event.lock);
  bool got = event.wake.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return event.signalled; });
  event.signalled = false;
  return got;
}

VolumeRamp volumeGains(uint32_t volume) {
  VolumeRamp gains;
  gains.left = float(volume & 0xFFFF) / 65535.0f;
  gains.right = float(volume >> 16) / 65535.0f;
  return gains;
}

namespace {

float stepToward(float gain, float target) {
  constexpr float kStep = 1.0f / float(kVolumeRampFrames);
  if (gain < target) return gain + kStep < target ? gain + kStep : target;
  if (gain > target) return gain - kStep > target ? gain - kStep : target;
  return gain;
}

int16_t scaled(int16_t value, float gain) {
  float v = std::nearbyint(float(value) * gain);
  if (v > 32767.0f) v = 32767.0f;
  if (v < -32768.0f) v = -32768.0f;
  return int16_t(v);
}

}  // namespace

void applyMusicVolume(const int16_t* in, int16_t* out, size_t frames, uint32_t volume, VolumeRamp& ramp) {
  VolumeRamp target = volumeGains(volume);
  for (size_t f = 0; f < frames; ++f) {
    ramp.left = stepToward(ramp.left, target.left);
    ramp.right = stepToward(ramp.right, target.right);
    out[2 * f] = scaled(in[2 * f], ramp.left);
    out[2 * f + 1] = scaled(in[2 * f + 1], ramp.right);
  }
}

}  // namespace velmo
