/* Another program holding a file open, as a virus scanner, a sync client or
   the running game does: hold_file.exe PATH READY UNTIL opens PATH for
   reading without any sharing, creates the file READY, and lets go when the
   file UNTIL exists, or after UNTIL milliseconds when it is a number (at most
   two minutes either way). Exit code 0 when it held the file. */
#include <windows.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HANDLE held = CreateFileW(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  wchar_t* end = NULL;
  unsigned long ms = wcstoul(argv[3], &end, 10);
  int timed = end && *end == L'\0' && end != argv[3];
  for (DWORD waited = 0; waited < 120000; waited += 20) {
    if (timed ? waited >= ms : GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(20);
  }
  CloseHandle(held);
  return 0;
}
