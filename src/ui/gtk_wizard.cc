// The wizard window on GTK 3: one borderless, fixed-size toplevel holding a
// drawing area that shows the back buffer paintWizard renders on a 33 ms
// timer. No GTK widget is drawn; all input is hit-tested against the
// regions of the last frame by the wizard controller. The install worker
// never touches GTK: its end is handed to the main loop as an idle call.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "pack/pack_items.h"
#include "platform/platform.h"
#include "ui/cairo_painter.h"
#include "ui/desktop_launcher.h"
#include "ui/wizard_controller.h"
#include "ui/wizard_window.h"

namespace velmo {

namespace {

struct WizardWindow {
  WizardController controller;
  WizardGraphics graphics;
  MusicPlayer music;
  AnimationClock clock;
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  guint timer = 0;
  bool frameReady = false;
  bool handCursor = false;
};

// Sets a named cursor on the drawing area; null name: the default arrow.
void setCursor(WizardWindow* w, const char* name, GdkCursorType fallback) {
  if (!w->area) return;
  GdkWindow* gdkWindow = gtk_widget_get_window(w->area);
  if (!gdkWindow) return;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  GdkCursor* cursor = nullptr;
  if (name) {
    cursor = gdk_cursor_new_from_name(display, name);
    if (!cursor) cursor = gdk_cursor_new_for_display(display, fallback);
  }
  gdk_window_set_cursor(gdkWindow, cursor);
  if (cursor) g_object_unref(cursor);
  // The caller may keep the thread busy next; the server must see it now.
  gdk_display_flush(display);
}

void render(WizardWindow* w, float dt) {
  paintWizard(w->graphics, w->controller.state, w->controller.options, *w->controller.install,
              w->controller.startup, dt, platform().tickCount());
  w->frameReady = true;
}

gboolean onTimer(gpointer data) {
  WizardWindow* w = static_cast<WizardWindow*>(data);
  render(w, animationStep(w->clock, platform().tickCount()));
  gtk_widget_queue_draw(w->area);
  return G_SOURCE_CONTINUE;
}

gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  WizardWindow* w = static_cast<WizardWindow*>(data);
  // An expose before the first timer frame renders without advancing time.
  if (!w->frameReady) render(w, 0);
  cairo_surface_t* frame = w->graphics.backBuffer ? cairoSurface(*w->graphics.backBuffer) : nullptr;
  if (!frame) return TRUE;
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, frame, 0, 0);
  cairo_paint(cr);
  return TRUE;
}

gboolean onMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  WizardWindow* w = static_cast<WizardWindow*>(data);
  bool hand = handleMotion(w->controller.state, float(event->x), float(event->y));
  if (hand != w->handCursor) {
    w->handCursor = hand;
    setCursor(w, hand ? "pointer" : nullptr, GDK_HAND2);
  }
  return TRUE;
}

gboolean onLeave(GtkWidget*, GdkEventCrossing*, gpointer data) {
  handleLeave(static_cast<WizardWindow*>(data)->controller.state);
  return FALSE;
}

gboolean onPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  WizardWindow* w = static_cast<WizardWindow*>(data);
  // Each press of a double click also arrives as a plain press.
  if (event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
  // Read before the action: a chooser or the closing window may free what
  // the event points to.
  int button = int(event->button);
  int rootX = int(event->x_root), rootY = int(event->y_root);
  guint32 time = event->time;
  PressResult result = handlePress(w->controller, float(event->x), float(event->y));
  if (result.kind == PressKind::Drag && w->window) {
    gtk_window_begin_move_drag(GTK_WINDOW(w->window), button, rootX, rootY, time);
  }
  return TRUE;
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
  // The closing rules decide; they destroy the window themselves.
  requestWindowClose(static_cast<WizardWindow*>(data)->controller);
  return TRUE;
}

void onDestroy(GtkWidget*, gpointer data) {
  WizardWindow* w = static_cast<WizardWindow*>(data);
  if (w->timer) g_source_remove(w->timer);
  w->timer = 0;
  w->window = nullptr;
  w->area = nullptr;
  w->controller.windowClosed = true;
  gtk_main_quit();
}

gboolean closeIdle(gpointer data) {
  requestWindowClose(static_cast<WizardWindow*>(data)->controller);
  return G_SOURCE_REMOVE;
}

struct JobFinishedNote {
  WizardWindow* window;
  bool ok;
};

gboolean jobFinishedIdle(gpointer data) {
  JobFinishedNote* note = static_cast<JobFinishedNote*>(data);
  wizardJobFinished(note->window->controller, note->ok);
  return G_SOURCE_REMOVE;
}

void freeJobFinishedNote(gpointer data) { delete static_cast<JobFinishedNote*>(data); }

gboolean xapkCheckedIdle(gpointer data) {
  wizardXapkChecked(static_cast<WizardWindow*>(data)->controller);
  return G_SOURCE_REMOVE;
}

// --- desktop services -------------------------------------------------------

GtkWindow* parentOf(WizardWindow* w) { return w->window ? GTK_WINDOW(w->window) : nullptr; }

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

bool chooseXapkFile(WizardWindow* w, std::wstring& path) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      utf8(kXapkChooserTitle).c_str(), parentOf(w), GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
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

bool chooseFolder(WizardWindow* w, const std::wstring& current, std::wstring& folder) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      utf8(kFolderChooserTitle).c_str(), parentOf(w), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select", "_Cancel");
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

