#pragma once
// Starting the built game from a Linux desktop, and the desktop launcher
// that stands in for a Windows shortcut. The game is a Windows program: it
// starts through the application the desktop has as the handler of its file
// type, when one is configured.
#include <string>
#include <vector>

namespace velmo {

constexpr char kDesktopLauncherFileName[] = "VELMO.desktop";
constexpr char kDesktopLauncherName[] = "VELMO";

// The command that opens `file` with a handler whose desktop-entry Exec value
// is `handlerExec`: "%f", "%F", "%u" and "%U" become the file, "%%" a
// percent sign, other field codes vanish; without a file code the file is
// appended. Empty when the value cannot be parsed or names no program.
std::vector<std::string> handlerCommand(const std::string& handlerExec, const std::string& file);

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
