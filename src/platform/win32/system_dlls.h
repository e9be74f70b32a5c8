#pragma once
// System DLLs loaded from System32 only. The loader resolves static imports
// before the program runs and searches the program's own folder first for
// every DLL that is not a KnownDLL, so a DLL of such a name left beside the
// patcher (say in Downloads) would run inside it. Those DLLs (bcrypt,
// Cabinet, WINMM, GDI+, shcore) are therefore never imported statically:
// their functions are bound here at first use.
#include <windows.h>

namespace velmo {

// Restricts the process's own DLL searches to System32. The first thing the
// program does.
void restrictDllSearchToSystem32();

// The DLL of that name from System32, loaded once and kept; null when it is
// missing there.
HMODULE systemDll(const wchar_t* name);

// A function of a System32 DLL; null when the DLL or the function is
// missing (a Windows older than the function).
FARPROC systemProc(const wchar_t* dll, const char* name);

// Makes the process per-monitor DPI aware: per-monitor V2 on Windows 10
// 1703 and later, per-monitor on Windows 8.1 (the manifest asks for the
// same; this covers a copy started without it).
void becomePerMonitorDpiAware();

template <class Fn>
Fn systemFunction(const wchar_t* dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(systemProc(dll, name)));
}

}  // namespace velmo
