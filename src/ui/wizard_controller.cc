#include "ui/wizard_controller.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "pack/pack_items.h"
#include "platform/platform.h"
#include "xapk/xapk_extract.h"

namespace velmo {

namespace {

bool is(int32_t id, WizardAction a) { return id == int32_t(a); }

void setBusy(WizardController& c, bool busy) {
  if (c.desktop.setBusyCursor) c.desktop.setBusyCursor(busy);
}

void postClose(WizardController& c) {
  if (c.desktop.postClose) c.desktop.postClose();
}

// Checks the chosen XAPK afresh, with the wait cursor. Opening may copy a
// compressed inner archive out of the XAPK, which takes seconds for a large
// one, so it runs on its own thread whenever the window can take the end
// back; the window keeps drawing meanwhile. The fields change as they would
// in a check on the window thread: the message only to the result, and no
// press acts until then.
void beginXapkCheck(WizardController& c, bool forInstall, bool onThread = true) {
  closeXapk(c.source);
  c.state.xapkValid = false;
  c.state.checkingXapk = true;
  c.xapkCheck = XapkCheckResult{};
  c.xapkCheck.forInstall = forInstall;
  setBusy(c, true);
  if (onThread && c.desktop.postXapkChecked) {
    c.xapkCheckRunning = true;
    try {
      std::thread([&c, path = c.state.xapkPath] {
        c.xapkCheck.ok = openAndCheckXapk(c.source, *c.pack, path, c.xapkCheck.text);
        c.xapkCheckRunning = false;
        c.desktop.postXapkChecked();
      }).detach();
      return;
    } catch (const std::system_error&) {
      c.xapkCheckRunning = false;  // checked here instead
    }
  }
  c.xapkCheck.ok = openAndCheckXapk(c.source, *c.pack, c.state.xapkPath, c.xapkCheck.text);
  wizardXapkChecked(c);
}

// Starts the job on a source that is open and checked.
void launchJob(WizardController& c) {
  InstallState& install = *c.install;
  c.state.screen = WizardScreen::Installing;
  // Filled once: the worker of the previous job may still be reading them
  // for a moment after it cleared jobRunning.
  if (!c.job.jobFinished) {
    bindInstallJob(c.job, *c.pack, c.source, c.options, install);
    c.job.jobFinished = [&c](bool ok) {
      c.jobInFlight = false;
      if (c.desktop.postJobFinished) c.desktop.postJobFinished(ok);
    };
  }
  c.jobInFlight = true;
  if (!startInstallWorker(c.job)) {
    c.jobInFlight = false;
    setErrorText(install, kInstallNotStartedText);
    c.state.screen = WizardScreen::Failed;
  }
}

void browseXapk(WizardController& c) {
  std::wstring path;
  if (!c.desktop.chooseXapkFile || !c.desktop.chooseXapkFile(path) || path.empty()) return;
  c.state.xapkPath = path;
  beginXapkCheck(c, false);
}

void browseDestination(WizardController& c) {
  std::wstring folder;
  if (!c.desktop.chooseFolder || !c.desktop.chooseFolder(c.options.destinationFolder, folder) || folder.empty()) {
    return;
  }
  c.options.destinationFolder = destinationForChosenFolder(folder);
}

std::wstring gameExePath(const WizardController& c) { return joinPath(c.options.destinationFolder, kGameExeName); }

// Starts a query of the free space of c's destination on its own thread.
void askFreeSpace(WizardController& c, uint32_t nowTick) {
  FreeSpaceWatch& w = c.freeSpace;
  std::shared_ptr<FreeSpaceWatch::Answer> answer = w.answer;
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(answer->lock);
    answer->busy = true;
    generation = answer->generation;
  }
  w.askedAt = nowTick;
  try {
    std::thread([answer, generation, folder = w.folder] {
      FreeSpaceFigure figure = queryFreeSpace(folder);
      std::lock_guard<std::mutex> hold(answer->lock);
      // An answer about an earlier destination is dropped.
      if (answer->generation != generation) return;
      answer->figure = figure;
      answer->answered = true;
      answer->busy = false;
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> hold(answer->lock);
    answer->busy = false;  // not known; asked again at the next refresh
  }
}

void refreshFreeSpace(WizardController& c, uint32_t nowTick) {
  FreeSpaceWatch& w = c.freeSpace;
  FreeSpaceFigure& shown = c.state.shown.freeSpace;
  const std::wstring& dest = c.options.destinationFolder;
  FreeSpaceWatch::Answer& answer = *w.answer;
  bool changed = !w.asked || dest != w.folder;
  bool busy = false;
  {
    std::lock_guard<std::mutex> hold(answer.lock);
    if (changed) {
      ++answer.generation;
      answer.busy = false;
      answer.answered = false;
    }
    busy = answer.busy;
  }
  if (changed) {
    w.folder = dest;
    w.asked = true;
  }
  if (!dest.empty() && (changed || (!busy && nowTick - w.askedAt >= kFreeSpaceRefreshMs))) askFreeSpace(c, nowTick);
  std::lock_guard<std::mutex> hold(answer.lock);
  shown = answer.answered ? answer.figure : FreeSpaceFigure{};
}

}  // namespace

void initWizardController(WizardController& c, const PackContext& context, InstallState& install,
                          const std::wstring& xapkPath, const std::wstring& destinationFolder) {
  c.state.shown.packOk = context.packOk;
  c.state.shown.packErrorText = context.packErrorText;
  c.state.shown.packHasBundles = context.packHasBundles;
  c.pack = &context.pack;
  c.install = &install;
  c.state.xapkPath = xapkPath;
  c.options.destinationFolder = destinationFolder;
}

void showInstallProgress(WizardShown& shown, InstallState& install) {
  shown.bytesDone = install.bytesDone.load();
  shown.bytesTotal = install.bytesTotal.load();
  shown.startTick = install.startTick.load();
  shown.cancelRequested = install.cancelRequested.load();
  shown.jobRunning = install.jobRunning.load();
  shown.currentFile = copyCurrentFile(install);
  shown.errorText = copyErrorText(install);
}

FreeSpaceFigure queryFreeSpace(const std::wstring& destinationFolder) {
  FreeSpaceFigure figure;
  if (destinationFolder.empty()) return figure;
  std::wstring root = volumeRoot(destinationFolder);
  if (!platform().freeSpace(root, figure.bytes)) return FreeSpaceFigure{};
  figure.known = true;
  figure.label = volumeLabel(root);
  return figure;
}

void refreshWizardShown(WizardController& c, uint32_t nowTick) {
  showInstallProgress(c.state.shown, *c.install);
  if (!c.planned || c.plannedStripArt != c.options.useStripArt || c.plannedLauncher != c.options.createLauncher) {
    c.state.shown.plannedBytes = planInstallBytes(*c.pack, c.options);
    c.planned = true;
    c.plannedStripArt = c.options.useStripArt;
    c.plannedLauncher = c.options.createLauncher;
  }
  // Only the destination screen shows the figure.
  if (c.state.screen == WizardScreen::ChooseDestination) refreshFreeSpace(c, nowTick);
}

CanvasImage* renderWindowFrame(WizardController& c, WizardGraphics& graphics, float dt, uint32_t nowTick) {
  refreshWizardShown(c, nowTick);
  return paintWizard(graphics, c.state, c.options, dt, nowTick);
}

void startWizardMusic(WizardController& c, MusicPlayer& player, const MusicOutputOps& output) {
  Bytes a = readAsset(*c.pack, L"music_a.pcm");
  Bytes b = readAsset(*c.pack, L"music_b.pcm");
  if (startMusic(player, a, b, output)) c.music = &player;
  c.state.musicAvailable = musicAvailable(player);
}

void precheckXapk(WizardController& c) {
  if (c.state.xapkPath.empty()) return;
  // Before the window exists there is nothing to keep drawing, nor anything
  // to hand the end back to.
  beginXapkCheck(c, false, false);
}

void wizardXapkChecked(WizardController& c) {
  if (c.windowClosed || !c.state.checkingXapk) return;
  c.state.checkingXapk = false;
  setBusy(c, false);
  XapkCheckResult& r = c.xapkCheck;
  c.state.xapkValid = r.ok;
  if (!r.forInstall) {
    c.state.xapkMessage = r.text;
  } else if (!r.ok) {
    setErrorText(*c.install, r.text);
    c.state.screen = WizardScreen::Failed;
  } else if (c.state.screen == WizardScreen::ChooseDestination) {
    launchJob(c);
  }
}

void startInstall(WizardController& c) {
  InstallState& install = *c.install;
  // A press that reached an old frame's "Install" must not start a second job.
  if (install.jobRunning || c.jobInFlight || c.state.checkingXapk) return;
  if (!c.source.isOpen) {
    // After an earlier job: re-open and re-check, then go on.
    beginXapkCheck(c, true);
    return;
  }
  if (!c.state.xapkValid) {
    setErrorText(install, kChooseValidXapkText);
    c.state.screen = WizardScreen::Failed;
    return;
  }
  launchJob(c);
}

void wizardJobFinished(WizardController& c, bool ok) {
  // The window is gone: the message is lost, as a message to a destroyed
  // window would be; finishWizard closes the source.
  if (c.windowClosed) return;
  if (ok) {
    c.state.screen = WizardScreen::Finished;
  } else {
    {
      std::lock_guard<std::mutex> hold(c.install->stateLock);
      if (c.install->errorText.empty()) c.install->errorText = kInstallStoppedText;
    }
    c.state.screen = WizardScreen::Failed;
  }
  // Deletes the temporary copies; the next "Install" re-opens and re-checks.
  closeXapk(c.source);
}

namespace {

// Until the job (and its clean-up) and any XAPK check have ended: each step
// keeps the window painting where the back end can. A close request
// delivered meanwhile is not acted on.
void waitForJobAndCheck(WizardController& c) {
  c.waitingToClose = true;
  while (c.install->jobRunning || c.jobInFlight || c.xapkCheckRunning) {
    if (c.desktop.waitWhileClosing) {
      c.desktop.waitWhileClosing(kCloseWaitStepMs);
    } else {
      platform().sleepMs(kCloseWaitStepMs);
    }
  }
  c.waitingToClose = false;
}

}  // namespace

bool requestWindowClose(WizardController& c) {
  if (c.windowClosed) return true;
  InstallState& install = *c.install;
  if (c.askingToClose || c.waitingToClose) return false;
  if (install.jobRunning) {
    c.askingToClose = true;
    bool yes = c.desktop.askYesNo && c.desktop.askYesNo(kStopInstallQuestion, kWizardTitle);
    c.askingToClose = false;
    if (!yes) return false;
    install.cancelRequested = true;
  }
  // Holds the window thread here on purpose: the worker never waits for it,
  // and the job stops only at its next cancel poll (inside a started copy,
  // delta or bundle too), then cleans up. Waiting for the announcement
  // rather than jobRunning alone also covers a job that has just cleared
  // jobRunning but not yet set the exit code. A running XAPK check is
  // waited for too: it may still write the source.
  waitForJobAndCheck(c);
  c.windowClosed = true;
  if (c.desktop.destroyWindow) c.desktop.destroyWindow();
  return true;
}

bool sessionEndHeldOff(const WizardController& c) { return c.install->jobRunning && c.install->movingIntoPlace; }

void wizardSessionEnding(WizardController& c) {
  if (c.install->jobRunning || c.jobInFlight) c.install->cancelRequested = true;
  waitForJobAndCheck(c);
  // The temporary copies of the APK and the OBB go too.
  closeXapk(c.source);
}

void performAction(WizardController& c, int32_t action) {
  WizardState& s = c.state;
  switch (WizardAction(action)) {
    case WizardAction::BrowseXapk:
      browseXapk(c);
      break;
    case WizardAction::NextToDestination:
      if (s.xapkValid) s.screen = WizardScreen::ChooseDestination;
      break;
    case WizardAction::BackToXapk:
      if (s.screen == WizardScreen::ChooseDestination) s.screen = WizardScreen::ChooseXapk;
      break;
    case WizardAction::BrowseDestination:
      browseDestination(c);
      break;
    case WizardAction::StartInstall:
      startInstall(c);
      break;
    case WizardAction::CancelInstall:
      c.install->cancelRequested = true;
      break;
    case WizardAction::PlayNow:
      if (c.desktop.startGame && c.desktop.startGame(gameExePath(c), c.options.destinationFolder)) postClose(c);
      break;
    case WizardAction::OpenFolder:
      if (c.desktop.openFolder) c.desktop.openFolder(c.options.destinationFolder);
      break;
    case WizardAction::CreateShortcut:
      // Only a shortcut that was written is reported; otherwise the button
      // stays, to be pressed again (a Desktop that protected-folder rules
      // guard refuses the write).
      s.shortcutCreated = c.desktop.createDesktopShortcut &&
                          c.desktop.createDesktopShortcut(gameExePath(c), c.options.destinationFolder,
                                                          kShortcutDescription);
      break;
    case WizardAction::CloseWindow:
    case WizardAction::CloseFinished:
      postClose(c);
      break;
    case WizardAction::Minimize:
      if (c.desktop.minimizeWindow) c.desktop.minimizeWindow();
      break;
    case WizardAction::ToggleMute:
      s.muted = !s.muted;
      // Before the device opens only the flag (and the glyph) changes.
      if (c.music) setMusicMuted(*c.music, s.muted);
      break;
    case WizardAction::BackToDestination:
      s.screen = WizardScreen::ChooseDestination;
      break;
    case WizardAction::ToggleStripArt:
      c.options.useStripArt = !c.options.useStripArt;
      break;
    case WizardAction::ToggleLauncher:
      c.options.createLauncher = !c.options.createLauncher;
      break;
    default:
      break;
  }
}

bool actionShownOn(WizardScreen screen, int32_t action, bool musicAvailable) {
  if (is(action, WizardAction::CloseWindow) || is(action, WizardAction::Minimize)) return true;
  if (is(action, WizardAction::ToggleMute)) return musicAvailable;
  switch (screen) {
    case WizardScreen::ChooseXapk:
      return is(action, WizardAction::BrowseXapk) || is(action, WizardAction::NextToDestination);
    case WizardScreen::ChooseDestination:
      return is(action, WizardAction::BackToXapk) || is(action, WizardAction::BrowseDestination) ||
             is(action, WizardAction::StartInstall) || is(action, WizardAction::ToggleStripArt) ||
             is(action, WizardAction::ToggleLauncher);
    case WizardScreen::Installing:
      return is(action, WizardAction::CancelInstall);
    case WizardScreen::Finished:
      return is(action, WizardAction::PlayNow) || is(action, WizardAction::OpenFolder) ||
             is(action, WizardAction::CreateShortcut) || is(action, WizardAction::CloseFinished);
    case WizardScreen::Failed:
      return is(action, WizardAction::BackToDestination);
  }
  return false;
}

PressResult handlePress(WizardController& c, float x, float y) {
  WizardState& s = c.state;
  s.mouseX = x;
  s.mouseY = y;
  // Copied first: a modal chooser inside the action lets the frame timer
  // run, which rebuilds the region lists.
  int32_t id = 0;
  bool enabled = true;
  if (const ToggleRegion* t = toggleAt(s, x, y)) {
    id = t->id;
  } else if (const ButtonRegion* b = buttonAt(s, x, y)) {
    id = b->id;
    enabled = b->enabled;
  } else {
    return y < kDragBandHeight ? PressResult{PressKind::Drag, 0} : PressResult{};
  }
  // While an XAPK check runs no press acts, the title bar's included: on the
  // window thread the check would have held them all back.
  if (!enabled || !actionShownOn(s.screen, id, s.musicAvailable) || s.checkingXapk) {
    return {PressKind::Swallowed, id};
  }
  performAction(c, id);
  return {PressKind::Action, id};
}

bool handleMotion(WizardState& state, float x, float y) {
  state.mouseX = x;
  state.mouseY = y;
  // The wait cursor of a running check stays.
  const ButtonRegion* b = buttonAt(state, x, y);
  return b && b->enabled && !state.checkingXapk;
}

void handleLeave(WizardState& state) {
  state.mouseX = -1;
  state.mouseY = -1;
}

float animationStep(AnimationClock& clock, uint32_t nowTick) {
  if (!clock.started) {
    clock.started = true;
    clock.last = nowTick;
  }
  float dt = float(uint32_t(nowTick - clock.last)) / 1000.0f;
  clock.last = nowTick;
  return dt < kMaxAnimationStep ? dt : kMaxAnimationStep;
}

std::wstring destinationForChosenFolder(const std::wstring& chosen) {
  const PlatformOps& os = platform();
  std::vector<DirEntry> entries;
  // A folder that cannot be listed counts as empty. A chosen link or
  // junction is looked through: what counts is the folder it leads to.
  bool empty = !os.listLinkedDirectory(chosen, entries) || entries.empty();
  bool hasGame = os.pathExists(joinPath(chosen, kGameExeName));
  if (!empty && !hasGame) return joinPath(chosen, kGameSubfolderName);
  return chosen;
}

int finishWizard(WizardController& c) {
  if (c.music) {
    musicStop(*c.music);
    waitMusicThreadEnd(*c.music, kMusicStopWaitMs);
  }
  closeXapk(c.source);
  return c.install->exitCode;
}

TaskbarProgress taskbarProgress(const WizardState& state, const InstallState& install) {
  TaskbarProgress p;
  if (state.screen != WizardScreen::Installing && state.screen != WizardScreen::Failed) return p;
  p.kind = state.screen == WizardScreen::Installing ? TaskbarProgressKind::Normal : TaskbarProgressKind::Error;
  p.total = install.bytesTotal.load();
  p.done = std::min(install.bytesDone.load(), p.total);
  if (p.total == 0) {
    // Nothing planned yet (or a job that failed before planning): an empty
    // bar while installing, a full red one on the failed screen.
    p.total = 1;
    p.done = p.kind == TaskbarProgressKind::Error ? 1 : 0;
  }
  return p;
}

}  // namespace velmo
