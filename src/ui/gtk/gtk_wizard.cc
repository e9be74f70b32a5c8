// The wizard window on GTK 3: one borderless, fixed-size toplevel holding a
// drawing area that shows the back buffer the controller renders on a 33 ms
// timer. No GTK widget is drawn; all input is hit-tested against the
// regions of the last frame by the wizard controller. The install worker
// never touches GTK: its end is handed to the main loop as an idle call.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "common/utf8.h"
#include "pack/pack_items.h"
#include "platform/platform.h"
#include "ui/cairo/cairo_painter.h"
#include "ui/gtk/gtk_desktop.h"
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
  renderWindowFrame(w->controller, w->graphics, dt, platform().tickCount());
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

GtkWindow* parentOf(WizardWindow* w) { return w->window ? GTK_WINDOW(w->window) : nullptr; }

std::string utf8(const std::wstring& text) { return toUtf8(text); }

WizardDesktop makeDesktop(WizardWindow* w) {
  WizardDesktop d;
  d.chooseXapkFile = [w](std::wstring& path) { return chooseXapkFileDialog(parentOf(w), kXapkChooserTitle, path); };
  d.chooseFolder = [w](const std::wstring& current, std::wstring& folder) {
    return chooseFolderDialog(parentOf(w), kFolderChooserTitle, current, folder);
  };
  d.askYesNo = [w](const std::wstring& text, const std::wstring& caption) {
    return askYesNoDialog(parentOf(w), text, caption);
  };
  d.startGame = startGameProcess;
  d.openFolder = [w](const std::wstring& folder) { openFolderInFileManager(w->window, folder); };
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

int runWizard(const PackContext& context, const std::wstring& xapkPath, const std::wstring& destinationFolder,
              InstallState& install) {
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
  initWizardController(c, context, install, xapkPath, destinationFolder);
  c.desktop = makeDesktop(w);

  Bytes stripArt = readAsset(context.pack, L"bg.png");
  initWizardGraphics(w->graphics, cairoPainter(), stripArt, platform().tickCount());
  startWizardMusic(c, w->music, sdlMusicOutput());
  precheckXapk(c);

  createWindow(w);
  gtk_main();
  return finishWizard(c);
}

}  // namespace velmo
