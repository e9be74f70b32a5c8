#include "platform/win32/system_dlls.h"

namespace velmo {

void restrictDllSearchToSystem32() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

HMODULE systemDll(const wchar_t* name) {
  // LoadLibraryExW counts references: asking again for a loaded DLL returns
  // the same module, and the DLL stays until the process ends.
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC systemProc(const wchar_t* dll, const char* name) {
  HMODULE module = systemDll(dll);
  return module ? GetProcAddress(module, name) : nullptr;
}

void becomePerMonitorDpiAware() {
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  if (auto set = systemFunction<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
    set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    return;
  }
  using SetAwareness = HRESULT(WINAPI*)(int);
  constexpr int kProcessPerMonitorDpiAware = 2;
  if (auto set = systemFunction<SetAwareness>(L"shcore.dll", "SetProcessDpiAwareness")) set(kProcessPerMonitorDpiAware);
}

}  // namespace velmo
