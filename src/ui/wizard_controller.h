#pragma once
// The wizard's behaviour apart from the window system: the screen state
// machine, the actions, starting the install job and taking its end, the
// closing rules, and press, motion and leave handling against the hit
// regions of the last painted frame. Whatever needs the desktop (choosers,
// the question box, starting programs, the shortcut, the window itself)
// comes in through WizardDesktop, so all of it runs in tests without a
// display. Everything here runs on the window thread except
// WizardDesktop::postJobFinished, which the install worker calls.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/music_player.h"
#include "install/install_driver.h"
#include "install/install_job.h"
#include "install/install_state.h"
#include "ui/wizard_paint.h"
#include "ui/wizard_state.h"
#include "xapk/xapk_source.h"

namespace velmo {

constexpr wchar_t kWizardTitle[] = L"VELMO Patcher";
constexpr wchar_t kGameExeName[] = L"VELMO.exe";
constexpr wchar_t kGameSubfolderName[] = L"VELMO";
constexpr wchar_t kShortcutDescription[] = L"Harrowmere for Windows";
constexpr wchar_t kChooseValidXapkText[] = L"Choose a valid XAPK first.";
constexpr wchar_t kInstallStoppedText[] = L"The installation stopped.";
constexpr wchar_t kInstallNotStartedText[] = L"The installation could not be started.";
constexpr wchar_t kStopInstallQuestion[] = L"Stop the installation?";
constexpr wchar_t kXapkChooserTitle[] = L"Choose the VELMO 1.0.7 XAPK";
constexpr wchar_t kFolderChooserTitle[] = L"Folder for the VELMO Windows game";

// A press above this line that hits no region drags the window.
constexpr float kDragBandHeight = 60;
constexpr uint32_t kFrameIntervalMs = 33;
// The animation never jumps further than this, even after the window thread
// was busy (a synchronous XAPK check, a modal dialog).
constexpr float kMaxAnimationStep = 0.1f;
// How often the window thread looks at jobRunning after "Stop the
// installation?" was answered Yes.
constexpr uint32_t kCloseWaitStepMs = 50;
// Longest wait for the music thread to close its device at the end.
constexpr uint32_t kMusicStopWaitMs = 250;
// The destination's free space is asked again this often while the
// destination screen shows, and at once when the destination changes.
constexpr uint32_t kFreeSpaceRefreshMs = 2000;

// The desktop services the actions use. An unset callback counts as a
// service that is not there (a chooser that was cancelled, a program that
// did not start).
struct WizardDesktop {
  // Modal chooser for the XAPK; true with the chosen path, false when the
  // user cancelled or the choice could not be read.
  std::function<bool(std::wstring& path)> chooseXapkFile;
  // Modal folder chooser opened at current when that is not empty.
  std::function<bool(const std::wstring& current, std::wstring& folder)> chooseFolder;
  // Modal yes/no question owned by the window; true only on Yes.
  std::function<bool(const std::wstring& text, const std::wstring& caption)> askYesNo;
  // Starts the built game with its folder as working directory; true when
  // it started.
  std::function<bool(const std::wstring& exePath, const std::wstring& workingFolder)> startGame;
  std::function<void(const std::wstring& folder)> openFolder;
  // Writes the desktop shortcut; errors are the caller's to ignore.
  std::function<bool(const std::wstring& target, const std::wstring& workingFolder, const std::wstring& description)>
      createDesktopShortcut;
  // The wait cursor while the window thread is busy checking an XAPK.
  std::function<void(bool busy)> setBusyCursor;
  std::function<void()> minimizeWindow;
  // Queues the closing rules to run later on the window thread (the
  // actions never close the window from inside the press).
  std::function<void()> postClose;
  std::function<void()> destroyWindow;
  // One step of the wait for a stopping job after the window was asked to
  // close: returns after about ms, the window meanwhile still painting its
  // frames (presses and keys are dropped), so that the system never takes
  // it for hung. Unset: the thread sleeps.
  std::function<void(uint32_t ms)> waitWhileClosing;
  // Called on the worker thread when a job has ended; hands ok over to the
  // window thread, which then calls wizardJobFinished. Never touches the
  // window itself.
  std::function<void(bool ok)> postJobFinished;
  // Called on the checking thread when an XAPK check has ended; hands over
  // to the window thread, which then calls wizardXapkChecked. Unset: checks
  // run on the window thread.
  std::function<void()> postXapkChecked;
};

// What the checking thread leaves for the window thread.
struct XapkCheckResult {
  bool ok = false;
  std::wstring text;
  bool forInstall = false;  // "Install" goes on when the check passes
};

// The free space of the destination, asked on a thread of its own: on a
// network drive one query is a round trip, and one whose link dropped may
// not come back at all; no frame waits for it.
struct FreeSpaceWatch {
  // Shared with the query threads, which may outlive the window.
  struct Answer {
    std::mutex lock;
    uint64_t generation = 0;  // counts destination changes
    bool busy = false;        // a query of this generation is out
    bool answered = false;    // figure belongs to this generation
    FreeSpaceFigure figure;
  };
  std::shared_ptr<Answer> answer = std::make_shared<Answer>();
  std::wstring folder;  // the destination asked about
  bool asked = false;
  uint32_t askedAt = 0;  // tick of the last query started
};

// The window thread's whole world. Created once and never destroyed while a
// worker may still call into job (the worker is never joined).
struct WizardController {
  WizardState state;
  InstallOptions options;
  const PatchPack* pack = nullptr;
  InstallState* install = nullptr;
  XapkSource source;
  InstallContext job;
  MusicPlayer* music = nullptr;  // set when the music thread was started
  WizardDesktop desktop;
  bool windowClosed = false;
  // While "Stop the installation?" is open: its modal loop can deliver a
  // second close request, which must not ask again.
  bool askingToClose = false;
  // While a close waits for the job to stop: a close request the waiting
  // step delivers is not acted on.
  bool waitingToClose = false;
  // From the start of a job until its worker has announced the end. The
  // worker clears jobRunning before it sets exitCode, so only this tells
  // that the exit code of the job is final.
  std::atomic<bool> jobInFlight{false};
  // While the checking thread may touch source; the result is written before
  // this clears.
  std::atomic<bool> xapkCheckRunning{false};
  XapkCheckResult xapkCheck;
  FreeSpaceWatch freeSpace;
  // The options state.shown.plannedBytes was computed for.
  bool planned = false;
  bool plannedStripArt = false, plannedLauncher = false;
};

// Takes the pack's values and the paths "/xapk" and "/dest" pre-filled.
void initWizardController(WizardController& c, const PackContext& context, InstallState& install,
                          const std::wstring& xapkPath = {}, const std::wstring& destinationFolder = {});

// Starts the pack's music on output; musicAvailable follows from it. The
// player must outlive the controller's use of it.
void startWizardMusic(WizardController& c, MusicPlayer& player, const MusicOutputOps& output);

// Opens and checks a pre-filled XAPK before the window shows.
void precheckXapk(WizardController& c);

// Before every frame, on the window thread: copies the job's progress into
// state.shown, plans the bytes when the options changed and keeps the
// destination's free space current (asked off this thread: when the
// destination changes, else at most every kFreeSpaceRefreshMs).
void refreshWizardShown(WizardController& c, uint32_t nowTick);
// The frame the window shows: refreshWizardShown, then paintWizard.
CanvasImage* renderWindowFrame(WizardController& c, WizardGraphics& graphics, float dt, uint32_t nowTick);

// The job's progress as the frame shows it; currentFile and errorText are
// copied under the lock.
void showInstallProgress(WizardShown& shown, InstallState& install);
// The free space of the volume holding destinationFolder, asked of the
// platform now; not known for an empty destination or a failed query.
FreeSpaceFigure queryFreeSpace(const std::wstring& destinationFolder);

// Carries out one WizardAction; unknown ids do nothing.
void performAction(WizardController& c, int32_t action);
void startInstall(WizardController& c);
// The checking thread's end, on the window thread: takes xapkCheck.
void wizardXapkChecked(WizardController& c);
// The worker's end of a job, on the window thread.
void wizardJobFinished(WizardController& c, bool ok);
// The closing rules; true when the window was destroyed. Once it is
// destroyed no job runs and the exit code is final.
bool requestWindowClose(WizardController& c);

// While the job moves the finished files into place, an end of the session
// is held off (the window tells the system why): ended then, a player's
// replaced file could stay only under its kept-aside name.
constexpr wchar_t kSessionEndBlockReason[] = L"Installing VELMO";
bool sessionEndHeldOff(const WizardController& c);
// The session ends anyway: a running job is cancelled and waited for, its
// clean-up included, and the XAPK source closed, before this returns (the
// system may end the process right after).
void wizardSessionEnding(WizardController& c);

// Whether a screen shows a region for the action. Presses that reach a
// region of an earlier frame after the screen changed are ignored when the
// new screen does not show it, so a late press can neither start a second
// job nor change the options while one runs.
bool actionShownOn(WizardScreen screen, int32_t action, bool musicAvailable);

enum class PressKind {
  Nothing,    // below the drag band, on no region
  Action,     // a region's action ran
  Swallowed,  // a disabled button, or a region the screen no longer shows
  Drag,       // empty space in the drag band: the window should follow
};
struct PressResult {
  PressKind kind = PressKind::Nothing;
  int32_t action = 0;
};
// A left-button press at client (x, y): toggles first, then buttons.
PressResult handlePress(WizardController& c, float x, float y);
// Stores the position; true when the hand cursor belongs there (over an
// enabled button).
bool handleMotion(WizardState& state, float x, float y);
// The pointer left the window: every hover ends.
void handleLeave(WizardState& state);

// The animation step of a timer frame, from a millisecond tick that may
// wrap; the first frame steps 0.
struct AnimationClock {
  bool started = false;
  uint32_t last = 0;
};
float animationStep(AnimationClock& clock, uint32_t nowTick);

// The destination a chosen folder gives: an empty (or unreadable) folder,
// or one that already holds the game, as chosen; any other folder plus
// the subfolder "VELMO".
std::wstring destinationForChosenFolder(const std::wstring& chosen);

// The window's taskbar button as the system's convention for long work has
// it: a normal progress bar while installing, the error state (at how far
// the job came) on the failed screen, none otherwise.
enum class TaskbarProgressKind { None, Normal, Error };
struct TaskbarProgress {
  TaskbarProgressKind kind = TaskbarProgressKind::None;
  uint64_t done = 0, total = 0;  // total > 0 whenever kind is not None
  bool operator==(const TaskbarProgress&) const = default;
};
TaskbarProgress taskbarProgress(const WizardState& state, const InstallState& install);

// After the window closed: stops the music and waits for its device to
// close (at most kMusicStopWaitMs), closes the XAPK source and returns the
// process exit code.
int finishWizard(WizardController& c);

}  // namespace velmo
