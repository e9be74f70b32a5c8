#pragma once
// The Linux desktop behind the wizard's actions: the file choosers, the
// question box, starting the built game, opening its folder, the desktop
// launcher that stands in for a shortcut, and the program's icon. Runs on
// the window thread after GTK was initialised; failures are silent to the
// user and only reported to the caller.
#include <gtk/gtk.h>

#include <string>

namespace velmo {

// Every window of the process, dialogs included, shows the program's icon.
void setProgramIcon();

// Modal XAPK chooser owned by `owner` (may be null): "VELMO XAPK" *.xapk and
// *.zip in either case selected, then "All files"; false when cancelled.
bool chooseXapkFileDialog(GtkWindow* owner, const std::wstring& title, std::wstring& path);

// Modal folder chooser opened at `current`, or at its nearest existing
// parent; false when cancelled.
bool chooseFolderDialog(GtkWindow* owner, const std::wstring& title, const std::wstring& current,
                        std::wstring& folder);

// Modal yes/no question with the question icon; true only on Yes.
bool askYesNoDialog(GtkWindow* owner, const std::wstring& text, const std::wstring& caption);

// Opens the folder in the desktop's file manager; the outcome is not reported.
void openFolderInFileManager(GtkWidget* owner, const std::wstring& folder);

// Starts the game through its file type's handler in workingFolder and does
// not wait for it; false when it is missing or nothing can start it.
bool startGameProcess(const std::wstring& exePath, const std::wstring& workingFolder);

// The desktop launcher "VELMO.desktop" in the user's desktop folder.
bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& description);

}  // namespace velmo
