#include "ui/wizard_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "common/utf8.h"
#include "support/demo_fixture.h"
#include "support/fault_sweep.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using namespace velmo::test;
using namespace std::chrono_literals;

constexpr const wchar_t* kVerifiedText = L"VELMO 1.0.7 - XAPK verified";
constexpr const wchar_t* kNotAZipText = L"The XAPK is missing or is not a zip file.";

int32_t id(WizardAction a) { return int32_t(a); }

// Records what the actions ask of the desktop and answers as told. The
// job-finished note arrives on the worker thread and waits in a queue until
// the test, standing in for the window thread, delivers it.
struct FakeDesktop {
  bool xapkAnswer = false;
  std::wstring xapkChoice;
  int xapkChooserRuns = 0;
  bool folderAnswer = false;
  std::wstring folderChoice;
  std::vector<std::wstring> folderChooserStarts;
  bool yesAnswer = false;
  std::vector<std::wstring> questions;
  bool gameStarts = false;
  std::vector<std::pair<std::wstring, std::wstring>> gameStartsAsked;
  std::vector<std::wstring> openedFolders;
  std::vector<std::vector<std::wstring>> shortcuts;
  bool shortcutWritten = false;
  std::vector<bool> busyCursor;
  int minimizes = 0;
  int closesPosted = 0;
  int destroys = 0;

  std::mutex lock;
  std::condition_variable noted;
  std::deque<bool> notes;

  WizardDesktop services() {
    WizardDesktop d;
    d.chooseXapkFile = [this](std::wstring& path) {
      ++xapkChooserRuns;
      path = xapkChoice;
      return xapkAnswer;
    };
    d.chooseFolder = [this](const std::wstring& current, std::wstring& folder) {
      folderChooserStarts.push_back(current);
      folder = folderChoice;
      return folderAnswer;
    };
    d.askYesNo = [this](const std::wstring& text, const std::wstring& caption) {
      questions.push_back(text + L"|" + caption);
      return yesAnswer;
    };
    d.startGame = [this](const std::wstring& exe, const std::wstring& folder) {
      gameStartsAsked.push_back({exe, folder});
      return gameStarts;
    };
    d.openFolder = [this](const std::wstring& folder) { openedFolders.push_back(folder); };
    d.createDesktopShortcut = [this](const std::wstring& target, const std::wstring& folder,
                                     const std::wstring& description) {
      shortcuts.push_back({target, folder, description});
      return shortcutWritten;
    };
    d.setBusyCursor = [this](bool busy) { busyCursor.push_back(busy); };
    d.minimizeWindow = [this] { ++minimizes; };
    d.postClose = [this] { ++closesPosted; };
    d.destroyWindow = [this] { ++destroys; };
    d.postJobFinished = [this](bool ok) {
      std::lock_guard<std::mutex> hold(lock);
      notes.push_back(ok);
      noted.notify_all();
    };
    return d;
  }

  // The next job-finished note, waiting up to 30 s for it.
  bool takeNote(bool& ok) {
    std::unique_lock<std::mutex> hold(lock);
    if (!noted.wait_for(hold, 30s, [this] { return !notes.empty(); })) return false;
    ok = notes.front();
    notes.pop_front();
    return true;
  }
};

// Holds the install job's file writes on other threads until the test lets
// them go or the job is asked to cancel, so a job can be caught running.
struct WriteGate {
  static inline std::mutex lock;
  static inline std::condition_variable changed;
  static inline bool open = true;
  static inline int held = 0;
  static inline std::thread::id testThread;
  static inline const InstallState* state = nullptr;
  // Holds the write even after a cancel, until released.
  static inline bool ignoreCancel = false;

  static bool write(FileHandle file, const void* data, size_t size) {
    if (std::this_thread::get_id() != testThread) {
      std::unique_lock<std::mutex> hold(lock);
      ++held;
      changed.notify_all();
      // The cancel flag has no notification of its own: look every few ms.
      auto deadline = std::chrono::steady_clock::now() + 30s;
      while (!open && (ignoreCancel || !state->cancelRequested.load()) && std::chrono::steady_clock::now() < deadline) {
        changed.wait_for(hold, 5ms);
      }
      --held;
    }
    return nativePlatform().writeFile(file, data, size);
  }
  static void close(const InstallState& s) {
    std::lock_guard<std::mutex> hold(lock);
    open = false;
    ignoreCancel = false;
    held = 0;
    state = &s;
    testThread = std::this_thread::get_id();
  }
  static void release() {
    std::lock_guard<std::mutex> hold(lock);
    open = true;
    changed.notify_all();
  }
  // Waits until the worker is held inside a write.
  static bool waitHeld() {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, 30s, [] { return held > 0; });
  }
  static PlatformOps ops() {
    PlatformOps o = nativePlatform();
    o.writeFile = write;
    return o;
  }
};

// The small demo game's pack, loaded once; each test gets its own start-up
// values and controller around it.
struct DemoPack {
  std::string demo;
  Bytes container, digest;
  PackContext startup;
};

const DemoPack* loadDemoPack() {
  static DemoPack* loaded = [] {
    auto* d = new DemoPack;
    d->demo = smallDemoGame();
    if (d->demo.empty()) return d;
    d->container = readBytes(d->demo + "/pack.bin");
    d->digest = digestOf(d->container);
    notePackLoaded(d->startup, loadPatchPackFrom(d->container, d->digest, d->startup.pack));
    return d;
  }();
  return loaded;
}

class WizardControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = loadDemoPack();
    ASSERT_FALSE(demo->demo.empty()) << "the demo game could not be made";
    ASSERT_TRUE(demo->startup.packOk);
    useTempFolder(tmp.path());
    xapk = demo->demo + "/harrowmere-1.0.7.xapk";
    startup = demo->startup;
    // A worker that outlives a failed test must still find its controller
    // and state: like the window's, they are never freed.
    install = test::keptUntilExit(new InstallState);
    c = test::keptUntilExit(new WizardController);
    initWizardController(*c, startup, *install);
    c->desktop = fake.services();
  }
  void TearDown() override {
    // No job may outlive the test's fake desktop and platform override.
    for (int i = 0; i < 3000 && (install->jobRunning || c->jobInFlight || c->xapkCheckRunning); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    closeXapk(c->source);
    restoreTempFolder();
  }

  // Runs startInstall and delivers the job's end as the window would.
  bool installAndFinish() {
    performAction(*c, id(WizardAction::StartInstall));
    if (c->state.screen != WizardScreen::Installing) return false;
    bool ok = false;
    if (!fake.takeNote(ok)) return false;
    wizardJobFinished(*c, ok);
    return ok;
  }
  bool builtTreeMatches(const std::string& dest) {
    std::string difference;
    bool same = sameTree(demo->demo + "/expected", dest, difference);
    EXPECT_TRUE(same) << difference;
    return same;
  }
  std::wstring errorText() { return copyErrorText(*install); }

  const DemoPack* demo = nullptr;
  TempDir tmp, out;
  std::string xapk;
  PackContext startup;
  FakeDesktop fake;
  InstallState* install = nullptr;
  WizardController* c = nullptr;
};

// --- screens and transitions --------------------------------------------------

TEST_F(WizardControllerTest, StartsOnTheXapkScreenWithThePathsOfTheCommandLine) {
  WizardController fresh;
  InstallState state;
  initWizardController(fresh, demo->startup, state, L"/some/game.xapk", L"/games/velmo");
  EXPECT_EQ(fresh.state.screen, WizardScreen::ChooseXapk);
  EXPECT_EQ(fresh.state.xapkPath, L"/some/game.xapk");
  EXPECT_EQ(fresh.options.destinationFolder, L"/games/velmo");
  EXPECT_TRUE(fresh.options.useStripArt);
  EXPECT_TRUE(fresh.options.createLauncher);
  EXPECT_FALSE(fresh.state.xapkValid);
  EXPECT_EQ(state.exitCode.load(), 1);
  EXPECT_EQ(finishWizard(fresh), 1) << "closed without an install";
}

TEST_F(WizardControllerTest, NextAndBackMoveOnlyWhereTheTableAllows) {
  performAction(*c, id(WizardAction::NextToDestination));
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseXapk) << "no valid XAPK yet";
  c->state.xapkValid = true;
  performAction(*c, id(WizardAction::NextToDestination));
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseDestination);
  performAction(*c, id(WizardAction::BackToXapk));
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseXapk);

  // Back to the XAPK only from the destination screen; back to the
  // destination from anywhere.
  for (WizardScreen from : {WizardScreen::ChooseXapk, WizardScreen::Installing, WizardScreen::Finished,
                            WizardScreen::Failed}) {
    c->state.screen = from;
    performAction(*c, id(WizardAction::BackToXapk));
    EXPECT_EQ(c->state.screen, from);
    performAction(*c, id(WizardAction::BackToDestination));
    EXPECT_EQ(c->state.screen, WizardScreen::ChooseDestination);
  }

  // Ids outside the table change nothing.
  c->state.screen = WizardScreen::Finished;
  for (int32_t unknown : {0, 16, 100, 109, 111, -1}) performAction(*c, unknown);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
  EXPECT_EQ(fake.closesPosted + fake.minimizes + fake.xapkChooserRuns, 0);
}

TEST_F(WizardControllerTest, OptionTogglesFlipAndLeaveTheScreen) {
  c->state.screen = WizardScreen::ChooseDestination;
  performAction(*c, id(WizardAction::ToggleStripArt));
  EXPECT_FALSE(c->options.useStripArt);
  EXPECT_TRUE(c->options.createLauncher);
  performAction(*c, id(WizardAction::ToggleLauncher));
  performAction(*c, id(WizardAction::ToggleStripArt));
  EXPECT_TRUE(c->options.useStripArt);
  EXPECT_FALSE(c->options.createLauncher);
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseDestination);
}

// --- the XAPK: pre-check, browsing, re-check on Install ----------------------

TEST_F(WizardControllerTest, PrecheckOpensAndChecksAPrefilledXapk) {
  precheckXapk(*c);
  EXPECT_TRUE(fake.busyCursor.empty()) << "nothing to check without a path";
  EXPECT_FALSE(c->source.isOpen);

  c->state.xapkPath = wide(xapk);
  precheckXapk(*c);
  EXPECT_TRUE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkMessage, kVerifiedText);
  EXPECT_TRUE(c->source.isOpen) << "kept open for the job";
  EXPECT_EQ(fake.busyCursor, (std::vector<bool>{true, false}));

  c->state.xapkPath = wide(out / "missing.xapk");
  precheckXapk(*c);
  EXPECT_FALSE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkMessage, kNotAZipText);
  EXPECT_FALSE(c->source.isOpen);
}

