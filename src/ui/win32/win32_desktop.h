#pragma once
// The Windows shell behind the wizard's actions: the two file-open dialogs,
// starting the built game, opening its folder in the shell and the desktop
// shortcut. Everything runs on the window thread after COM was initialised
// apartment-threaded; failures are silent to the user and only reported to
// the caller.
#include <windows.h>

#include <string>

namespace velmo {

constexpr wchar_t kShortcutFileName[] = L"VELMO.lnk";

// Modal XAPK chooser owned by `owner` ("VELMO XAPK" *.xapk;*.zip selected,
// then "All files"); false when cancelled or the path cannot be read.
bool chooseXapkFileDialog(HWND owner, const std::wstring& title, std::wstring& path);

// Modal folder chooser owned by `owner`, opened in `current` when that
// names a folder the shell can find; false when cancelled or unreadable.
bool chooseFolderDialog(HWND owner, const std::wstring& title, const std::wstring& current, std::wstring& folder);

// Starts exePath with no command line in workingFolder and does not wait
// for it; true when the process started.
bool startGameProcess(const std::wstring& exePath, const std::wstring& workingFolder);

// Asks the shell to open the folder; the outcome is not reported.
void openFolderInShell(HWND owner, const std::wstring& folder);

// The current user's desktop folder; false when the shell has none.
bool userDesktopFolder(std::wstring& folder);

// Writes a shell link at linkPath (replacing a file of that name) with the
// target, its working folder and a description; no arguments, no icon.
bool writeShellLink(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder,
                    const std::wstring& description);

// The shortcut VELMO.lnk in the user's desktop folder.
bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& description);

}  // namespace velmo
