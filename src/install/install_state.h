#pragma once
// The state the install job shares with the window, and the texts made
// from it. Counters and flags are atomics; stateLock guards only the two
// strings and is held just long enough to copy one.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace velmo {

constexpr double kMinFractionForEta = 0.02;

struct InstallState {
  std::mutex stateLock;
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> jobRunning{false};
  // While the finished files are moved into place: the one stretch that an
  // end of the session should wait for.
  std::atomic<bool> movingIntoPlace{false};
  std::atomic<uint64_t> bytesTotal{0};
  std::atomic<uint64_t> bytesDone{0};
  std::atomic<uint32_t> startTick{0};
  std::wstring currentFile;
  std::wstring errorText;
  std::atomic<int> exitCode{1};
};

// Copies text into errorText under the lock and returns false, so a failing
// step can end with `return setErrorText(...)`.
bool setErrorText(InstallState& state, const std::wstring& text);
void setCurrentFile(InstallState& state, const std::wstring& path);
std::wstring copyCurrentFile(InstallState& state);
std::wstring copyErrorText(InstallState& state);

// bytesDone / bytesTotal, 0 when nothing is planned; not clamped.
double fractionDone(uint64_t done, uint64_t total);
// The fraction as a whole percentage, "%.0f%%".
std::wstring formatPercent(double fraction);

// The installing screen's progress line. nowTick is the current tick count
// (passed in so the estimate can be tested).
std::wstring formatProgressLine(const InstallState& state, bool packHasBundles, uint32_t nowTick);
// The same from copied values.
std::wstring formatProgressLine(uint64_t done, uint64_t total, uint32_t startTick, bool packHasBundles,
                                uint32_t nowTick);

}  // namespace velmo
