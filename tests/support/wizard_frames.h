#pragma once
// Named states of the wizard's frame, covering every screen and widget
// state, rendered the same way through any painter so that the renders of
// two painters can be set side by side: snow off, a fixed clock, fixed free
// space, the painter's own fonts, and either no strip art or a synthetic
// one drawn by that painter. The text rectangles of a frame let a
// comparison leave text out, where libraries may differ.
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "ui/canvas.h"
#include "ui/wizard_state.h"

namespace velmo::test {

struct WizardFrameInputs;

struct WizardFrameState {
  std::string name;
  bool stripArt = false;
  void (*setup)(WizardFrameInputs& inputs) = nullptr;
};

std::vector<WizardFrameState> wizardFrameStates();

struct WizardFrame {
  std::unique_ptr<CanvasImage> image;       // null when the painter could not make it
  std::unique_ptr<CanvasImage> background;  // the frame's background layer
  std::vector<RectF> textRects;             // every text call's rectangle, widened by kTextRectMargin
  std::vector<ButtonRegion> buttons;        // the frame's hit regions
  std::vector<ToggleRegion> toggles;
};

// Covers drop shadows, italic overhang and glyphs reaching past their box.
constexpr float kTextRectMargin = 3;

WizardFrame renderWizardFrame(const Painter& painter, const WizardFrameState& state);

// A 300x480 picture of gradients, discs and lines drawn by the painter.
Bytes syntheticStripArtPng(const Painter& painter);

bool inTextRect(const WizardFrame& frame, int x, int y);
// One line "x y w h" per text rectangle, in whole pixels covering it.
std::string textMaskText(const WizardFrame& frame);

}  // namespace velmo::test
