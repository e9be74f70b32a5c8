// The wizard window on user32: one borderless, fixed 1040x640 popup whose
// every pixel is the GDI+ painter's back buffer, repainted on a 33 ms timer.
// There are no native controls; all input is hit-tested against the regions
// of the last frame by the wizard controller. The install worker only posts
// its end to the window as a message.
#include <objbase.h>
#include <windows.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <atomic>

#include "pack/pack_items.h"
#include "platform/platform.h"
#include "platform/win32/system_dlls.h"
#include "ui/gdiplus/gdiplus_painter.h"
#include "ui/win32/win32_desktop.h"
#include "ui/wizard_controller.h"
#include "ui/wizard_window.h"

namespace velmo {

namespace {

constexpr wchar_t kWindowClassName[] = L"VELMOPatcher";
constexpr UINT_PTR kFrameTimerId = 1;
// Posted by the install worker: wParam 1 on success, 0 otherwise.
constexpr UINT kJobFinishedMessage = WM_APP + 1;
// Posted by the XAPK checking thread when its check has ended.
constexpr UINT kXapkCheckedMessage = WM_APP + 2;

struct WizardWindow {
  WizardController controller;
  MusicPlayer music;
  WizardGraphics graphics;
  AnimationClock clock;
  // Read by the worker to post its end; null once the window is gone.
  std::atomic<HWND> hwnd{nullptr};
  bool busy = false;  // the wait cursor is showing
  // The taskbar button's progress; null where the shell has none.
  ITaskbarList3* taskbar = nullptr;
  TaskbarProgress shownProgress;
  bool holdingSessionEnd = false;  // a shutdown block reason is set
};

// Tells the system why the session should not end while the job moves the
// finished files, and takes the reason back once it is done. Only the
// window's own thread may set it.
void holdSessionEnd(WizardWindow* w, HWND hwnd) {
  bool hold = sessionEndHeldOff(w->controller);
  if (hold == w->holdingSessionEnd) return;
  if (hold) {
    ShutdownBlockReasonCreate(hwnd, kSessionEndBlockReason);
  } else {
    ShutdownBlockReasonDestroy(hwnd);
  }
  w->holdingSessionEnd = hold;
}

// Sent by the shell once the window's taskbar button exists (and again
// after the shell restarts).
const UINT kTaskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");

void connectTaskbar(WizardWindow* w) {
  if (w->taskbar) return;
  ITaskbarList3* taskbar = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&taskbar)))) {
    return;
  }
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    return;
  }
  w->taskbar = taskbar;
  w->shownProgress = TaskbarProgress{};
}

// Shows the job on the taskbar button, only when it changed.
void updateTaskbar(WizardWindow* w, HWND hwnd) {
  if (!w->taskbar) return;
  TaskbarProgress now = taskbarProgress(w->controller.state, *w->controller.install);
  if (now == w->shownProgress) return;
  if (now.kind == TaskbarProgressKind::None) {
    w->taskbar->SetProgressState(hwnd, TBPF_NOPROGRESS);
  } else {
    w->taskbar->SetProgressValue(hwnd, now.done, now.total);
    w->taskbar->SetProgressState(hwnd, now.kind == TaskbarProgressKind::Error ? TBPF_ERROR : TBPF_NORMAL);
  }
  w->shownProgress = now;
}

// One step of the wait for a stopping job after a close: serves the window's
// messages for up to ms, so that its frames keep painting and the system
// never takes it for hung. Presses and keys are dropped; a quit is put back
// for the message loop.
void serveWindowWhileClosing(uint32_t ms) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      return;
    }
    bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                 (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST) ||
                 (msg.message >= WM_NCMOUSEMOVE && msg.message <= WM_NCXBUTTONDBLCLK);
    if (input) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void paintFrame(WizardWindow* w, HDC dc, float dt) {
  CanvasImage* frame = renderWindowFrame(w->controller, w->graphics, dt, platform().tickCount());
  if (frame) presentImage(*frame, dc, 0, 0);
}