GdkPixbuf* pixbufOf(const std::unique_ptr<CanvasImage>& icon) {
  cairo_surface_t* surface = icon ? cairoSurface(*icon) : nullptr;
  if (!surface) return nullptr;
  return gdk_pixbuf_get_from_surface(surface, 0, 0, icon->width(), icon->height());
}

// The program's icon at the sizes taskbars and switchers ask for; every
// window of the process, dialogs included, shows it.
void setProgramIcon() {
  GList* icons = nullptr;
  for (int size : {16, 32, 48, 64, 128}) {
    if (GdkPixbuf* icon = pixbufOf(drawProgramIcon(size))) icons = g_list_append(icons, icon);
  }
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
}

bool askYesNo(WizardWindow* w, const std::wstring& text, const std::wstring& caption) {
  GtkWidget* dialog =
      gtk_message_dialog_new(parentOf(w), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
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

void launchFinished(GObject*, GAsyncResult* result, gpointer) {
  // Nothing to report: the wizard shows no message for a folder that could
  // not be opened.
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &error)) g_clear_error(&error);
}

void openFolder(WizardWindow* w, const std::wstring& folder) {
  gchar* uri = g_filename_to_uri(bytes(folder).c_str(), nullptr, nullptr);
  if (!uri) return;
  GdkAppLaunchContext* context =
      w->window ? gdk_display_get_app_launch_context(gtk_widget_get_display(w->window)) : nullptr;
  g_app_info_launch_default_for_uri_async(uri, context ? G_APP_LAUNCH_CONTEXT(context) : nullptr, nullptr,
                                          launchFinished, nullptr);
  if (context) g_object_unref(context);
  g_free(uri);
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

// "Play now": the game through its handler, in its folder. When nothing can
// start it, nothing happens and the wizard stays open.
bool startGame(const std::wstring& exePath, const std::wstring& workingFolder) {
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

WizardDesktop makeDesktop(WizardWindow* w) {
  WizardDesktop d;
  d.chooseXapkFile = [w](std::wstring& path) { return chooseXapkFile(w, path); };
  d.chooseFolder = [w](const std::wstring& current, std::wstring& folder) { return chooseFolder(w, current, folder); };
  d.askYesNo = [w](const std::wstring& text, const std::wstring& caption) { return askYesNo(w, text, caption); };
  d.startGame = startGame;
  d.openFolder = [w](const std::wstring& folder) { openFolder(w, folder); };
  d.createDesktopShortcut = createDesktopShortcut;
  d.setBusyCursor = [w](bool busy) {
    w->handCursor = false;
    setCursor(w, busy ? "wait" : nullptr, GDK_WATCH);
  };
  d.minimizeWindow = [w] {
    if (w->window) gtk_window_iconify(GTK_WINDOW(w->window));
  };
  d.postClose = [w] { g_idle_add(closeIdle, w); };
  d.destroyWindow = [w] {
    if (w->window) gtk_widget_destroy(w->window);
  };
  // On the worker thread: only queue the note for the main loop.
  d.postJobFinished = [w](bool ok) {
    g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, jobFinishedIdle, new JobFinishedNote{w, ok},
                               freeJobFinishedNote);
  };
  d.postXapkChecked = [w] { g_main_context_invoke(nullptr, xapkCheckedIdle, w); };
  return d;
}

void createWindow(WizardWindow* w) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  w->window = window;
  gtk_window_set_title(GTK_WINDOW(window), utf8(kWizardTitle).c_str());
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), kWindowWidth, kWindowHeight);

  GtkWidget* area = gtk_drawing_area_new();
  w->area = area;
  gtk_widget_set_size_request(area, kWindowWidth, kWindowHeight);
  gtk_widget_add_events(area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_LEAVE_NOTIFY_MASK);
  gtk_container_add(GTK_CONTAINER(window), area);

  g_signal_connect(area, "draw", G_CALLBACK(onDraw), w);
  g_signal_connect(area, "motion-notify-event", G_CALLBACK(onMotion), w);
  g_signal_connect(area, "leave-notify-event", G_CALLBACK(onLeave), w);
  g_signal_connect(area, "button-press-event", G_CALLBACK(onPress), w);
  g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), w);
  g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), w);

  // Centred in the primary monitor's work area (integer halves, as the
  // window may be larger than the area).
  GdkDisplay* display = gtk_widget_get_display(window);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  if (monitor) {
    GdkRectangle work{};
    gdk_monitor_get_workarea(monitor, &work);
    gtk_window_move(GTK_WINDOW(window), work.x + (work.width - kWindowWidth) / 2,
                    work.y + (work.height - kWindowHeight) / 2);
  }
  gtk_widget_show_all(window);
  w->timer = g_timeout_add(kFrameIntervalMs, onTimer, w);
}

}  // namespace

int runWizard(Startup& startup, InstallState& install) {
  g_set_prgname("velmo-patcher");
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr,
                 "velmo-patcher: cannot open a display for the wizard window "
                 "(for an unattended install use /auto <xapk> <dest>)\n");
    return 1;
  }
  g_set_application_name(utf8(kWizardTitle).c_str());
  setProgramIcon();

  // Never freed: a worker that outlived the window may still announce its end.
  WizardWindow* w = new WizardWindow;
  WizardController& c = w->controller;
  initWizardController(c, startup, install);
  c.desktop = makeDesktop(w);

  Bytes stripArt = readAsset(startup.pack, L"bg.png");
  initWizardGraphics(w->graphics, cairoPainter(), stripArt, platform().tickCount());
  startWizardMusic(c, w->music, sdlMusicOutput());
  precheckXapk(c);

  createWindow(w);
  gtk_main();
  return finishWizard(c);
}

}  // namespace velmo
