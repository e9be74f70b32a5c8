#pragma once
// Starting the built game from a Linux desktop, and the desktop launcher
// that stands in for a Windows shortcut. The game is a Windows program: it
// runs through Wine when Wine is installed; without it the most the desktop
// can do is show the game's folder, so that is what both "Play now" and the
// launcher fall back to.
#include <string>
#include <vector>

namespace velmo {

constexpr char kDesktopLauncherFileName[] = "VELMO.desktop";
constexpr char kDesktopLauncherName[] = "VELMO";
constexpr char kWineProgram[] = "wine";
constexpr char kOpenFolderProgram[] = "xdg-open";

struct GameLaunch {
  bool viaWine = false;
  std::vector<std::string> argv;  // Wine and the game, or the folder opener and the folder
};
// winePath is the installed Wine program, empty when there is none.
GameLaunch gameLaunch(const std::string& exePath, const std::string& folder, const std::string& winePath);

// One argument of a launcher's Exec line: in double quotes (with '"', '`',
// '$' and '\' escaped) when it holds a reserved character or is empty; '%'
// always doubled, since a single one starts a field code.
std::string desktopExecArgument(const std::string& arg);
std::string desktopExecLine(const std::vector<std::string>& argv);

struct DesktopLauncher {
  std::string name;
  std::string comment;
  std::vector<std::string> command;
  std::string workingFolder;  // empty: none
};

// The launcher as desktop-entry text (values escaped by the key-file writer).
std::string desktopLauncherText(const DesktopLauncher& launcher);

// Writes folder/fileName, replacing a file of that name, creating the folder
// when it is missing, and makes it executable (0755) so desktops run it.
bool writeDesktopLauncher(const std::string& folder, const std::string& fileName, const DesktopLauncher& launcher);

// The user's desktop folder: the XDG desktop directory, else $HOME/Desktop.
std::string userDesktopFolder();

}  // namespace velmo
