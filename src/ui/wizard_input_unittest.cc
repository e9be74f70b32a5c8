// Presses, motion and the animation clock against the regions of real
// painted frames.
#include <gtest/gtest.h>

#include "support/xapk_fixture.h"
#include "ui/cairo/cairo_painter.h"
#include "ui/wizard_controller.h"

namespace velmo {
namespace {

using namespace velmo::test;

int32_t id(WizardAction a) { return int32_t(a); }

WizardGraphics& sharedGraphics() {
  static WizardGraphics* g = [] {
    auto* graphics = new WizardGraphics;
    initWizardGraphics(*graphics, cairoPainter(), {}, 7);
    return graphics;
  }();
  return *g;
}

class WizardInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(makeAssetPack({{"xapk_info", "name=Harrowmere\n"}}, owned));
    startup.pack = owned.pack;
    initWizardController(c, startup, install);
    c.desktop.chooseXapkFile = [this](std::wstring&) {
      ++xapkChoosers;
      return false;
    };
    c.desktop.postClose = [this] { ++closesPosted; };
    c.desktop.minimizeWindow = [this] { ++minimizes; };
  }
  // Paints a frame (no time passes), which rebuilds the regions.
  CanvasImage& frame() { return *renderWindowFrame(c, sharedGraphics(), 0, 0); }

  OwnedPack owned;
  PackContext startup;
  InstallState install;
  WizardController c;
  int xapkChoosers = 0, closesPosted = 0, minimizes = 0;
};

TEST_F(WizardInputTest, NextTakesPressesOnlyWhenEnabled) {
  frame();
  PressResult r = handlePress(c, 100, 560);
  EXPECT_EQ(r.kind, PressKind::Swallowed);
  EXPECT_EQ(r.action, id(WizardAction::NextToDestination));
  EXPECT_EQ(c.state.screen, WizardScreen::ChooseXapk);

  // A valid XAPK but a damaged pack: still disabled.
  c.state.xapkValid = true;
  c.state.shown.packOk = false;
  frame();
  EXPECT_EQ(handlePress(c, 100, 560).kind, PressKind::Swallowed);

  c.state.shown.packOk = true;
  frame();
  r = handlePress(c, 100, 560);
  EXPECT_EQ(r.kind, PressKind::Action);
  EXPECT_EQ(c.state.screen, WizardScreen::ChooseDestination);
  EXPECT_EQ(c.state.mouseX, 100);
  EXPECT_EQ(c.state.mouseY, 560);
}

TEST_F(WizardInputTest, RegionsIncludeTheirLeftAndTopEdgesOnly) {
  frame();  // "Browse..." at 446, 294, 120, 36
  EXPECT_EQ(handlePress(c, 446, 294).kind, PressKind::Action);
  EXPECT_EQ(handlePress(c, 565.9f, 329.9f).kind, PressKind::Action);
  EXPECT_EQ(xapkChoosers, 2);
  EXPECT_EQ(handlePress(c, 566, 300).kind, PressKind::Nothing);
  EXPECT_EQ(handlePress(c, 500, 330).kind, PressKind::Nothing);
  EXPECT_EQ(handlePress(c, 445.9f, 300).kind, PressKind::Nothing);
  EXPECT_EQ(xapkChoosers, 2);
}

TEST_F(WizardInputTest, TogglesAreTestedFirstAndEachPressFlips) {
  c.state.screen = WizardScreen::ChooseDestination;
  frame();
  ASSERT_EQ(c.state.toggles.size(), 2u);
  // Box or label: anywhere on the row up to x 353; a double click is two presses.
  EXPECT_EQ(handlePress(c, 54, 390).action, id(WizardAction::ToggleStripArt));
  EXPECT_FALSE(c.options.useStripArt);
  EXPECT_EQ(handlePress(c, 353, 411).action, id(WizardAction::ToggleStripArt));
  EXPECT_TRUE(c.options.useStripArt);
  EXPECT_EQ(handlePress(c, 360, 400).kind, PressKind::Nothing);
  EXPECT_EQ(handlePress(c, 390, 430).action, id(WizardAction::ToggleLauncher));
  EXPECT_FALSE(c.options.createLauncher);

  // Where a toggle and a button overlap, the toggle wins.
  c.state.buttons.insert(c.state.buttons.begin(),
                         ButtonRegion{id(WizardAction::BackToXapk), 54, 380, 400, 60, L"Back", true, false});
  EXPECT_EQ(handlePress(c, 60, 400).action, id(WizardAction::ToggleStripArt));
  EXPECT_EQ(c.state.screen, WizardScreen::ChooseDestination);
}

