#include "ui/win32/win32_desktop.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/platform.h"

namespace velmo {

namespace {

// Releases a COM interface when it goes out of scope.
template <class T>
struct ComRef {
  T* p = nullptr;
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p) p->Release();
  }
  void** out() { return reinterpret_cast<void**>(&p); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A file-open dialog with the given options added to its own and a title;
// false when the dialog class cannot be created.
bool newOpenDialog(ComRef<IFileOpenDialog>& dialog, FILEOPENDIALOGOPTIONS extra, const std::wstring& title) {
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              dialog.out()))) {
    return false;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | extra);
  dialog->SetTitle(title.c_str());
  return true;
}

// Shows the dialog and reads the chosen item's file-system path.
bool runOpenDialog(IFileOpenDialog* dialog, HWND owner, std::wstring& path) {
  if (FAILED(dialog->Show(owner))) return false;  // cancelled
  ComRef<IShellItem> item;
  if (FAILED(dialog->GetResult(reinterpret_cast<IShellItem**>(item.out())))) return false;
  PWSTR name = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) || !name) return false;
  path = name;
  CoTaskMemFree(name);
  return true;
}

}  // namespace

bool chooseXapkFileDialog(HWND owner, const std::wstring& title, std::wstring& path) {
  ComRef<IFileOpenDialog> dialog;
  if (!newOpenDialog(dialog, FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST, title)) return false;
  const COMDLG_FILTERSPEC types[] = {{L"VELMO XAPK", L"*.xapk;*.zip"}, {L"All files", L"*.*"}};
  dialog->SetFileTypes(2, types);
  dialog->SetFileTypeIndex(1);  // one-based: the XAPK filter
  return runOpenDialog(dialog.p, owner, path);
}

bool chooseFolderDialog(HWND owner, const std::wstring& title, const std::wstring& current, std::wstring& folder) {
  ComRef<IFileOpenDialog> dialog;
  if (!newOpenDialog(dialog, FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM, title)) return false;
  if (!current.empty()) {
    ComRef<IShellItem> start;
    if (SUCCEEDED(SHCreateItemFromParsingName(current.c_str(), nullptr, IID_IShellItem, start.out()))) {
      dialog->SetFolder(start.p);
    }
  }
  return runOpenDialog(dialog.p, owner, folder);
}

bool startGameProcess(const std::wstring& exePath, const std::wstring& workingFolder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exePath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process)) {
    return false;
  }
  // The game is not waited for.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void openFolderInShell(HWND owner, const std::wstring& folder) {
  ShellExecuteW(owner, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool userDesktopFolder(std::wstring& folder) {
  PWSTR path = nullptr;
  HRESULT hr = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path);
  if (SUCCEEDED(hr) && path) folder = path;
  CoTaskMemFree(path);  // also on failure, as the shell asks
  return SUCCEEDED(hr) && !folder.empty();
}

bool writeShellLink(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder,
                    const std::wstring& description) {
  ComRef<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out()))) {
    return false;
  }
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetDescription(description.c_str());
  ComRef<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.out()))) return false;
  return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& description) {
  std::wstring desktop;
  if (!userDesktopFolder(desktop)) return false;
  return writeShellLink(joinPath(desktop, kShortcutFileName), target, workingFolder, description);
}

}  // namespace velmo
