/* Stands in for the game in the "Play now" test: writes the folder it was
   started in (UTF-8) to cwd.txt in that folder, whole or not at all. */
#include <windows.h>

int main(void) {
  wchar_t cwd[MAX_PATH];
  char text[4 * MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
  if (n == 0 || n >= MAX_PATH) return 1;
  int bytes = WideCharToMultiByte(CP_UTF8, 0, cwd, (int)n, text, sizeof(text), NULL, NULL);
  HANDLE out = CreateFileW(L"cwd.part", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(out, text, (DWORD)bytes, &written, NULL);
  CloseHandle(out);
  if (!ok || written != (DWORD)bytes) return 1;
  return MoveFileW(L"cwd.part", L"cwd.txt") ? 0 : 1;
}
