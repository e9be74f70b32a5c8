// The SDL music device, driven by the real music thread through SDL's
// "disk" driver (which writes exactly what it plays, in real time), its
// "dummy" driver and a driver that does not exist. Built only when the test
// binary also links sdl_music_output.cc and SDL2 (VELMO_SDL_AUDIO_TESTS).
#ifdef VELMO_SDL_AUDIO_TESTS

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "audio/music_player.h"
#include "support/test_util.h"

namespace velmo {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<int16_t> nonZeroRamp(size_t n, int first) {
  std::vector<int16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = int16_t(first + int(i % 15000));
  return v;
}

Bytes toBytes(const std::vector<int16_t>& values) {
  Bytes out;
  for (int16_t v : values) appendLe16(out, uint16_t(v));
  return out;
}

std::vector<int16_t> readValues(const std::string& path) {
  Bytes b = test::readBytes(path);
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(readLe16(b.data() + 2 * i));
  return v;
}

long fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

bool waitForDevice(const MusicPlayer& player, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!player.device.load()) {
    if (!player.threadRunning.load() || Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

double stopAndTime(MusicPlayer& player) {
  auto start = Clock::now();
  musicStop(player);
  EXPECT_TRUE(waitMusicThreadEnd(player, 2000));
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int16_t atMusicVolume(int16_t v) { return int16_t(std::lround(v * 45056.0 / 65535.0)); }

TEST(SdlMusicOutput, PlaysTheSequenceAtTheMusicVolumeInOrder) {
  test::TempDir dir;
  std::string out = dir / "played.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  std::vector<int16_t> a = nonZeroRamp(30001, 1000), b = nonZeroRamp(41000, -16000);
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, toBytes(a), toBytes(b), sdlMusicOutput()));
  ASSERT_TRUE(waitForDevice(player, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  EXPECT_LT(stopAndTime(player), 400.0);

  std::vector<int16_t> played = readValues(out);
  // SDL may write silence while the device waits for its first buffer; from
  // the first sound on, everything played is the sequence from its first
  // value, scaled (the gain is applied in single precision, so within one
  // step); after the reset only silence may follow.
  size_t lead = 0;
  while (lead < played.size() && played[lead] == 0) ++lead;
  EXPECT_LT(lead, kMusicBufferSamples) << "the music started late";
  size_t n = lead;
  for (; n < played.size(); ++n) {
    size_t i = n - lead;
    int16_t source = i < a.size() ? a[i] : b[(i - a.size()) % b.size()];
    if (played[n] == 0 || std::abs(played[n] - atMusicVolume(source)) > 1) break;
  }
  EXPECT_GT(n - lead, kMusicBufferSamples) << "less than half a second matched";
  for (size_t k = n; k < played.size(); ++k) ASSERT_EQ(played[k], 0) << "value " << k << " of " << played.size();
}

TEST(SdlMusicOutput, MuteIsHeardWithinATenthOfASecond) {
  test::TempDir dir;
  std::string out = dir / "played.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, Bytes{}, toBytes(nonZeroRamp(48000, 2000)), sdlMusicOutput()));
  ASSERT_TRUE(waitForDevice(player, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  long at = fileSize(out);
  ASSERT_GT(at, 0);
  setMusicMuted(player, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  stopAndTime(player);

  std::vector<int16_t> played = readValues(out);
  size_t silentFrom = size_t(at) / 2 + kMusicSampleRate * kMusicChannels / 10;
  ASSERT_GT(played.size(), silentFrom + kMusicSampleRate / 10) << "too little was played after the mute";
  for (size_t k = silentFrom; k < played.size(); ++k) ASSERT_EQ(played[k], 0) << k;
  // Before the mute the music was there.
  EXPECT_NE(played[size_t(at) / 2 - 2], 0);
}

TEST(SdlMusicOutput, DummyDriverStartsAndStopsPromptly) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, toBytes(nonZeroRamp(1000, 5)), Bytes{}, sdlMusicOutput()));
  ASSERT_TRUE(waitForDevice(player, 2000));
  setMusicMuted(player, true);
  setMusicMuted(player, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LT(stopAndTime(player), 400.0);
  EXPECT_EQ(player.device.load(), nullptr);
}

TEST(SdlMusicOutput, NoUsableDriverEndsTheThreadSilently) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, toBytes(nonZeroRamp(1000, 5)), Bytes{}, sdlMusicOutput()));
  ASSERT_TRUE(waitMusicThreadEnd(player, 2000));
  EXPECT_EQ(player.device.load(), nullptr);
  EXPECT_TRUE(musicAvailable(player));
  setMusicMuted(player, true);  // only the caller's flag would change
}

TEST(SdlMusicOutput, NoSoundCardLeavesStderrQuiet) {
  setenv("SDL_AUDIODRIVER", "alsa", 1);
  testing::internal::CaptureStderr();
  MusicPlayer player;
  ASSERT_TRUE(startMusic(player, toBytes(nonZeroRamp(1000, 5)), Bytes{}, sdlMusicOutput()));
  if (waitForDevice(player, 2000)) stopAndTime(player);  // a machine with a card plays
  EXPECT_TRUE(waitMusicThreadEnd(player, 2000));
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed.find("ALSA"), std::string::npos) << printed;
}

}  // namespace
}  // namespace velmo

#endif  // VELMO_SDL_AUDIO_TESTS
