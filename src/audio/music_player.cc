#include "audio/music_player.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace velmo {

std::vector<int16_t> pcmValues(ByteView bytes) {
  std::vector<int16_t> values(bytes.size() / 2);
  for (size_t i = 0; i < values.size(); ++i) values[i] = int16_t(readLe16(bytes.data() + 2 * i));
  return values;
}

namespace {

// Writes `count` values of the sequence, whole runs at a time; the effect is
// that of taking one value after another: an exhausted track moves playback
// to the start of trackB, and an empty current track gives zeros without
// moving anything.
void nextValues(MusicPlayer& player, int16_t* out, size_t count) {
  size_t filled = 0;
  while (filled < count) {
    const std::vector<int16_t>* track = player.playingB ? &player.trackB : &player.trackA;
    if (track->empty()) break;
    if (player.position >= track->size()) {
      player.playingB = true;
      player.position = 0;
      track = &player.trackB;
      if (track->empty()) break;
    }
    size_t run = std::min<uint64_t>(track->size() - player.position, count - filled);
    std::copy_n(track->data() + player.position, run, out + filled);
    player.position += run;
    filled += run;
  }
  std::fill(out + filled, out + count, int16_t(0));
}

void musicThread(MusicPlayer* player) {
  const MusicOutputOps& output = *player->output;
  // Opened at the full music volume: the thread never looks at the mute state.
  MusicDevice* device = output.open(player->bufferEvent, kMusicVolume);
  if (device) {
    player->device.store(device);
    for (size_t i = 0; i < kMusicBufferCount; ++i) fillMusicBuffer(*player, i);
    while (!player->musicStop.load()) {
      waitMusicEvent(player->bufferEvent, kMusicWaitMs);
      for (size_t i = 0; i < kMusicBufferCount; ++i) {
        if (player->buffers[i].done.load(std::memory_order_acquire)) fillMusicBuffer(*player, i);
      }
    }
    // The window thread stops the music only after its last mute toggle, so
    // no toggle can still be using the handle.
    player->device.store(nullptr);
    output.reset(device);
    output.close(device);
    for (MusicBuffer& buffer : player->buffers) buffer.queued = false;
  }
  player->threadRunning.store(false);
}

}  // namespace

void fillMusicBuffer(MusicPlayer& player, size_t index) {
  MusicBuffer& buffer = player.buffers[index];
  // Allocated on first use only; afterwards a refill is a plain copy.
  buffer.samples.resize(kMusicBufferSamples);
  nextValues(player, buffer.samples.data(), kMusicBufferSamples);
  MusicDevice* device = player.device.load();
  if (!device) return;
  buffer.done.store(false);
  buffer.queued = player.output->write(device, buffer);
}

bool startMusic(MusicPlayer& player, ByteView musicA, ByteView musicB, const MusicOutputOps& output) {
  player.trackA = pcmValues(musicA);
  player.trackB = pcmValues(musicB);
  player.playingB = false;
  player.position = 0;
  if (player.trackA.empty()) {
    if (player.trackB.empty()) return false;
    player.playingB = true;
  }
  player.output = &output;
  player.threadRunning.store(true);
  try {
    player.startThread(musicThread, &player);
  } catch (const std::system_error&) {
    // Out of threads or memory at start-up: the wizard goes on without music.
    player.threadRunning.store(false);
    player.trackA.clear();
    player.trackB.clear();
    return false;
  }
  return true;
}

void startDetachedMusicThread(MusicThreadProc proc, MusicPlayer* player) { std::thread(proc, player).detach(); }

bool musicAvailable(const MusicPlayer& player) { return !player.trackA.empty() || !player.trackB.empty(); }

void musicStop(MusicPlayer& player) { player.musicStop.store(true); }

bool waitMusicThreadEnd(const MusicPlayer& player, uint32_t timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (player.threadRunning.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

uint32_t musicVolume(bool muted) { return muted ? 0 : kMusicVolume; }

void setMusicMuted(MusicPlayer& player, bool muted) {
  MusicDevice* device = player.device.load();
  if (device) player.output->setVolume(device, musicVolume(muted));
}

}  // namespace velmo