TEST_F(WizardControllerTest, BrowsingAnXapkChecksItAndCancellingKeepsEverything) {
  fake.xapkAnswer = true;
  fake.xapkChoice = wide(xapk);
  performAction(*c, id(WizardAction::BrowseXapk));
  ASSERT_TRUE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkPath, wide(xapk));
  EXPECT_EQ(c->state.xapkMessage, kVerifiedText);
  std::string firstTemp = toUtf8(c->source.tempFolder);
  EXPECT_TRUE(fs::is_directory(firstTemp));

  // Cancelled, or an empty choice: nothing changes, the source stays open.
  fake.xapkAnswer = false;
  fake.xapkChoice = wide(out / "other.xapk");
  performAction(*c, id(WizardAction::BrowseXapk));
  fake.xapkAnswer = true;
  fake.xapkChoice.clear();
  performAction(*c, id(WizardAction::BrowseXapk));
  EXPECT_EQ(c->state.xapkPath, wide(xapk));
  EXPECT_TRUE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkMessage, kVerifiedText);
  EXPECT_TRUE(c->source.isOpen);
  EXPECT_EQ(fake.busyCursor.size(), 2u) << "only the real check shows the wait cursor";

  // A second choice that fails: invalid now, and the first one's copies gone.
  writeText(out / "notes.xapk", "not a zip at all");
  fake.xapkChoice = wide(out / "notes.xapk");
  performAction(*c, id(WizardAction::BrowseXapk));
  EXPECT_FALSE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkPath, wide(out / "notes.xapk"));
  EXPECT_EQ(c->state.xapkMessage, kNotAZipText);
  EXPECT_FALSE(c->source.isOpen);
  EXPECT_FALSE(fs::exists(firstTemp));
  EXPECT_EQ(fake.busyCursor, (std::vector<bool>{true, false, true, false}));
}

TEST_F(WizardControllerTest, ChecksRunOnTheirOwnThreadAndInstallWaitsForTheRecheck) {
  std::atomic<int> posted{0};
  c->desktop.postXapkChecked = [&posted] { ++posted; };
  auto deliver = [&] {
    for (int i = 0; i < 3000 && posted == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(posted.exchange(0), 1);
    EXPECT_FALSE(c->xapkCheckRunning);
    wizardXapkChecked(*c);
  };
  fake.xapkAnswer = true;
  fake.xapkChoice = wide(xapk);
  c->state.xapkMessage = L"the earlier result";
  performAction(*c, id(WizardAction::BrowseXapk));
  EXPECT_TRUE(c->state.checkingXapk);
  EXPECT_FALSE(c->state.xapkValid) << "Next stays off until the check has ended";
  EXPECT_EQ(c->state.xapkMessage, L"the earlier result") << "only the result replaces the message";
  EXPECT_EQ(fake.busyCursor, (std::vector<bool>{true}));
  // No press acts meanwhile, on the screen or in the title bar.
  c->state.buttons = {ButtonRegion{id(WizardAction::BrowseXapk), 0, 100, 50, 50, L"", true, false},
                      ButtonRegion{id(WizardAction::Minimize), 100, 0, 50, 50, L"", true, false},
                      ButtonRegion{id(WizardAction::CloseWindow), 200, 0, 50, 50, L"", true, false},
                      ButtonRegion{id(WizardAction::ToggleMute), 300, 0, 50, 50, L"", true, false}};
  c->state.musicAvailable = true;
  for (auto [x, y] : {std::pair{10.f, 110.f}, {110.f, 10.f}, {210.f, 10.f}, {310.f, 10.f}}) {
    EXPECT_EQ(handlePress(*c, x, y).kind, PressKind::Swallowed) << x;
  }
  EXPECT_FALSE(handleMotion(c->state, 10, 110)) << "the wait cursor stays";
  EXPECT_EQ(fake.minimizes, 0);
  EXPECT_EQ(fake.closesPosted, 0);
  EXPECT_FALSE(c->state.muted);
  deliver();
  EXPECT_FALSE(c->state.checkingXapk);
  EXPECT_TRUE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkMessage, kVerifiedText);
  EXPECT_EQ(fake.xapkChooserRuns, 1);
  EXPECT_EQ(fake.busyCursor, (std::vector<bool>{true, false}));

  c->state.screen = WizardScreen::ChooseDestination;
  c->options.destinationFolder = wide(out / "game");
  ASSERT_TRUE(installAndFinish()) << toUtf8(errorText());
  // After a job the source is closed: Install re-checks first, off the
  // window thread, and starts the job when the check passes.
  c->state.screen = WizardScreen::ChooseDestination;
  performAction(*c, id(WizardAction::StartInstall));
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseDestination);
  EXPECT_TRUE(c->state.checkingXapk);
  performAction(*c, id(WizardAction::StartInstall));  // a second press does nothing
  deliver();
  EXPECT_EQ(c->state.screen, WizardScreen::Installing);
  bool ok = false;
  ASSERT_TRUE(fake.takeNote(ok));
  EXPECT_TRUE(ok) << toUtf8(errorText());
  wizardJobFinished(*c, ok);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
}

