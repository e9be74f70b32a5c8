// The Linux desktop behind the wizard's actions, on GTK and GLib. The
// game's file type decides what starts it; the shortcut is a launcher file.
#include "ui/gtk/gtk_desktop.h"

#include <string>
#include <vector>

#include "common/utf8.h"
#include "platform/platform.h"
#include "ui/cairo/cairo_painter.h"
#include "ui/gtk/desktop_launcher.h"
#include "ui/program_icon.h"

namespace velmo {

namespace {

std::string utf8(const std::wstring& text) { return toUtf8(text); }
// Paths go to GLib as the file system's own bytes.
std::string bytes(const std::wstring& path) { return pathToBytes(path); }

// Runs a native chooser; true with the chosen local path.
bool runChooser(GtkFileChooserNative* chooser, std::wstring& path) {
  bool ok = false;
  if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (name) {
      path = pathFromBytes(name);
      ok = true;
      g_free(name);
    }
  }
  g_object_unref(chooser);
  return ok;
}

GdkPixbuf* pixbufOf(const std::unique_ptr<CanvasImage>& icon) {
  cairo_surface_t* surface = icon ? cairoSurface(*icon) : nullptr;
  if (!surface) return nullptr;
  return gdk_pixbuf_get_from_surface(surface, 0, 0, icon->width(), icon->height());
}

// A square straight-RGBA picture as a pixbuf (which copies the bytes).
GdkPixbuf* pixbufOfRgba(const Bytes& rgba, int size) {
  if (size <= 0 || rgba.size() != size_t(size) * size * 4) return nullptr;
  GBytes* bytes = g_bytes_new(rgba.data(), rgba.size());
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, size, size, size * 4);
  g_bytes_unref(bytes);
  return pixbuf;
}

void launchFinished(GObject*, GAsyncResult* result, gpointer) {
  // Nothing to report: the wizard shows no message for a folder that could
  // not be opened.
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &error)) g_clear_error(&error);
}

// The command that starts the game: its file type's default handler with
// the game; empty when no handler is configured.
std::vector<std::string> gameCommand(const std::string& exe) {
  std::vector<std::string> argv;
  GFile* file = g_file_new_for_path(exe.c_str());
  GFileInfo* info =
      g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
  const char* type = info ? g_file_info_get_content_type(info) : nullptr;
  GAppInfo* handler = type ? g_app_info_get_default_for_type(type, FALSE) : nullptr;
  const char* exec = handler ? g_app_info_get_commandline(handler) : nullptr;
  if (exec) argv = handlerCommand(exec, exe);
  if (handler) g_object_unref(handler);
  if (info) g_object_unref(info);
  g_object_unref(file);
  return argv;
}

}  // namespace

// The program's icon at the sizes taskbars and switchers ask for; every
// window of the process, dialogs included, shows it.
void setProgramIcon() {
  GList* icons = nullptr;
  for (int size : {16, 32, 48, 64, 128}) {
    if (GdkPixbuf* icon = pixbufOfRgba(drawProgramIcon(size), size)) icons = g_list_append(icons, icon);
  }
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
}

bool chooseXapkFileDialog(GtkWindow* owner, const std::wstring& title, std::wstring& path) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      utf8(title).c_str(), owner, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(fc, TRUE);
  GtkFileFilter* xapk = gtk_file_filter_new();
  gtk_file_filter_set_name(xapk, "VELMO XAPK");
  // Patterns are case-sensitive here, unlike on the platform the files come from.
  for (const char* pattern : {"*.xapk", "*.XAPK", "*.zip", "*.ZIP"}) gtk_file_filter_add_pattern(xapk, pattern);
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, "All files");
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(fc, xapk);
  gtk_file_chooser_add_filter(fc, all);
  gtk_file_chooser_set_filter(fc, xapk);
  return runChooser(chooser, path);
}

bool chooseFolderDialog(GtkWindow* owner, const std::wstring& title, const std::wstring& current,
                        std::wstring& folder) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      utf8(title).c_str(), owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select", "_Cancel");
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_local_only(fc, TRUE);
  // Opens at the current destination, or at its nearest existing parent:
  // without a folder GTK starts in its recent-files view, where a typed
  // folder path cannot be selected.
  std::string start = bytes(current);
  while (!start.empty() && !g_file_test(start.c_str(), G_FILE_TEST_IS_DIR)) {
    gchar* parent = g_path_get_dirname(start.c_str());
    std::string up = parent;
    g_free(parent);
    start = up == start ? std::string() : up;
  }
  if (!start.empty()) gtk_file_chooser_set_current_folder(fc, start.c_str());
  return runChooser(chooser, folder);
}

bool askYesNoDialog(GtkWindow* owner, const std::wstring& text, const std::wstring& caption) {
  GtkWidget* dialog =
      gtk_message_dialog_new(owner, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                             GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s", utf8(text).c_str());
  // GTK 3 message dialogs show no icon of their own any more.
  GdkPixbuf* question = pixbufOf(drawQuestionIcon(48));
  GtkWidget* image = gtk_image_new_from_pixbuf(question);
  if (question) g_object_unref(question);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_widget_show(image);
  gtk_window_set_title(GTK_WINDOW(dialog), utf8(caption).c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response == GTK_RESPONSE_YES;
}

void openFolderInFileManager(GtkWidget* owner, const std::wstring& folder) {
  gchar* uri = g_filename_to_uri(bytes(folder).c_str(), nullptr, nullptr);
  if (!uri) return;
  GdkAppLaunchContext* context =
      owner ? gdk_display_get_app_launch_context(gtk_widget_get_display(owner)) : nullptr;
  g_app_info_launch_default_for_uri_async(uri, context ? G_APP_LAUNCH_CONTEXT(context) : nullptr, nullptr,
                                          launchFinished, nullptr);
  if (context) g_object_unref(context);
  g_free(uri);
}

// "Play now": the game through its handler, in its folder. When nothing can
// start it, nothing happens and the wizard stays open.
bool startGameProcess(const std::wstring& exePath, const std::wstring& workingFolder) {
  std::string exe = bytes(exePath), folder = bytes(workingFolder);
  if (!g_file_test(exe.c_str(), G_FILE_TEST_IS_REGULAR)) return false;
  std::vector<std::string> command = gameCommand(exe);
  if (command.empty()) return false;
  std::vector<gchar*> argv;
  for (std::string& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Without DO_NOT_REAP_CHILD GLib detaches the game: nobody waits for it.
  return g_spawn_async(folder.c_str(), argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                       nullptr);
}

// The desktop shortcut is a launcher file: it runs what "Play now" runs, or
// the game itself when no handler is configured yet.
bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& description) {
  DesktopLauncher launcher;
  launcher.name = kDesktopLauncherName;
  launcher.comment = utf8(description);
  launcher.command = gameCommand(bytes(target));
  if (launcher.command.empty()) launcher.command = {bytes(target)};
  launcher.workingFolder = bytes(workingFolder);
  return writeDesktopLauncher(userDesktopFolder(), kDesktopLauncherFileName, launcher);
}

}  // namespace velmo
