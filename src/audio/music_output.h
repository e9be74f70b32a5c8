#pragma once
// The audio output the music thread plays through: a device that takes
// buffers of 48 kHz stereo 16-bit values, plays them in the order written,
// marks each one done when it has played and then signals an event, and whose
// volume can be changed while it plays. Each back end supplies one table of
// operations; the music logic never sees which.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmo {

constexpr uint32_t kMusicSampleRate = 48000;
constexpr uint32_t kMusicChannels = 2;

// Left volume in the low word, right in the high word; 0xFFFF is full scale.
constexpr uint32_t kMusicVolume = 0xB000B000u;

// An auto-reset event: one signal releases one wait, and a signal given while
// nobody waits is kept until the next wait.
struct MusicEvent {
  std::mutex lock;
  std::condition_variable wake;
  bool signalled = false;
};

void signalMusicEvent(MusicEvent& event);
// Waits until the event is signalled (and clears it) or timeoutMs passes;
// true when it was signalled.
bool waitMusicEvent(MusicEvent& event, uint32_t timeoutMs);

// One wave buffer and its header. The owner writes `samples` only while the
// buffer is not queued; the device sets `done` (release order) once it has
// read the last value.
struct MusicBuffer {
  std::vector<int16_t> samples;
  std::atomic<bool> done{false};
  bool queued = false;
};

// Opaque handle of an open device; each back end has its own type behind it.
struct MusicDevice;

struct MusicOutputOps {
  // Opens the default output at the given volume; the device signals
  // bufferEvent whenever it finishes a buffer. Null when no output can be
  // opened.
  MusicDevice* (*open)(MusicEvent& bufferEvent, uint32_t volume);
  // Takes effect on what is already queued.
  void (*setVolume)(MusicDevice* device, uint32_t volume);
  // Queues the buffer after those already queued; it must stay alive and
  // untouched until it is done or the device is reset.
  bool (*write)(MusicDevice* device, MusicBuffer& buffer);
  // Stops playing and drops every queued buffer, marking each one done.
  void (*reset)(MusicDevice* device);
  // Closes the device and frees the handle.
  void (*close)(MusicDevice* device);
};

// SDL2's audio subsystem (sdl_music_output.cc; linked only into the patcher).
const MusicOutputOps& sdlMusicOutput();
// The Windows wave output (waveout_music_output.cc; Windows builds only).
const MusicOutputOps& waveOutMusicOutput();

// Per-channel gains as they move toward a new volume: a volume change is
// spread over at most kVolumeRampFrames frames so that muting is quick but
// does not click.
constexpr uint32_t kVolumeRampFrames = 480;

struct VolumeRamp {
  float left = 0;
  float right = 0;
};

// The gains a volume word pair stands for (linear, 0xFFFF = 1).
VolumeRamp volumeGains(uint32_t volume);

// Copies `frames` interleaved stereo frames from `in` to `out`, scaled by the
// ramp's gains, each gain moving toward `volume` by at most 1/kVolumeRampFrames
// per frame.
void applyMusicVolume(const int16_t* in, int16_t* out, size_t frames, uint32_t volume, VolumeRamp& ramp);

}  // namespace velmo