TEST_F(WizardControllerTest, InstallWithoutAValidXapkFails) {
  // Closed source, unreadable path: the re-open's own message.
  c->state.screen = WizardScreen::ChooseDestination;
  c->state.xapkPath = wide(out / "missing.xapk");
  c->options.destinationFolder = wide(out / "game");
  c->state.xapkMessage = L"the earlier message";
  performAction(*c, id(WizardAction::StartInstall));
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), kNotAZipText);
  EXPECT_FALSE(install->jobRunning);
  EXPECT_EQ(c->state.xapkMessage, L"the earlier message") << "Install does not touch the first screen's message";

  // An open source that was never found valid.
  std::wstring text;
  ASSERT_TRUE(openXapk(c->source, *c->pack, wide(xapk), text));
  c->state.screen = WizardScreen::ChooseDestination;
  c->state.xapkValid = false;
  performAction(*c, id(WizardAction::StartInstall));
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), kChooseValidXapkText);
  EXPECT_FALSE(install->jobRunning);
  EXPECT_FALSE(fs::exists(out / "game"));
}

TEST_F(WizardControllerTest, InstallBuildsTheGameAndClosesTheSourceAfterwards) {
  c->state.xapkPath = wide(xapk);
  precheckXapk(*c);
  c->state.screen = WizardScreen::ChooseDestination;
  c->options.destinationFolder = wide(out / "game");
  std::string temp = toUtf8(c->source.tempFolder);

  performAction(*c, id(WizardAction::StartInstall));
  EXPECT_EQ(c->state.screen, WizardScreen::Installing);
  EXPECT_EQ(fake.busyCursor.size(), 2u) << "the source was open: no re-check";
  bool ok = false;
  ASSERT_TRUE(fake.takeNote(ok));
  EXPECT_TRUE(ok) << toUtf8(errorText());
  EXPECT_FALSE(install->jobRunning);
  EXPECT_EQ(c->state.screen, WizardScreen::Installing) << "the screen waits for the note";
  wizardJobFinished(*c, ok);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
  EXPECT_FALSE(c->source.isOpen);
  EXPECT_FALSE(fs::exists(temp)) << "the temporary copies go with the job";
  EXPECT_TRUE(c->state.xapkValid) << "the check result stays; the next Install re-checks";
  builtTreeMatches(out / "game");
  EXPECT_EQ(finishWizard(*c), 0);
}

TEST_F(WizardControllerTest, ExitCodeFollowsTheLastOfTwoInstalls) {
  c->state.xapkPath = wide(xapk);
  precheckXapk(*c);
  c->state.screen = WizardScreen::ChooseDestination;
  // A destination below a file cannot be created.
  writeText(out / "a-file", "x");
  c->options.destinationFolder = wide(out / "a-file/game");
  EXPECT_FALSE(installAndFinish());
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), L"Could not create the folder\n" + wide(out / "a-file/game"));
  EXPECT_EQ(install->exitCode.load(), 1);
  EXPECT_FALSE(c->source.isOpen);

  // Back, another folder, Install again: the closed source is re-opened and
  // re-checked (with the wait cursor) before the job starts.
  performAction(*c, id(WizardAction::BackToDestination));
  EXPECT_EQ(c->state.screen, WizardScreen::ChooseDestination);
  c->options.destinationFolder = wide(out / "game");
  fake.busyCursor.clear();
  EXPECT_TRUE(installAndFinish()) << toUtf8(errorText());
  EXPECT_EQ(fake.busyCursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
  builtTreeMatches(out / "game");
  EXPECT_TRUE(requestWindowClose(*c));
  EXPECT_EQ(fake.questions.size(), 0u) << "no job runs: no question";
  EXPECT_EQ(finishWizard(*c), 0);
}

TEST_F(WizardControllerTest, AFailedRecheckLeavesTheXapkInvalid) {
  fs::copy_file(xapk, out / "copy.xapk");
  c->state.xapkPath = wide(out / "copy.xapk");
  precheckXapk(*c);
  ASSERT_TRUE(c->state.xapkValid);
  c->options.destinationFolder = wide(out / "game");
  c->state.screen = WizardScreen::ChooseDestination;
  ASSERT_TRUE(installAndFinish());

  // The file goes away between two installs.
  fs::remove(out / "copy.xapk");
  performAction(*c, id(WizardAction::BackToDestination));
  performAction(*c, id(WizardAction::StartInstall));
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), kNotAZipText);
  EXPECT_FALSE(c->state.xapkValid);
  EXPECT_EQ(c->state.xapkMessage, kVerifiedText) << "the first screen keeps the earlier message";
  EXPECT_EQ(install->exitCode.load(), 0) << "set only by jobs";
}

TEST(TaskbarProgressTest, NormalWhileInstallingErrorWhenFailedNoneOtherwise) {
  WizardState state;
  InstallState install;
  install.bytesTotal = 1000;
  install.bytesDone = 250;
  using K = TaskbarProgressKind;
  for (WizardScreen screen : {WizardScreen::ChooseXapk, WizardScreen::ChooseDestination, WizardScreen::Finished}) {
    state.screen = screen;
    EXPECT_EQ(taskbarProgress(state, install), TaskbarProgress{}) << int(screen);
  }
  state.screen = WizardScreen::Installing;
  EXPECT_EQ(taskbarProgress(state, install), (TaskbarProgress{K::Normal, 250, 1000}));
  install.bytesDone = 1200;  // counters are not clamped; the bar is
  EXPECT_EQ(taskbarProgress(state, install), (TaskbarProgress{K::Normal, 1000, 1000}));
  install.bytesTotal = 0;
  install.bytesDone = 0;
  EXPECT_EQ(taskbarProgress(state, install), (TaskbarProgress{K::Normal, 0, 1}));
  state.screen = WizardScreen::Failed;
  EXPECT_EQ(taskbarProgress(state, install), (TaskbarProgress{K::Error, 1, 1}));
  install.bytesTotal = 1000;
  install.bytesDone = 400;
  EXPECT_EQ(taskbarProgress(state, install), (TaskbarProgress{K::Error, 400, 1000}));
}

