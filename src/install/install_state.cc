#include "install/install_state.h"

#include <cwchar>

#include "common/size_text.h"

namespace velmo {

bool setErrorText(InstallState& state, const std::wstring& text) {
  if (&text == &state.errorText) return false;
  std::lock_guard<std::mutex> lock(state.stateLock);
  state.errorText = text;
  return false;
}

void setCurrentFile(InstallState& state, const std::wstring& path) {
  std::lock_guard<std::mutex> lock(state.stateLock);
  state.currentFile = path;
}

std::wstring copyCurrentFile(InstallState& state) {
  std::lock_guard<std::mutex> lock(state.stateLock);
  return state.currentFile;
}

std::wstring copyErrorText(InstallState& state) {
  std::lock_guard<std::mutex> lock(state.stateLock);
  return state.errorText;
}

double fractionDone(uint64_t done, uint64_t total) {
  return total != 0 ? double(done) / double(total) : 0.0;
}

std::wstring formatPercent(double fraction) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%.0f%%", fraction * 100.0);
  return buf;
}

std::wstring formatProgressLine(const InstallState& state, bool packHasBundles, uint32_t nowTick) {
  return formatProgressLine(state.bytesDone.load(), state.bytesTotal.load(), state.startTick.load(), packHasBundles,
                            nowTick);
}

std::wstring formatProgressLine(uint64_t done, uint64_t total, uint32_t startTick, bool packHasBundles,
                                uint32_t nowTick) {
  std::wstring doneText = formatSize(done);
  std::wstring totalText = formatSize(total);
  wchar_t buf[160];
  if (packHasBundles) {
    std::swprintf(buf, 160, L"%ls of %ls   re-encoding bundles (a few minutes)", doneText.c_str(),
                  totalText.c_str());
    return buf;
  }
  double fraction = fractionDone(done, total);
  if (fraction > kMinFractionForEta) {
    uint32_t elapsed = (nowTick - startTick) / 1000u;
    unsigned secondsLeft = unsigned((1.0 - fraction) * double(elapsed) / fraction);
    std::swprintf(buf, 160, L"%ls of %ls   about %u min %02u s left", doneText.c_str(), totalText.c_str(),
                  secondsLeft / 60, secondsLeft % 60);
    return buf;
  }
  std::swprintf(buf, 160, L"%ls of %ls", doneText.c_str(), totalText.c_str());
  return buf;
}

}  // namespace velmo