void setArrowOrHand(bool hand) { SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW)); }

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* w = reinterpret_cast<WizardWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    w = static_cast<WizardWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    w->hwnd = hwnd;
  }
  if (!w) return DefWindowProcW(hwnd, message, wParam, lParam);
  WizardController& c = w->controller;
  if (message == kTaskbarButtonCreated) {
    connectTaskbar(w);
    return 0;
  }
  // Client coordinates are the signed low and high words.
  float x = float(GET_X_LPARAM(lParam)), y = float(GET_Y_LPARAM(lParam));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (dc) paintFrame(w, dc, 0);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER: {
      float dt = animationStep(w->clock, platform().tickCount());
      if (HDC dc = GetDC(hwnd)) {
        paintFrame(w, dc, dt);
        ReleaseDC(hwnd, dc);
      }
      updateTaskbar(w, hwnd);
      holdSessionEnd(w, hwnd);
      return 0;
    }
    case WM_QUERYENDSESSION:
      holdSessionEnd(w, hwnd);
      return w->holdingSessionEnd ? FALSE : TRUE;
    case WM_ENDSESSION:
      // Once this returns the process may end at any moment.
      if (wParam) wizardSessionEnding(c);
      return 0;
    case WM_SETCURSOR:
      // Inside the client area the cursor is set on every mouse move.
      if (LOWORD(lParam) == HTCLIENT) return 1;
      break;
    case WM_MOUSEMOVE: {
      bool hand = handleMotion(c.state, x, y);
      if (w->busy) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      } else {
        setArrowOrHand(hand);
      }
      TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&track);
      return 0;
    }
    case WM_MOUSELEAVE:
      handleLeave(c.state);
      return 0;
    case WM_LBUTTONDOWN:
      if (handlePress(c, x, y).kind == PressKind::Drag) {
        // The system moves the window as if its caption had been pressed.
        ReleaseCapture();
        SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      }
      return 0;
    case WM_CLOSE:
      // The closing rules decide; they destroy the window themselves.
      requestWindowClose(c);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, kFrameTimerId);
      if (w->taskbar) {
        w->taskbar->Release();
        w->taskbar = nullptr;
      }
      w->hwnd = nullptr;
      c.windowClosed = true;
      PostQuitMessage(0);
      return 0;
    case kJobFinishedMessage:
      wizardJobFinished(c, wParam != 0);
      return 0;
    case kXapkCheckedMessage:
      wizardXapkChecked(c);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void post(WizardWindow* w, UINT message, WPARAM wParam) {
  if (HWND hwnd = w->hwnd.load()) PostMessageW(hwnd, message, wParam, 0);
}

WizardDesktop makeDesktop(WizardWindow* w) {
  WizardDesktop d;
  d.chooseXapkFile = [w](std::wstring& path) { return chooseXapkFileDialog(w->hwnd.load(), kXapkChooserTitle, path); };
  d.chooseFolder = [w](const std::wstring& current, std::wstring& folder) {
    return chooseFolderDialog(w->hwnd.load(), kFolderChooserTitle, current, folder);
  };
  d.startGame = startGameProcess;
  d.openFolder = [w](const std::wstring& folder) { openFolderInShell(w->hwnd.load(), folder); };
  d.createDesktopShortcut = createDesktopShortcut;
  d.askYesNo = [w](const std::wstring& text, const std::wstring& caption) {
    return MessageBoxW(w->hwnd.load(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
  };
  d.setBusyCursor = [w](bool busy) {
    w->busy = busy;
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  };
  d.minimizeWindow = [w] {
    if (HWND hwnd = w->hwnd.load()) ShowWindow(hwnd, SW_MINIMIZE);
  };
  d.postClose = [w] { post(w, WM_CLOSE, 0); };
  d.waitWhileClosing = serveWindowWhileClosing;
  d.destroyWindow = [w] {
    if (HWND hwnd = w->hwnd.load()) DestroyWindow(hwnd);
  };
  // On the worker thread: only the message. Once the window is gone it is
  // lost, as the closing rules expect.
  d.postJobFinished = [w](bool ok) { post(w, kJobFinishedMessage, ok ? 1 : 0); };
  d.postXapkChecked = [w] { post(w, kXapkCheckedMessage, 0); };
  return d;
}

// The show command the program was started with.
int startShowCommand() {
  STARTUPINFOW info{};
  info.cb = sizeof(info);
  GetStartupInfoW(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

bool createWindow(WizardWindow* w) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.style = CS_DROPSHADOW;
  cls.lpfnWndProc = windowProc;
  cls.hInstance = instance;
  cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.lpszClassName = kWindowClassName;
  if (!RegisterClassExW(&cls)) return false;

  // Centred in the primary monitor's work area (halves truncated toward
  // zero, as the window may be larger than the area).
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int x = work.left + (work.right - work.left - kWindowWidth) / 2;
  int y = work.top + (work.bottom - work.top - kWindowHeight) / 2;
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWizardTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                              x, y, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, w);
  if (!hwnd) return false;
  // Run as administrator, the window would not get the shell's message
  // (one above WM_USER, from a lower integrity level) without this.
  ChangeWindowMessageFilterEx(hwnd, kTaskbarButtonCreated, MSGFLT_ALLOW, nullptr);
  ShowWindow(hwnd, startShowCommand());
  SetTimer(hwnd, kFrameTimerId, kFrameIntervalMs, nullptr);
  return true;
}

}  // namespace

int runWizard(const PackContext& context, const std::wstring& xapkPath, const std::wstring& destinationFolder,
              InstallState& install) {
  // One layout unit is one device pixel on every monitor.
  becomePerMonitorDpiAware();
  // The shell's dialogs want an apartment on the window thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // Without GDI+ the frames stay empty; the wizard still works.
  startGdiplus();

  // Never freed: a worker that outlived the window may still announce its end.
  WizardWindow* w = new WizardWindow;
  WizardController& c = w->controller;
  initWizardController(c, context, install, xapkPath, destinationFolder);
  c.desktop = makeDesktop(w);

  Bytes stripArt = readAsset(context.pack, L"bg.png");
  initWizardGraphics(w->graphics, gdiplusPainter(), stripArt, platform().tickCount());
  startWizardMusic(c, w->music, waveOutMusicOutput());
  precheckXapk(c);

  if (!createWindow(w)) {
    MessageBoxW(nullptr, L"The wizard window could not be created.", kWizardTitle, MB_OK | MB_ICONERROR);
    return finishWizard(c);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return finishWizard(c);
}

}  // namespace velmo
