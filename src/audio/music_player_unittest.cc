#include "audio/music_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace velmo {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<int16_t> ramp(size_t n, int16_t first) {
  std::vector<int16_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = int16_t(first + int(i % 20000));
  return v;
}

Bytes toBytes(const std::vector<int16_t>& values) {
  Bytes out;
  for (int16_t v : values) appendLe16(out, uint16_t(v));
  return out;
}

// What the listener should hear, value by value: trackA once, then trackB
// over and over (zeros once the current track is empty).
int16_t expectedValue(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t i) {
  if (i < a.size()) return a[i];
  if (b.empty()) return 0;
  return b[(i - a.size()) % b.size()];
}

// Fills buffers in the thread's pattern (0, 1, 2, 3, 0, 1, ...) and returns
// everything produced, in order.
std::vector<int16_t> fillInTurn(MusicPlayer& player, size_t buffers) {
  std::vector<int16_t> out;
  for (size_t n = 0; n < buffers; ++n) {
    size_t index = n % kMusicBufferCount;
    fillMusicBuffer(player, index);
    const std::vector<int16_t>& s = player.buffers[index].samples;
    EXPECT_EQ(s.size(), kMusicBufferSamples);
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

TEST(MusicSequence, OpeningOnceThenLoopForEverContinuingInsideBuffers) {
  MusicPlayer player;
  // trackA ends in the middle of the second buffer; trackB is shorter than a
  // buffer, so it also restarts inside buffers.
  player.trackA = ramp(70001, -15000);
  player.trackB = ramp(30000, 100);
  std::vector<int16_t> out = fillInTurn(player, 7);
  ASSERT_EQ(out.size(), 7 * kMusicBufferSamples);
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i], expectedValue(player.trackA, player.trackB, i)) << "value " << i;
  }
  EXPECT_TRUE(player.playingB);
  EXPECT_EQ(player.position, (out.size() - 70001) % 30000);

  // A track ending exactly at a buffer's end moves on only when the next
  // value is needed.
  MusicPlayer exact;
  exact.trackA = ramp(kMusicBufferSamples, 5);
  exact.trackB = ramp(10, -7);
  fillMusicBuffer(exact, 0);
  EXPECT_FALSE(exact.playingB);
  EXPECT_EQ(exact.position, kMusicBufferSamples);
  fillMusicBuffer(exact, 1);
  EXPECT_TRUE(exact.playingB);
  EXPECT_EQ(exact.buffers[1].samples[0], -7);
  EXPECT_EQ(exact.buffers[1].samples[10], -7);
}

TEST(MusicSequence, EmptyTracksGiveSilence) {
  // Only an opening: it plays once, then silence for ever.
  MusicPlayer onlyA;
  onlyA.trackA = ramp(1000, 1);
  std::vector<int16_t> out = fillInTurn(onlyA, 3);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i < 1000 ? onlyA.trackA[i] : 0) << i;
  EXPECT_TRUE(onlyA.playingB);
  EXPECT_EQ(onlyA.position, 0u);

  // An empty current track gives zeros and moves nothing.
  MusicPlayer none;
  out = fillInTurn(none, 2);
  for (int16_t v : out) ASSERT_EQ(v, 0);
  EXPECT_FALSE(none.playingB);
  EXPECT_EQ(none.position, 0u);
}

TEST(MusicSequence, OddByteIsDroppedAndShiftsTheChannelsOfWhatFollows) {
  // Little-endian signed values; the seventh byte has no partner.
  Bytes a = {0x01, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0x55};
  EXPECT_EQ(pcmValues(a), (std::vector<int16_t>{1, -32768, 32767}));
  EXPECT_TRUE(pcmValues(Bytes{0x12}).empty());

  MusicPlayer player;
  player.trackA = pcmValues(a);
  player.trackB = {10, 20, 30, 40};  // two frames: left 10, 30; right 20, 40
  fillMusicBuffer(player, 0);
  const std::vector<int16_t>& s = player.buffers[0].samples;
  // After three values of the opening, the loop's left values land on the
  // right channel (odd positions) for the rest of playback.
  EXPECT_EQ(s[3], 10);
  EXPECT_EQ(s[4], 20);
  for (size_t i = 3; i < s.size(); ++i) {
    int16_t v = s[i];
    bool loopLeft = (v == 10 || v == 30);
    ASSERT_EQ(loopLeft, i % 2 == 1) << i;
  }
}

