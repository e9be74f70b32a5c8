#pragma once
// The few Win32 calls through which the Windows operations tell what an
// entry is and remove it, in one table so that tests can stand in for
// entries Wine cannot make (junctions, cloud placeholders, running images,
// deleted files still held open).
#include <windows.h>

namespace velmo {

struct Win32FileCalls {
  DWORD(WINAPI* getFileAttributes)(LPCWSTR path);
  HANDLE(WINAPI* findFirstFile)(LPCWSTR path, LPWIN32_FIND_DATAW data);
  BOOL(WINAPI* findClose)(HANDLE find);
  BOOL(WINAPI* deleteFile)(LPCWSTR path);
  BOOL(WINAPI* removeDirectory)(LPCWSTR path);
  // The NT status behind the last failed call (RtlGetLastNtStatus); 0 where
  // the system does not tell.
  LONG(WINAPI* lastNtStatus)();
};

// The calls in force; tests replace entries and put the table back.
Win32FileCalls& win32FileCalls();

}  // namespace velmo