// The power cut at calls of the wizard's Install over an older install:
// the job reaches the failed screen with the folder as before (or finishes
// with the exact tree), and the next start's Install repairs everything.
TEST_F(WizardControllerTest, APowerCutDuringInstallIsRepairedByTheNextInstall) {
  OlderInstall older;
  ASSERT_TRUE(older.make(demo->demo, out.path()));
  c->state.xapkPath = wide(xapk);
  c->options.destinationFolder = wide(out / "game");
  FaultPlatform faults;
  faults.setEnvironment(L"VELMO_THREADS", L"1");
  SweepRoad road;
  road.dest = out / "game";
  road.tempRoot = tmp.path();
  road.reset = [&] { older.restore(out / "game"); };
  road.run = [&] {
    // The source is closed after every job: Install re-opens and re-checks.
    c->state.screen = WizardScreen::ChooseDestination;
    c->state.xapkValid = true;
    performAction(*c, id(WizardAction::StartInstall));
    bool ok = false;
    if (c->state.screen == WizardScreen::Installing && fake.takeNote(ok)) wizardJobFinished(*c, ok);
    return c->state.screen == WizardScreen::Finished ? 0 : 1;
  };
  road.check = [&](int code, const FaultCall&) {
    if (code == 0 || (c->state.screen == WizardScreen::Failed && !errorText().empty())) return std::string();
    return "screen " + std::to_string(int(c->state.screen)) + " with \"" + toUtf8(errorText()) + "\"";
  };
  road.nextStart = [] { removeStaleXapkTempFolders(); };
  SweepResult result = sweepFaults(faults, older, road, FaultMode::PowerCut, 20);
  std::cout << result.summary() << "\n";
  EXPECT_GT(result.runs, 20u);
  for (const auto& u : result.unsound) ADD_FAILURE() << u;
}

TEST_F(WizardControllerTest, JobEndTextsOnTheFailedScreen) {
  c->state.screen = WizardScreen::Installing;
  setErrorText(*install, L"");
  wizardJobFinished(*c, false);
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), kInstallStoppedText);

  c->state.screen = WizardScreen::Installing;
  setErrorText(*install, L"Cancelled.");
  wizardJobFinished(*c, false);
  EXPECT_EQ(errorText(), L"Cancelled.") << "a job's own message stays as it is";

  // A success does not touch the text.
  c->state.screen = WizardScreen::Installing;
  wizardJobFinished(*c, true);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
  EXPECT_EQ(errorText(), L"Cancelled.");
}

// --- cancelling and closing while a job runs ---------------------------------

TEST_F(WizardControllerTest, ACancelPressedRightAfterInstallIsNeverLost) {
  c->state.xapkPath = wide(xapk);
  c->options.destinationFolder = wide(out / "game");
  for (int run = 0; run < 5; ++run) {
    precheckXapk(*c);
    c->state.screen = WizardScreen::ChooseDestination;
    performAction(*c, id(WizardAction::StartInstall));
    ASSERT_EQ(c->state.screen, WizardScreen::Installing);
    performAction(*c, id(WizardAction::CancelInstall));  // before the worker's first step, most often
    bool ok = true;
    ASSERT_TRUE(fake.takeNote(ok));
    wizardJobFinished(*c, ok);
    EXPECT_FALSE(ok) << run;
    EXPECT_EQ(errorText(), L"Cancelled.") << run;
    EXPECT_FALSE(fs::exists(out / "game")) << run;
  }
}

class WizardRunningJobTest : public WizardControllerTest {
 protected:
  void SetUp() override {
    WizardControllerTest::SetUp();
    if (HasFatalFailure()) return;
    WriteGate::close(*install);
    override_ = std::make_unique<ScopedPlatformOverride>(gateOps_);
    c->state.xapkPath = wide(xapk);
    precheckXapk(*c);
    c->options.destinationFolder = wide(out / "game");
    c->state.screen = WizardScreen::ChooseDestination;
    performAction(*c, id(WizardAction::StartInstall));
    ASSERT_EQ(c->state.screen, WizardScreen::Installing);
    ASSERT_TRUE(WriteGate::waitHeld()) << "the job never wrote";
  }
  void TearDown() override {
    WriteGate::release();
    WizardControllerTest::TearDown();
    override_.reset();
  }

  PlatformOps gateOps_ = WriteGate::ops();
  std::unique_ptr<ScopedPlatformOverride> override_;
};