// A fake device: records what it is given and "plays" queued buffers in
// order on a thread of its own, much faster than real time.
struct FakeDevice {
  bool failOpen = false;
  bool plays = true;
  std::mutex lock;
  MusicEvent* event = nullptr;
  std::deque<MusicBuffer*> queue;
  std::vector<int16_t> played;
  std::vector<uint32_t> volumes;  // the opening volume, then each change
  int opens = 0, writes = 0, resets = 0, closes = 0;
  bool closed = false;
  std::atomic<bool> quit{false};
  std::thread worker;

  size_t playedCount() {
    std::lock_guard<std::mutex> hold(lock);
    return played.size();
  }
  int writeCount() {
    std::lock_guard<std::mutex> hold(lock);
    return writes;
  }
};

FakeDevice* gFake = nullptr;

FakeDevice* fakeOf(MusicDevice* d) { return reinterpret_cast<FakeDevice*>(d); }

void fakePlayLoop(FakeDevice* fake) {
  while (!fake->quit.load()) {
    MusicBuffer* buffer = nullptr;
    {
      std::lock_guard<std::mutex> hold(fake->lock);
      if (!fake->queue.empty()) {
        buffer = fake->queue.front();
        fake->queue.pop_front();
        fake->played.insert(fake->played.end(), buffer->samples.begin(), buffer->samples.end());
      }
    }
    if (buffer) {
      buffer->done.store(true, std::memory_order_release);
      signalMusicEvent(*fake->event);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

MusicDevice* fakeOpen(MusicEvent& event, uint32_t volume) {
  FakeDevice* fake = gFake;
  std::lock_guard<std::mutex> hold(fake->lock);
  ++fake->opens;
  if (fake->failOpen) return nullptr;
  fake->event = &event;
  fake->volumes.push_back(volume);
  if (fake->plays) fake->worker = std::thread(fakePlayLoop, fake);
  return reinterpret_cast<MusicDevice*>(fake);
}

void fakeSetVolume(MusicDevice* d, uint32_t volume) {
  std::lock_guard<std::mutex> hold(fakeOf(d)->lock);
  EXPECT_FALSE(fakeOf(d)->closed);
  fakeOf(d)->volumes.push_back(volume);
}

bool fakeWrite(MusicDevice* d, MusicBuffer& buffer) {
  FakeDevice* fake = fakeOf(d);
  std::lock_guard<std::mutex> hold(fake->lock);
  EXPECT_FALSE(fake->closed);
  for (MusicBuffer* queued : fake->queue) EXPECT_NE(queued, &buffer) << "a queued buffer was written again";
  ++fake->writes;
  fake->queue.push_back(&buffer);
  return true;
}

void fakeReset(MusicDevice* d) {
  FakeDevice* fake = fakeOf(d);
  std::lock_guard<std::mutex> hold(fake->lock);
  ++fake->resets;
  for (MusicBuffer* b : fake->queue) b->done.store(true);
  fake->queue.clear();
}

void fakeClose(MusicDevice* d) {
  FakeDevice* fake = fakeOf(d);
  fake->quit.store(true);
  if (fake->worker.joinable()) fake->worker.join();
  std::lock_guard<std::mutex> hold(fake->lock);
  EXPECT_EQ(fake->resets, 1) << "closed without a reset";
  ++fake->closes;
  fake->closed = true;
}

const MusicOutputOps kFakeOutput = {fakeOpen, fakeSetVolume, fakeWrite, fakeReset, fakeClose};

class MusicPlayerThread : public ::testing::Test {
 protected:
  void SetUp() override { gFake = &fake; }
  void TearDown() override {
    // The detached thread must be done with the player before it goes away.
    ASSERT_TRUE(waitMusicThreadEnd(*player, 2000));
    gFake = nullptr;
  }
  bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // Stops the music; the thread must end (its waits are bounded, so a
  // stop is seen even when the device never signals).
  void stopAndWait() {
    musicStop(*player);
    EXPECT_TRUE(waitMusicThreadEnd(*player, 2000));
  }

  FakeDevice fake;
  std::unique_ptr<MusicPlayer> player = std::make_unique<MusicPlayer>();
};

TEST_F(MusicPlayerThread, PlaysTheSequenceInOrderMutesTheOpenDeviceAndStops) {
  std::vector<int16_t> a = ramp(100001, -20000), b = ramp(77777, 3);
  ASSERT_TRUE(startMusic(*player, toBytes(a), toBytes(b), kFakeOutput));
  EXPECT_TRUE(musicAvailable(*player));
  const size_t want = 14 * kMusicBufferSamples;
  ASSERT_TRUE(waitFor([&] { return fake.playedCount() >= want; }, 5000));
  ASSERT_TRUE(waitFor([&] { return player->device.load() != nullptr; }, 1000));

  setMusicMuted(*player, true);
  setMusicMuted(*player, false);
  stopAndWait();

  std::lock_guard<std::mutex> hold(fake.lock);
  ASSERT_GE(fake.played.size(), want);
  for (size_t i = 0; i < fake.played.size(); ++i) {
    ASSERT_EQ(fake.played[i], expectedValue(a, b, i)) << "value " << i;
  }
  // Opened at the music volume; muting gives 0, unmuting restores it.
  EXPECT_EQ(fake.volumes, (std::vector<uint32_t>{0xB000B000u, 0u, 0xB000B000u}));
  EXPECT_EQ(fake.opens, 1);
  EXPECT_EQ(fake.resets, 1);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(player->device.load(), nullptr);
}

TEST_F(MusicPlayerThread, OnlyALoopPlaysItFromTheStart) {
  std::vector<int16_t> b = ramp(50001, 7);
  ASSERT_TRUE(startMusic(*player, Bytes{}, toBytes(b), kFakeOutput));
  ASSERT_TRUE(waitFor([&] { return fake.playedCount() >= 5 * kMusicBufferSamples; }, 5000));
  stopAndWait();
  std::lock_guard<std::mutex> hold(fake.lock);
  for (size_t i = 0; i < fake.played.size(); ++i) ASSERT_EQ(fake.played[i], b[i % b.size()]) << i;
}

TEST_F(MusicPlayerThread, StalledDeviceStillStopsWithinTheWait) {
  fake.plays = false;  // never finishes a buffer, never signals
  ASSERT_TRUE(startMusic(*player, toBytes(ramp(1000, 1)), Bytes{}, kFakeOutput));
  ASSERT_TRUE(waitFor([&] { return fake.writeCount() == int(kMusicBufferCount); }, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(fake.writeCount(), int(kMusicBufferCount)) << "only finished buffers are refilled";
  stopAndWait();
  EXPECT_EQ(fake.closes, 1);
}

TEST_F(MusicPlayerThread, DeviceThatCannotOpenEndsTheThreadSilently) {
  fake.failOpen = true;
  ASSERT_TRUE(startMusic(*player, toBytes(ramp(10, 1)), toBytes(ramp(10, 2)), kFakeOutput));
  ASSERT_TRUE(waitMusicThreadEnd(*player, 1000));
  EXPECT_EQ(fake.opens, 1);
  // The mute button still exists; toggling reaches no device.
  EXPECT_TRUE(musicAvailable(*player));
  setMusicMuted(*player, true);
  EXPECT_TRUE(fake.volumes.empty());
  EXPECT_EQ(fake.writes, 0);
}

TEST_F(MusicPlayerThread, AThreadThatCannotStartLeavesTheMusicOff) {
  player->startThread = [](MusicThreadProc, MusicPlayer*) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  EXPECT_FALSE(startMusic(*player, toBytes(ramp(10, 1)), toBytes(ramp(10, 2)), kFakeOutput));
  EXPECT_FALSE(player->threadRunning.load());
  EXPECT_FALSE(musicAvailable(*player));
  setMusicMuted(*player, true);
  EXPECT_EQ(fake.opens, 0);
  EXPECT_TRUE(fake.volumes.empty());
}

TEST_F(MusicPlayerThread, NothingToPlayStartsNothing) {
  // A lone odd byte holds no value either.
  EXPECT_FALSE(startMusic(*player, Bytes{}, Bytes{0x42}, kFakeOutput));
  EXPECT_FALSE(player->threadRunning.load());
  EXPECT_FALSE(musicAvailable(*player));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake.opens, 0);
  setMusicMuted(*player, true);
  EXPECT_TRUE(fake.volumes.empty());
}

}  // namespace
}  // namespace velmo
