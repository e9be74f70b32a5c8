// The music device on the Windows wave output (WINMM). The device signals a
// Win32 event (CALLBACK_EVENT) whenever it finishes a buffer; a small relay
// thread of the device waits on it, marks the finished buffers done in the
// order they were written and signals the music thread's event. Doing that
// in a waveOut callback instead would run our locks on the driver's thread,
// where only a few system calls are allowed.
#include <windows.h>
#include <mmsystem.h>

#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "audio/music_output.h"
#include "platform/win32/system_dlls.h"

namespace velmo {

namespace {

// WINMM is no KnownDLL: bound from System32, all or nothing. Without it
// there is no device, as on a machine without sound.
struct WaveOutApi {
  decltype(&::waveOutOpen) open;
  decltype(&::waveOutClose) close;
  decltype(&::waveOutPrepareHeader) prepareHeader;
  decltype(&::waveOutUnprepareHeader) unprepareHeader;
  decltype(&::waveOutWrite) write;
  decltype(&::waveOutReset) reset;
  decltype(&::waveOutSetVolume) setVolume;
};

const WaveOutApi* waveOutApi() {
  static const WaveOutApi api = {
      systemFunction<decltype(&::waveOutOpen)>(L"winmm.dll", "waveOutOpen"),
      systemFunction<decltype(&::waveOutClose)>(L"winmm.dll", "waveOutClose"),
      systemFunction<decltype(&::waveOutPrepareHeader)>(L"winmm.dll", "waveOutPrepareHeader"),
      systemFunction<decltype(&::waveOutUnprepareHeader)>(L"winmm.dll", "waveOutUnprepareHeader"),
      systemFunction<decltype(&::waveOutWrite)>(L"winmm.dll", "waveOutWrite"),
      systemFunction<decltype(&::waveOutReset)>(L"winmm.dll", "waveOutReset"),
      systemFunction<decltype(&::waveOutSetVolume)>(L"winmm.dll", "waveOutSetVolume"),
  };
  bool complete = api.open && api.close && api.prepareHeader && api.unprepareHeader && api.write && api.reset &&
                  api.setVolume;
  return complete ? &api : nullptr;
}

// Only after waveOutApi() gave the table.
const WaveOutApi& winmm() { return *waveOutApi(); }

struct Pending {
  MusicBuffer* buffer;
  WAVEHDR header;
};

}  // namespace

struct MusicDevice {
  HWAVEOUT wave = nullptr;
  HANDLE deviceEvent = nullptr;
  MusicEvent* bufferEvent = nullptr;
  // Guards every waveOut call on the handle but the volume, and `pending`.
  std::mutex lock;
  // Written buffers in order; a list, so headers keep their address while
  // the device holds them.
  std::list<Pending> pending;
  std::thread relay;
  bool quit = false;  // under lock
};

namespace {

// Takes every finished buffer off the front of the queue; true when any was.
// Called with the lock held.
bool retireFinished(MusicDevice* device, bool all) {
  bool any = false;
  while (!device->pending.empty()) {
    Pending& front = device->pending.front();
    if (!all && !(front.header.dwFlags & WHDR_DONE)) break;
    winmm().unprepareHeader(device->wave, &front.header, sizeof(WAVEHDR));
    front.buffer->done.store(true, std::memory_order_release);
    device->pending.pop_front();
    any = true;
  }
  return any;
}

void relayDone(MusicDevice* device) {
  for (;;) {
    WaitForSingleObject(device->deviceEvent, INFINITE);
    bool any;
    {
      std::lock_guard<std::mutex> hold(device->lock);
      if (device->quit) return;
      any = retireFinished(device, false);
    }
    if (any) signalMusicEvent(*device->bufferEvent);
  }
}

MusicDevice* openDevice(MusicEvent& bufferEvent, uint32_t volume) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(kMusicChannels);
  format.nSamplesPerSec = kMusicSampleRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = WORD(kMusicChannels * 2);
  format.nAvgBytesPerSec = kMusicSampleRate * format.nBlockAlign;
  format.cbSize = 0;
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  if (!event) return nullptr;
  HWAVEOUT wave = nullptr;
  if (!waveOutApi() || winmm().open(&wave, WAVE_MAPPER, &format, DWORD_PTR(event), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    CloseHandle(event);
    return nullptr;  // no device (a machine or Wine without sound)
  }
  winmm().setVolume(wave, DWORD(volume));
  MusicDevice* device = new MusicDevice;
  device->wave = wave;
  device->deviceEvent = event;
  device->bufferEvent = &bufferEvent;
  try {
    device->relay = std::thread(relayDone, device);
  } catch (const std::system_error&) {
    // No relay, no music: the device is given back as if it never opened.
    winmm().close(wave);
    CloseHandle(event);
    delete device;
    return nullptr;
  }
  return device;
}

void setDeviceVolume(MusicDevice* device, uint32_t volume) { winmm().setVolume(device->wave, DWORD(volume)); }

bool writeBuffer(MusicDevice* device, MusicBuffer& buffer) {
  std::lock_guard<std::mutex> hold(device->lock);
  Pending& entry = device->pending.emplace_back(Pending{&buffer, WAVEHDR{}});
  entry.header.lpData = reinterpret_cast<LPSTR>(buffer.samples.data());
  entry.header.dwBufferLength = DWORD(buffer.samples.size() * sizeof(int16_t));
  if (winmm().prepareHeader(device->wave, &entry.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    device->pending.pop_back();
    return false;
  }
  if (winmm().write(device->wave, &entry.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    winmm().unprepareHeader(device->wave, &entry.header, sizeof(WAVEHDR));
    device->pending.pop_back();
    return false;
  }
  return true;
}

void resetDevice(MusicDevice* device) {
  {
    std::lock_guard<std::mutex> hold(device->lock);
    // Returns every queued header to us marked done.
    winmm().reset(device->wave);
    retireFinished(device, true);
  }
  signalMusicEvent(*device->bufferEvent);
}

void closeDevice(MusicDevice* device) {
  {
    std::lock_guard<std::mutex> hold(device->lock);
    if (!device->pending.empty()) {
      winmm().reset(device->wave);
      retireFinished(device, true);
    }
    device->quit = true;
  }
  SetEvent(device->deviceEvent);
  device->relay.join();
  winmm().close(device->wave);
  CloseHandle(device->deviceEvent);
  delete device;
}

const MusicOutputOps kWaveOutOutput = {openDevice, setDeviceVolume, writeBuffer, resetDevice, closeDevice};

}  // namespace

const MusicOutputOps& waveOutMusicOutput() { return kWaveOutOutput; }

}  // namespace velmo
