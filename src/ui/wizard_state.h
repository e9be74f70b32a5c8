#pragma once
// The wizard window's own state: the current screen, the flags the screens
// show, the mouse position and the clickable regions of the last painted
// frame. Owned by the window thread; one instance for the process.
#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

enum class WizardScreen : int32_t {
  ChooseXapk = 0,
  ChooseDestination = 1,
  Installing = 2,
  Finished = 3,
  Failed = 4,
};

// The action ids the regions carry. Any other id does nothing.
enum class WizardAction : int32_t {
  BrowseXapk = 1,
  NextToDestination = 2,
  BackToXapk = 3,
  BrowseDestination = 4,
  StartInstall = 5,
  CancelInstall = 6,
  PlayNow = 7,
  OpenFolder = 8,
  CreateShortcut = 9,
  CloseWindow = 10,
  Minimize = 11,
  ToggleMute = 12,
  BackToDestination = 13,
  ToggleStripArt = 14,
  ToggleLauncher = 15,
  CloseFinished = 110,
};

struct ButtonRegion {
  int32_t id = 0;
  float x = 0, y = 0, w = 0, h = 0;
  std::wstring label;  // empty for the title-bar buttons
  bool enabled = true;
  bool primary = false;
};

struct ToggleRegion {
  int32_t id = 0;
  float x = 0, y = 0, w = 0, h = 0;
  std::wstring label;
};

// The free space of the destination's volume as last asked.
struct FreeSpaceFigure {
  bool known = false;  // false: not asked yet, or the query failed
  uint64_t bytes = 0;
  std::wstring label;  // names the volume: "D:", or its mount point
};

// What a frame shows of the world outside the window: values fixed at
// start-up, the controller's figures for the destination screen, and a copy
// of the job's progress. The controller refreshes them before every frame,
// so painting reads nothing but the wizard's state and options.
struct WizardShown {
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;  // selects the progress line's wording
  uint64_t plannedBytes = 0;    // what the job will produce with the options
  FreeSpaceFigure freeSpace;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  uint32_t startTick = 0;
  bool cancelRequested = false;
  bool jobRunning = false;
  std::wstring currentFile;
  std::wstring errorText;
};

struct WizardState {
  WizardScreen screen = WizardScreen::ChooseXapk;
  std::wstring xapkPath;  // the chosen XAPK (the job gets it opened and checked)
  bool xapkValid = false;
  // An XAPK check runs on its own thread: presses other than the title
  // bar's are ignored and the wait cursor stays.
  bool checkingXapk = false;
  std::wstring xapkMessage;
  bool musicAvailable = false;
  bool muted = false;
  bool shortcutCreated = false;
  float mouseX = -1, mouseY = -1;  // -1, -1 while the mouse is outside
  std::vector<ButtonRegion> buttons;
  std::vector<ToggleRegion> toggles;
  WizardShown shown;
};

// Left and top edges inclusive, right and bottom exclusive.
bool regionContains(float x, float y, float w, float h, float px, float py);
inline bool regionContains(const ButtonRegion& r, float px, float py) {
  return regionContains(r.x, r.y, r.w, r.h, px, py);
}
inline bool regionContains(const ToggleRegion& r, float px, float py) {
  return regionContains(r.x, r.y, r.w, r.h, px, py);
}

// The first region of the last frame containing the point, or null. Toggles
// are tested before buttons by the click handling.
const ToggleRegion* toggleAt(const WizardState& state, float px, float py);
const ButtonRegion* buttonAt(const WizardState& state, float px, float py);

}  // namespace velmo
