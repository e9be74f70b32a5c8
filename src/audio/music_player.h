#pragma once
// Background music: an opening track played once, then a second track looped
// for ever, fed to an audio output by a detached thread of its own in four
// half-second buffers. Muting changes only the volume of the open device.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/music_output.h"
#include "common/bytes.h"

namespace velmo {

constexpr size_t kMusicBufferCount = 4;
// Values (not frames) per buffer: half a second of stereo.
constexpr size_t kMusicBufferSamples = 48000;
// Longest sleep of the music thread between two looks at musicStop.
constexpr uint32_t kMusicWaitMs = 200;

struct MusicPlayer;
using MusicThreadProc = void (*)(MusicPlayer*);

// Runs proc(player) on a detached thread; throws std::system_error when the
// system cannot start one, as std::thread does.
void startDetachedMusicThread(MusicThreadProc proc, MusicPlayer* player);

// One process-wide instance. The music thread alone touches playingB,
// position and the buffers once it runs; trackA and trackB are fixed before.
struct MusicPlayer {
  std::vector<int16_t> trackA;
  std::vector<int16_t> trackB;
  bool playingB = false;
  // Index of the next value in the current track.
  uint64_t position = 0;
  std::array<MusicBuffer, kMusicBufferCount> buffers;

  const MusicOutputOps* output = nullptr;
  // Set by the music thread once the device is open, cleared before it is
  // closed; read by the window thread for the mute toggle.
  std::atomic<MusicDevice*> device{nullptr};
  MusicEvent bufferEvent;
  std::atomic<bool> musicStop{false};
  // True from start until the thread has finished with the player.
  std::atomic<bool> threadRunning{false};
  // How the thread is started (tests make it fail).
  void (*startThread)(MusicThreadProc, MusicPlayer*) = startDetachedMusicThread;
};

// The 16-bit little-endian values of a raw PCM asset; a final odd byte is
// dropped.
std::vector<int16_t> pcmValues(ByteView bytes);

// Makes buffer `index` kMusicBufferSamples values long and fills it with the
// next values of the music sequence (trackA once, then trackB for ever; zeros
// while the current track is empty); then, when a device is open, queues it.
void fillMusicBuffer(MusicPlayer& player, size_t index);

// Takes the two tracks' bytes and starts the music thread on `output`. When
// both tracks are empty nothing starts (no thread, no device) and the result
// is false; so too when no thread can be started, and then the music stays
// off: the tracks are dropped and musicAvailable is false.
bool startMusic(MusicPlayer& player, ByteView musicA, ByteView musicB, const MusicOutputOps& output);

// Whether there is music at all (the mute button exists only then).
bool musicAvailable(const MusicPlayer& player);

// Asks the thread to end; it resets and closes the device within about
// kMusicWaitMs.
void musicStop(MusicPlayer& player);

// Waits up to timeoutMs for the thread to finish with the player; true when
// it has (or never started).
bool waitMusicThreadEnd(const MusicPlayer& player, uint32_t timeoutMs);

// The device volume for the mute state: 0 when muted, else kMusicVolume.
uint32_t musicVolume(bool muted);

// Applies the mute state to the open device; before the device opens (or
// after it failed to open) nothing happens, and the thread opens it at
// kMusicVolume whatever the state.
void setMusicMuted(MusicPlayer& player, bool muted);

}  // namespace velmo