TEST_F(WizardRunningJobTest, CancelStopsTheJobWhichThenShowsItsOwnText) {
  performAction(*c, id(WizardAction::CancelInstall));
  EXPECT_TRUE(install->cancelRequested);
  EXPECT_EQ(c->state.screen, WizardScreen::Installing) << "Cancel does not change the screen";
  bool ok = true;
  ASSERT_TRUE(fake.takeNote(ok));
  EXPECT_FALSE(ok);
  wizardJobFinished(*c, ok);
  EXPECT_EQ(c->state.screen, WizardScreen::Failed);
  EXPECT_EQ(errorText(), L"Cancelled.");
  EXPECT_FALSE(fs::exists(out / "game")) << "a destination the job created is removed";
  EXPECT_EQ(install->exitCode.load(), 1);
}

TEST_F(WizardRunningJobTest, ClosingAsksAndNoKeepsTheJobRunning) {
  fake.yesAnswer = false;
  EXPECT_FALSE(requestWindowClose(*c));
  EXPECT_EQ(fake.questions, (std::vector<std::wstring>{L"Stop the installation?|VELMO Patcher"}));
  EXPECT_EQ(fake.destroys, 0);
  EXPECT_FALSE(c->windowClosed);
  EXPECT_TRUE(install->jobRunning);
  EXPECT_FALSE(install->cancelRequested);

  // The job goes on to the end and the window takes its note.
  WriteGate::release();
  bool ok = false;
  ASSERT_TRUE(fake.takeNote(ok));
  wizardJobFinished(*c, ok);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
  builtTreeMatches(out / "game");
}

TEST_F(WizardRunningJobTest, ClosingWithYesCancelsAndWaitsForTheJob) {
  fake.yesAnswer = true;
  // A second close request reaching the window while the question is open
  // (its modal loop keeps delivering events) neither asks again nor closes.
  bool nestedClosed = true;
  WizardDesktop desktop = c->desktop;
  c->desktop.askYesNo = [&](const std::wstring& text, const std::wstring& caption) {
    nestedClosed = requestWindowClose(*c);
    return desktop.askYesNo(text, caption);
  };
  EXPECT_TRUE(requestWindowClose(*c));
  EXPECT_FALSE(nestedClosed);
  // Returned only once the job had ended and its exit code was final.
  EXPECT_FALSE(install->jobRunning);
  EXPECT_FALSE(c->jobInFlight);
  EXPECT_TRUE(install->cancelRequested);
  EXPECT_EQ(fake.destroys, 1);
  EXPECT_TRUE(c->windowClosed);
  EXPECT_EQ(install->exitCode.load(), 1);

  // The note reaches a window that is gone: lost, the screen stays.
  bool ok = true;
  ASSERT_TRUE(fake.takeNote(ok));
  EXPECT_FALSE(ok);
  wizardJobFinished(*c, ok);
  EXPECT_EQ(c->state.screen, WizardScreen::Installing);
  EXPECT_EQ(finishWizard(*c), 1);
  EXPECT_FALSE(c->source.isOpen);

  // A second close request after the window went does nothing more.
  EXPECT_TRUE(requestWindowClose(*c));
  EXPECT_EQ(fake.destroys, 1);
  EXPECT_EQ(fake.questions.size(), 1u);
}

