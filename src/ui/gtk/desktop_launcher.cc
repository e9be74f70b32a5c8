#include "ui/gtk/desktop_launcher.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstring>

namespace velmo {

namespace {

// Characters that force quoting in an Exec argument.
constexpr char kReservedChars[] = " \t\n\"'\\><~|&;$*?#()`";

}  // namespace

std::vector<std::string> handlerCommand(const std::string& handlerExec, const std::string& file) {
  gchar** parsed = nullptr;
  if (!g_shell_parse_argv(handlerExec.c_str(), nullptr, &parsed, nullptr)) return {};
  std::vector<std::string> argv;
  bool fileUsed = false;
  for (gchar** a = parsed; *a; ++a) {
    std::string arg;
    bool hadCode = false;
    for (const char* c = *a; *c; ++c) {
      if (*c != '%' || !c[1]) {
        arg.push_back(*c);
        continue;
      }
      ++c;
      hadCode = true;
      if (*c == '%') {
        arg.push_back('%');
      } else if (std::strchr("fFuU", *c) && !fileUsed) {
        arg += file;
        fileUsed = true;
      }
    }
    // An argument that was only a field code without a value is dropped.
    if (!arg.empty() || !hadCode) argv.push_back(arg);
  }
  g_strfreev(parsed);
  if (argv.empty() || argv[0].empty()) return {};
  if (!fileUsed) argv.push_back(file);
  return argv;
}

std::string desktopExecArgument(const std::string& arg) {
  bool quote = arg.empty() || arg.find_first_of(kReservedChars) != std::string::npos;
  std::string out;
  if (quote) out.push_back('"');
  for (char ch : arg) {
    if (ch == '%') {
      out += "%%";
      continue;
    }
    if (quote && (ch == '"' || ch == '`' || ch == '$' || ch == '\\')) out.push_back('\\');
    out.push_back(ch);
  }
  if (quote) out.push_back('"');
  return out;
}

std::string desktopExecLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line.push_back(' ');
    line += desktopExecArgument(arg);
  }
  return line;
}

std::string desktopLauncherText(const DesktopLauncher& launcher) {
  constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
  GKeyFile* file = g_key_file_new();
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, launcher.name.c_str());
  if (!launcher.comment.empty()) {
    g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_COMMENT, launcher.comment.c_str());
  }
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, desktopExecLine(launcher.command).c_str());
  if (!launcher.workingFolder.empty()) {
    g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_PATH, launcher.workingFolder.c_str());
  }
  g_key_file_set_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
  gsize length = 0;
  gchar* data = g_key_file_to_data(file, &length, nullptr);
  std::string text = data ? std::string(data, length) : std::string();
  g_free(data);
  g_key_file_free(file);
  return text;
}

bool writeDesktopLauncher(const std::string& folder, const std::string& fileName, const DesktopLauncher& launcher) {
  if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) return false;
  std::string text = desktopLauncherText(launcher);
  if (text.empty()) return false;
  gchar* path = g_build_filename(folder.c_str(), fileName.c_str(), nullptr);
  // Written to a temporary name and renamed, so an old launcher is replaced
  // whole or not at all.
  bool ok = g_file_set_contents(path, text.data(), gssize(text.size()), nullptr);
  if (ok) ok = g_chmod(path, 0755) == 0;
  g_free(path);
  return ok;
}

std::string userDesktopFolder() {
  const gchar* desktop = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
  if (desktop && *desktop) return desktop;
  gchar* fallback = g_build_filename(g_get_home_dir(), "Desktop", nullptr);
  std::string out = fallback;
  g_free(fallback);
  return out;
}

}  // namespace velmo
