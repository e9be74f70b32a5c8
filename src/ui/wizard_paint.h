#pragma once
// One complete frame of the wizard: background, snow behind, title block,
// the current screen with its widgets, buttons, title-bar buttons, snow in
// front. Painting also rebuilds the hit regions, so what is clickable is
// exactly what was last drawn. Renders through a painter into an image; the
// window back end only copies that image to the screen.
#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "install/install_job.h"
#include "ui/canvas.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/snow.h"
#include "ui/wizard_state.h"

namespace velmo {

// Shown next to the install size as the temporary space the job needs.
constexpr uint64_t kTemporaryReserve = 230686720;  // 220 MiB

// Drawing objects that live as long as the wizard.
struct WizardGraphics {
  const Painter* painter = nullptr;  // made every image below
  FontFamilies fonts;
  std::unique_ptr<CanvasImage> stripArt;    // may be null: asset missing or undecodable
  std::unique_ptr<CanvasImage> background;  // composed once
  SnowField snow;
  std::unique_ptr<CanvasImage> backBuffer;  // created on the first frame
};

// Chooses the fonts among the painter's, decodes the strip art (empty bytes:
// none), composes the background and seeds the snow. The painter must
// outlive the graphics.
void initWizardGraphics(WizardGraphics& graphics, const Painter& painter, ByteView stripArtPng, uint32_t snowSeed);

// The destination screen's "Space needed" line and whether the free space
// suffices: more than needed + kFreeSpaceMargin (free space that is not
// known counts as sufficient).
struct SpaceLine {
  std::wstring text;
  bool sufficient = true;
};
SpaceLine spaceLine(uint64_t needed, const FreeSpaceFigure& free);

// Renders the frame into graphics.backBuffer and returns it. It draws from
// the state (state.shown included) and the options alone, and rebuilds the
// hit regions. dt is the animation step in seconds (0 for a plain repaint);
// nowTick is the millisecond clock that drives sway, flake rotation and the
// time left. Null when there is nothing to draw into (no painter, or it
// could not make the back buffer); the hit regions are rebuilt all the same.
CanvasImage* paintWizard(WizardGraphics& graphics, WizardState& state, const InstallOptions& options, float dt,
                         uint32_t nowTick);

// The same frame drawn onto a given canvas (of a 1040x640 image).
void drawWizardFrame(Canvas& canvas, WizardGraphics& graphics, WizardState& state, const InstallOptions& options,
                     float dt, uint32_t nowTick);

}  // namespace velmo