TEST_F(WizardInputTest, DisabledCloseSwallowsThePressEvenInTheDragBand) {
  install.jobRunning = true;
  c.state.screen = WizardScreen::Installing;
  frame();
  PressResult r = handlePress(c, 1000, 20);
  EXPECT_EQ(r.kind, PressKind::Swallowed);
  EXPECT_EQ(r.action, id(WizardAction::CloseWindow));
  EXPECT_EQ(closesPosted, 0);
  // Minimise stays usable during a job.
  EXPECT_EQ(handlePress(c, 960, 20).kind, PressKind::Action);
  EXPECT_EQ(minimizes, 1);

  install.jobRunning = false;
  frame();
  EXPECT_EQ(handlePress(c, 1000, 20).kind, PressKind::Action);
  EXPECT_EQ(closesPosted, 1);
}

TEST_F(WizardInputTest, EmptySpaceAboveSixtyDragsTheWindow) {
  frame();
  EXPECT_EQ(handlePress(c, 700, 59).kind, PressKind::Drag);
  EXPECT_EQ(handlePress(c, 700, 60).kind, PressKind::Nothing);
  EXPECT_EQ(handlePress(c, 0, 0).kind, PressKind::Drag);
  // No music, no mute cell: its place is empty title bar.
  EXPECT_EQ(handlePress(c, 920, 20).kind, PressKind::Drag);
  EXPECT_FALSE(c.state.muted);

  c.state.musicAvailable = true;
  frame();
  EXPECT_EQ(handlePress(c, 920, 20).action, id(WizardAction::ToggleMute));
  EXPECT_TRUE(c.state.muted);
}

TEST_F(WizardInputTest, RegionsOfAnEarlierScreenDoNothing) {
  c.state.screen = WizardScreen::Finished;
  c.options.destinationFolder = L"/games/VELMO";
  frame();
  // The screen changed after the frame was painted.
  c.state.screen = WizardScreen::ChooseXapk;
  EXPECT_EQ(handlePress(c, 100, 480).kind, PressKind::Swallowed);   // "Play now"
  EXPECT_EQ(handlePress(c, 480, 540).kind, PressKind::Swallowed);  // "Close"
  EXPECT_EQ(closesPosted, 0);
  // The title-bar buttons exist on every screen.
  EXPECT_EQ(handlePress(c, 1000, 20).kind, PressKind::Action);
  EXPECT_EQ(closesPosted, 1);
}

TEST_F(WizardInputTest, HandCursorOnlyOverEnabledButtonsAndHoverEndsOnLeave) {
  Argb plain = frame().pixel(450, 312);  // inside "Browse...", near its left edge
  EXPECT_TRUE(handleMotion(c.state, 450, 312));
  EXPECT_FALSE(handleMotion(c.state, 100, 560)) << "Next is disabled";
  EXPECT_FALSE(handleMotion(c.state, 700, 20)) << "empty title bar";
  EXPECT_TRUE(handleMotion(c.state, 990, 20)) << "close";

  handleMotion(c.state, 450, 312);
  Argb hovered = frame().pixel(450, 312);
  EXPECT_NE(hovered, plain);
  handleLeave(c.state);
  EXPECT_EQ(c.state.mouseX, -1);
  EXPECT_EQ(c.state.mouseY, -1);
  EXPECT_EQ(frame().pixel(450, 312), plain);

  c.state.screen = WizardScreen::ChooseDestination;
  frame();
  EXPECT_FALSE(handleMotion(c.state, 60, 400)) << "toggles keep the arrow";
}

TEST(WizardAnimation, StepsFollowTheClockCappedAtATenth) {
  AnimationClock clock;
  EXPECT_FLOAT_EQ(animationStep(clock, 5000), 0);
  EXPECT_FLOAT_EQ(animationStep(clock, 5033), 0.033f);
  EXPECT_FLOAT_EQ(animationStep(clock, 5033), 0);
  // After the thread was busy for seconds: one tenth, then normal again.
  EXPECT_FLOAT_EQ(animationStep(clock, 9000), 0.1f);
  EXPECT_FLOAT_EQ(animationStep(clock, 9040), 0.04f);
  // The tick counter wraps.
  AnimationClock wrap;
  animationStep(wrap, 0xFFFFFFF0u);
  EXPECT_FLOAT_EQ(animationStep(wrap, 0x10u), 0.032f);
}

}  // namespace
}  // namespace velmo
