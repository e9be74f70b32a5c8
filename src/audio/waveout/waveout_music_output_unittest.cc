// The waveOut music device on Wine's WINMM: with a sound device it plays a
// short buffer to done and drops queued ones on reset, and the music thread
// plays and stops on it; without one it says so at once. Nothing may hang.
// VELMO_EXPECT_SOUND=1 (set when Wine is given ALSA's null device) makes a
// missing device a failure. Windows only (velmo_tests_win32 under Wine).
#ifdef _WIN32

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "audio/music_player.h"

namespace velmo {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool waitDone(MusicEvent& event, const MusicBuffer& buffer, int timeoutMs) {
  auto start = Clock::now();
  while (!buffer.done.load(std::memory_order_acquire)) {
    if (msSince(start) > timeoutMs) return false;
    waitMusicEvent(event, 50);
  }
  return true;
}

bool soundExpected() {
  const char* v = std::getenv("VELMO_EXPECT_SOUND");
  return v && std::string(v) == "1";
}

TEST(WaveOutMusicOutput, PlaysToDoneOrReportsNoDevice) {
  const MusicOutputOps& out = waveOutMusicOutput();
  MusicEvent event;
  MusicDevice* device = out.open(event, kMusicVolume);
  if (!device) {
    ASSERT_FALSE(soundExpected()) << "no waveOut device although one was set up";
    std::printf("waveOut: no sound device; the wizard stays silent\n");
    return;
  }
  // A tenth of a second, then two half seconds that a reset drops.
  MusicBuffer shortBuffer, longA, longB;
  shortBuffer.samples.assign(kMusicSampleRate * kMusicChannels / 10, int16_t(1000));
  ASSERT_TRUE(out.write(device, shortBuffer));
  out.setVolume(device, 0);
  EXPECT_TRUE(waitDone(event, shortBuffer, 3000)) << "the buffer never finished playing";

  longA.samples.assign(kMusicSampleRate * kMusicChannels / 2, int16_t(-1000));
  longB.samples = longA.samples;
  ASSERT_TRUE(out.write(device, longA));
  ASSERT_TRUE(out.write(device, longB));
  out.reset(device);
  EXPECT_TRUE(longA.done.load() && longB.done.load()) << "reset kept queued buffers";
  out.close(device);
}

TEST(WaveOutMusicOutput, TheMusicThreadPlaysAndStopsPromptly) {
  Bytes track(kMusicSampleRate, 0x11);  // a quarter of a second
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, track, track, waveOutMusicOutput()));
  auto start = Clock::now();
  while (!player.device.load() && player.threadRunning.load() && msSince(start) < 3000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!player.device.load()) {
    ASSERT_FALSE(soundExpected()) << "no waveOut device although one was set up";
    EXPECT_TRUE(waitMusicThreadEnd(player, 1000)) << "the thread outlived a device that did not open";
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // past the first buffer
  setMusicMuted(player, true);
  setMusicMuted(player, false);
  EXPECT_TRUE(player.playingB) << "the opening track never ended";
  musicStop(player);
  EXPECT_TRUE(waitMusicThreadEnd(player, 1000)) << "the music did not stop";
  EXPECT_EQ(player.device.load(), nullptr);
}

}  // namespace
}  // namespace velmo

#endif  // _WIN32
