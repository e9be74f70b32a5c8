// The music device on SDL2's audio subsystem (no SDL window). SDL pulls
// audio through a callback on its own thread; the callback takes values from
// the queue of written buffers in order, scales them by the current volume
// and, when a buffer is used up, marks it done and signals the music thread.
// Because the volume is applied as the values leave for the sound card rather
// than when they are queued, a mute is heard after one callback period (about
// 21 ms) plus the short ramp, not after the two seconds of queued music.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <deque>
#include <mutex>

#include "audio/music_output.h"

namespace velmo {

struct MusicDevice {
  SDL_AudioDeviceID id = 0;
  MusicEvent* bufferEvent = nullptr;
  std::atomic<uint32_t> volume{0};
  // Guards the queue and readPos (the music thread writes and resets, the
  // callback reads).
  std::mutex queueLock;
  std::deque<MusicBuffer*> queue;
  // Values of queue.front() already played.
  size_t readPos = 0;
  // Touched only by the callback.
  VolumeRamp ramp;
  // Touched only by the music thread: the device is unpaused when the first
  // buffer is queued.
  bool started = false;
};

namespace {

// About 21 ms per callback at 48 kHz.
constexpr Uint16 kCallbackFrames = 1024;

void SDLCALL pullAudio(void* userdata, Uint8* stream, int len) {
  MusicDevice* device = static_cast<MusicDevice*>(userdata);
  int16_t* out = reinterpret_cast<int16_t*>(stream);
  size_t frames = size_t(len) / (sizeof(int16_t) * kMusicChannels);
  uint32_t volume = device->volume.load(std::memory_order_relaxed);
  bool finishedAny = false;
  size_t frame = 0;
  {
    std::lock_guard<std::mutex> hold(device->queueLock);
    while (frame < frames && !device->queue.empty()) {
      MusicBuffer* buffer = device->queue.front();
      size_t available = (buffer->samples.size() - device->readPos) / kMusicChannels;
      size_t take = std::min(available, frames - frame);
      applyMusicVolume(buffer->samples.data() + device->readPos, out + frame * kMusicChannels, take, volume,
                       device->ramp);
      device->readPos += take * kMusicChannels;
      frame += take;
      if ((buffer->samples.size() - device->readPos) < kMusicChannels) {
        device->queue.pop_front();
        device->readPos = 0;
        buffer->done.store(true, std::memory_order_release);
        finishedAny = true;
      }
    }
  }
  // Starved: silence until the next buffer arrives.
  std::fill(out + frame * kMusicChannels, out + frames * kMusicChannels, int16_t(0));
  if (finishedAny) signalMusicEvent(*device->bufferEvent);
}

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its own complaints (no sound card, no configuration) on
// stderr, while the wizard's failures are silent. SDL loads the library at
// run time; loading it first (the same instance) lets us take its messages.
void silenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);  // kept for the life of the process
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (setHandler) setHandler(ignoreAlsaMessage);
  });
}

MusicDevice* openDevice(MusicEvent& bufferEvent, uint32_t volume) {
  silenceAlsa();
  SDL_SetMainReady();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
  MusicDevice* device = new MusicDevice;
  device->bufferEvent = &bufferEvent;
  device->volume.store(volume);
  device->ramp = volumeGains(volume);

  SDL_AudioSpec want{};
  want.freq = int(kMusicSampleRate);
  want.format = AUDIO_S16SYS;
  want.channels = Uint8(kMusicChannels);
  want.samples = kCallbackFrames;
  want.callback = pullAudio;
  want.userdata = device;
  SDL_AudioSpec have{};
  // No allowed changes: SDL converts to whatever the hardware wants.
  device->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device->id == 0) {
    delete device;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  return device;
}

void setDeviceVolume(MusicDevice* device, uint32_t volume) { device->volume.store(volume, std::memory_order_relaxed); }

bool writeBuffer(MusicDevice* device, MusicBuffer& buffer) {
  {
    std::lock_guard<std::mutex> hold(device->queueLock);
    device->queue.push_back(&buffer);
  }
  // Outside queueLock: SDL takes its device lock here, and the callback runs
  // under that lock before it takes queueLock.
  if (!device->started) {
    SDL_PauseAudioDevice(device->id, 0);
    device->started = true;
  }
  return true;
}

void resetDevice(MusicDevice* device) {
  {
    std::lock_guard<std::mutex> hold(device->queueLock);
    for (MusicBuffer* buffer : device->queue) buffer->done.store(true, std::memory_order_release);
    device->queue.clear();
    device->readPos = 0;
  }
  signalMusicEvent(*device->bufferEvent);
}

void closeDevice(MusicDevice* device) {
  // Returns only after the last callback has finished.
  SDL_CloseAudioDevice(device->id);
  delete device;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

const MusicOutputOps kSdlOutput = {openDevice, setDeviceVolume, writeBuffer, resetDevice, closeDevice};

}  // namespace

const MusicOutputOps& sdlMusicOutput() { return kSdlOutput; }

}  // namespace velmo
