// Opens one of the wizard's file-open dialogs without the wizard and prints
// the chosen path (UTF-8, one line) or "cancelled": lets the Wine runs prove
// that the dialogs can be driven from outside.
//   choose_dialog xapk TITLE
//   choose_dialog folder TITLE [CURRENT]
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/utf8.h"
#include "ui/win32/win32_desktop.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: choose_dialog xapk|folder TITLE [CURRENT]\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring kind = argv[1], title = argv[2], chosen;
  bool ok = kind == L"xapk" ? velmo::chooseXapkFileDialog(nullptr, title, chosen)
                            : velmo::chooseFolderDialog(nullptr, title, argc > 3 ? argv[3] : L"", chosen);
  std::printf("%s\n", ok ? velmo::toUtf8(chosen).c_str() : "cancelled");
  return ok ? 0 : 1;
}
