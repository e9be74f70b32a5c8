#include "audio/music_output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace velmo {
namespace {

std::vector<int16_t> steadyFrames(size_t frames, int16_t left, int16_t right) {
  std::vector<int16_t> v(frames * 2);
  for (size_t f = 0; f < frames; ++f) {
    v[2 * f] = left;
    v[2 * f + 1] = right;
  }
  return v;
}

TEST(MusicVolume, WordsScaleEachChannelLinearly) {
  // 0xB000 of 0xFFFF on both channels.
  std::vector<int16_t> in = {20000, -20000, 32767, -32768, 1000, 0};
  std::vector<int16_t> out(in.size());
  VolumeRamp ramp = volumeGains(kMusicVolume);
  applyMusicVolume(in.data(), out.data(), 3, kMusicVolume, ramp);
  for (size_t i = 0; i < in.size(); ++i) {
    long want = std::lround(in[i] * 45056.0 / 65535.0);
    EXPECT_LE(std::abs(out[i] - want), 1) << i;
  }
  // The low word is the left channel, the high word the right.
  ramp = volumeGains(0x0000FFFF);
  applyMusicVolume(in.data(), out.data(), 3, 0x0000FFFF, ramp);
  EXPECT_EQ(out, (std::vector<int16_t>{20000, 0, 32767, 0, 1000, 0}));
  ramp = volumeGains(0xFFFF0000);
  applyMusicVolume(in.data(), out.data(), 3, 0xFFFF0000, ramp);
  EXPECT_EQ(out, (std::vector<int16_t>{0, -20000, 0, -32768, 0, 0}));
}

TEST(MusicVolume, MutingFadesToSilenceWithinTenMillisecondsAndBack) {
  const size_t frames = 2000;
  std::vector<int16_t> in = steadyFrames(frames, 20000, -12000), out(in.size());
  VolumeRamp ramp = volumeGains(kMusicVolume);
  // Mute: the values fall without a jump and are silent after the ramp.
  applyMusicVolume(in.data(), out.data(), frames, 0, ramp);
  const int maxStep = 20000 / int(kVolumeRampFrames) + 2;
  int previous = int(std::lround(20000 * 45056.0 / 65535.0));
  for (size_t f = 0; f < frames; ++f) {
    ASSERT_LE(std::abs(out[2 * f] - previous), maxStep) << f;
    ASSERT_LE(out[2 * f], previous) << f;
    previous = out[2 * f];
    if (f + 1 >= kVolumeRampFrames) {
      ASSERT_EQ(out[2 * f], 0) << f;
      ASSERT_EQ(out[2 * f + 1], 0) << f;
    }
  }
  EXPECT_LE(kVolumeRampFrames, kMusicSampleRate / 100);
  // Unmute: back at the music volume after the ramp, rising steadily.
  applyMusicVolume(in.data(), out.data(), frames, kMusicVolume, ramp);
  EXPECT_GT(out[2], 0);
  EXPECT_LT(out[2], 100);
  EXPECT_NEAR(out[2 * (frames - 1)], 20000 * 45056.0 / 65535.0, 1.0);
  EXPECT_NEAR(out[2 * (frames - 1) + 1], -12000 * 45056.0 / 65535.0, 1.0);
}

TEST(MusicEvent, AutoResetSignalIsKeptForOneWait) {
  MusicEvent event;
  EXPECT_FALSE(waitMusicEvent(event, 0));
  signalMusicEvent(event);
  signalMusicEvent(event);  // not counted: one wait clears it
  EXPECT_TRUE(waitMusicEvent(event, 0));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(waitMusicEvent(event, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));

  // A signal from another thread releases a waiter long before its timeout.
  std::thread signaller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    signalMusicEvent(event);
  });
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(waitMusicEvent(event, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  signaller.join();
}

}  // namespace
}  // namespace velmo