// The wait after "Yes" serves the window step by step (it keeps painting)
// until the job has ended; a close request arriving meanwhile is ignored.
TEST_F(WizardRunningJobTest, TheWaitForAStoppingJobKeepsServingTheWindow) {
  fake.yesAnswer = true;
  {
    std::lock_guard<std::mutex> hold(WriteGate::lock);
    WriteGate::ignoreCancel = true;  // the job's entry runs on for a few steps
  }
  int steps = 0;
  bool nestedClosed = true;
  c->desktop.waitWhileClosing = [&](uint32_t ms) {
    EXPECT_EQ(ms, kCloseWaitStepMs);
    EXPECT_FALSE(c->windowClosed);
    if (++steps == 1) nestedClosed = requestWindowClose(*c);
    if (steps == 3) WriteGate::release();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  EXPECT_TRUE(requestWindowClose(*c));
  EXPECT_GE(steps, 3);
  EXPECT_FALSE(nestedClosed);
  EXPECT_EQ(fake.questions.size(), 1u);
  EXPECT_FALSE(install->jobRunning);
  EXPECT_FALSE(c->jobInFlight);
  EXPECT_EQ(fake.destroys, 1);
  EXPECT_TRUE(c->windowClosed);
}

TEST_F(WizardRunningJobTest, ASessionEndDuringTheBuildCancelsAndCleansUpBeforeReturning) {
  EXPECT_FALSE(sessionEndHeldOff(*c)) << "only the move into place holds the session";
  std::wstring temp = c->source.tempFolder;
  ASSERT_FALSE(temp.empty());
  wizardSessionEnding(*c);
  EXPECT_TRUE(install->cancelRequested);
  EXPECT_FALSE(install->jobRunning);
  EXPECT_FALSE(c->jobInFlight);
  EXPECT_FALSE(fs::exists(out / "game")) << "the staging folder and the destination it made are gone";
  EXPECT_FALSE(platform().pathExists(temp)) << "and the temporary copies";
  EXPECT_TRUE(fake.questions.empty()) << "nobody is asked";
}

TEST_F(WizardRunningJobTest, LatePressesNeverStartASecondJobOrChangeTheOptions) {
  // Regions of the destination screen, as the last frame before Install drew them.
  c->state.buttons = {{id(WizardAction::BrowseDestination), 446, 294, 120, 36, L"Browse...", true, false},
                      {id(WizardAction::StartInstall), 190, 540, 190, 44, L"Install", true, true}};
  c->state.toggles = {{id(WizardAction::ToggleStripArt), 54, 390, 300, 22, L"Use the bundled strip art"}};
  fake.folderAnswer = true;
  fake.folderChoice = wide(out / "elsewhere");
  EXPECT_EQ(handlePress(*c, 500, 300).kind, PressKind::Swallowed);
  EXPECT_EQ(handlePress(*c, 200, 550).kind, PressKind::Swallowed);
  EXPECT_EQ(handlePress(*c, 100, 400).kind, PressKind::Swallowed);
  EXPECT_TRUE(fake.folderChooserStarts.empty());
  EXPECT_EQ(c->options.destinationFolder, wide(out / "game"));
  EXPECT_TRUE(c->options.useStripArt);

  // Even sent directly, a second Install does nothing while the job runs.
  startInstall(*c);
  EXPECT_EQ(c->state.screen, WizardScreen::Installing);
  WriteGate::release();
  bool ok = false;
  ASSERT_TRUE(fake.takeNote(ok));
  EXPECT_TRUE(ok);
  std::unique_lock<std::mutex> hold(fake.lock);
  EXPECT_FALSE(fake.noted.wait_for(hold, 300ms, [this] { return !fake.notes.empty(); })) << "a second job ran";
}

// --- the finished screen and the window buttons -------------------------------

TEST_F(WizardControllerTest, FinishedScreenActionsUseTheDestination) {
  c->state.screen = WizardScreen::Finished;
  c->options.destinationFolder = L"/games/VELMO";

  performAction(*c, id(WizardAction::PlayNow));
  ASSERT_EQ(fake.gameStartsAsked.size(), 1u);
  EXPECT_EQ(fake.gameStartsAsked[0].first, L"/games/VELMO/VELMO.exe");
  EXPECT_EQ(fake.gameStartsAsked[0].second, L"/games/VELMO");
  EXPECT_EQ(fake.closesPosted, 0) << "the game did not start: the wizard stays";
  fake.gameStarts = true;
  performAction(*c, id(WizardAction::PlayNow));
  EXPECT_EQ(fake.closesPosted, 1);

  performAction(*c, id(WizardAction::OpenFolder));
  EXPECT_EQ(fake.openedFolders, (std::vector<std::wstring>{L"/games/VELMO"}));

  performAction(*c, id(WizardAction::CreateShortcut));
  ASSERT_EQ(fake.shortcuts.size(), 1u);
  EXPECT_EQ(fake.shortcuts[0],
            (std::vector<std::wstring>{L"/games/VELMO/VELMO.exe", L"/games/VELMO", L"Harrowmere for Windows"}));
  EXPECT_FALSE(c->state.shortcutCreated) << "not written: the button stays, to be pressed again";
  fake.shortcutWritten = true;
  performAction(*c, id(WizardAction::CreateShortcut));
  EXPECT_EQ(fake.shortcuts.size(), 2u);
  EXPECT_TRUE(c->state.shortcutCreated);

  performAction(*c, id(WizardAction::CloseFinished));
  performAction(*c, id(WizardAction::CloseWindow));
  EXPECT_EQ(fake.closesPosted, 3) << "closing is posted, never done inside the press";
  EXPECT_EQ(fake.destroys, 0);
  performAction(*c, id(WizardAction::Minimize));
  EXPECT_EQ(fake.minimizes, 1);
  EXPECT_EQ(c->state.screen, WizardScreen::Finished);
}

TEST_F(WizardControllerTest, MissingDesktopServicesCountAsFailures) {
  c->desktop = WizardDesktop();
  c->state.screen = WizardScreen::Finished;
  c->options.destinationFolder = L"/games/VELMO";
  for (WizardAction a : {WizardAction::BrowseXapk, WizardAction::BrowseDestination, WizardAction::PlayNow,
                         WizardAction::OpenFolder, WizardAction::CreateShortcut, WizardAction::Minimize,
                         WizardAction::CloseWindow}) {
    performAction(*c, id(a));
  }
  EXPECT_FALSE(c->state.shortcutCreated);
  EXPECT_EQ(c->options.destinationFolder, L"/games/VELMO");
  EXPECT_TRUE(c->state.xapkPath.empty());
  EXPECT_TRUE(requestWindowClose(*c)) << "no job: closes without asking";
}

TEST_F(WizardControllerTest, ChosenFolderBecomesTheDestinationByTheFolderRule) {
  fake.folderAnswer = true;
  c->state.screen = WizardScreen::ChooseDestination;
  auto choose = [&](const std::string& folder) {
    fake.folderChoice = wide(folder);
    performAction(*c, id(WizardAction::BrowseDestination));
    return toUtf8(c->options.destinationFolder);
  };
  fs::create_directories(out / "empty");
  EXPECT_EQ(choose(out / "empty"), out / "empty");
  EXPECT_EQ(fake.folderChooserStarts.back(), L"") << "opened where the destination was";
  fs::create_directories(out / "full");
  writeText(out / "full/readme.txt", "x");
  EXPECT_EQ(choose(out / "full"), out / "full/VELMO");
  EXPECT_EQ(fake.folderChooserStarts.back(), wide(out / "empty"));
  fs::create_directory_symlink(out / "full", out / "linked-full");  // a link is looked into
  EXPECT_EQ(choose(out / "linked-full"), out / "linked-full/VELMO");
  {
    // As on Windows, where "link\." names the junction itself, which a
    // listing that never follows links refuses.
    PlatformOps ops = nativePlatform();
    ops.listDirectory = [](const std::wstring& path, std::vector<DirEntry>& entries) {
      std::wstring own = path.ends_with(L"/.") ? path.substr(0, path.size() - 2) : path;
      PathInfo info;
      if (nativePlatform().pathInfo(own, info) && info.type == EntryType::Link) return false;
      return nativePlatform().listDirectory(own, entries);
    };
    ScopedPlatformOverride seam(ops);
    EXPECT_EQ(choose(out / "linked-full"), out / "linked-full/VELMO");
  }
  fs::create_directories(out / "old-install");
  writeText(out / "old-install/notes.txt", "x");
  writeText(out / "old-install/VELMO.exe", "x");
  EXPECT_EQ(choose(out / "old-install"), out / "old-install");
  EXPECT_EQ(choose(out / "does-not-exist"), out / "does-not-exist");
  // A folder holding only the game executable is also taken as it is.
  fs::create_directories(out / "only-exe");
  writeText(out / "only-exe/VELMO.exe", "x");
  EXPECT_EQ(choose(out / "only-exe"), out / "only-exe");

  // Cancelled or empty: unchanged.
  fake.folderAnswer = false;
  EXPECT_EQ(choose(out / "full"), out / "only-exe");
  fake.folderAnswer = true;
  EXPECT_EQ(choose(""), out / "only-exe");
}

// --- music -------------------------------------------------------------------

struct FakeMusicDevice {
  std::mutex lock;
  std::vector<uint32_t> volumes;
  bool closed = false;
};
FakeMusicDevice* gMusicDevice = nullptr;
FakeMusicDevice* fakeOf(MusicDevice* d) { return reinterpret_cast<FakeMusicDevice*>(d); }
MusicDevice* musicOpen(MusicEvent&, uint32_t volume) {
  std::lock_guard<std::mutex> hold(gMusicDevice->lock);
  gMusicDevice->volumes.push_back(volume);
  return reinterpret_cast<MusicDevice*>(gMusicDevice);
}
void musicSetVolume(MusicDevice* d, uint32_t volume) {
  std::lock_guard<std::mutex> hold(fakeOf(d)->lock);
  fakeOf(d)->volumes.push_back(volume);
}
// Buffers are taken and never finish: the thread just waits.
bool musicWrite(MusicDevice*, MusicBuffer&) { return true; }
void musicReset(MusicDevice*) {}
void musicClose(MusicDevice* d) {
  std::lock_guard<std::mutex> hold(fakeOf(d)->lock);
  fakeOf(d)->closed = true;
}
const MusicOutputOps kFakeMusic = {musicOpen, musicSetVolume, musicWrite, musicReset, musicClose};

TEST(WizardMusic, MuteSetsTheDeviceVolumeAndClosingStopsTheThread) {
  FakeMusicDevice device;
  gMusicDevice = &device;
  std::string pcm(4000, '\x10');
  OwnedPack owned;
  ASSERT_TRUE(makeAssetPack({{"music_b.pcm", pcm}}, owned));
  PackContext s;
  s.pack = owned.pack;
  InstallState state;
  auto* player = test::keptUntilExit(new MusicPlayer);  // the thread may outlive a failed test
  WizardController c;
  initWizardController(c, s, state);
  startWizardMusic(c, *player, kFakeMusic);
  EXPECT_TRUE(c.state.musicAvailable);
  ASSERT_EQ(c.music, player);
  for (int i = 0; i < 500 && !player->device.load(); ++i) std::this_thread::sleep_for(2ms);
  ASSERT_NE(player->device.load(), nullptr);

  performAction(c, id(WizardAction::ToggleMute));
  EXPECT_TRUE(c.state.muted);
  performAction(c, id(WizardAction::ToggleMute));
  EXPECT_FALSE(c.state.muted);
  {
    std::lock_guard<std::mutex> hold(device.lock);
    EXPECT_EQ(device.volumes, (std::vector<uint32_t>{kMusicVolume, 0, kMusicVolume}));
  }
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(finishWizard(c), 1);
  EXPECT_LE(std::chrono::steady_clock::now() - before, 400ms);
  EXPECT_FALSE(player->threadRunning.load()) << "the thread ended within the wait";
  std::lock_guard<std::mutex> hold(device.lock);
  EXPECT_TRUE(device.closed);
}

TEST(WizardMusic, WithoutMusicOnlyTheFlagFlips) {
  OwnedPack owned;
  ASSERT_TRUE(makeAssetPack({{"xapk_info", "name=x\n"}}, owned));
  PackContext s;
  s.pack = owned.pack;
  InstallState state;
  MusicPlayer player;
  WizardController c;
  initWizardController(c, s, state);
  startWizardMusic(c, player, kFakeMusic);
  EXPECT_FALSE(c.state.musicAvailable);
  EXPECT_EQ(c.music, nullptr);
  performAction(c, id(WizardAction::ToggleMute));
  EXPECT_TRUE(c.state.muted);
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(finishWizard(c), 1);
  EXPECT_LE(std::chrono::steady_clock::now() - before, 50ms) << "nothing to wait for";
}

}  // namespace
}  // namespace velmo
