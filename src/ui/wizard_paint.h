#pragma once
// One complete frame of the wizard: background, snow behind, title block,
// the current screen with its widgets, buttons, title-bar buttons, snow in
// front. Painting also rebuilds the hit regions, so what is clickable is
// exactly what was last drawn. Renders through a painter into an image; the
// window back end only copies that image to the screen.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/startup.h"
#include "common/bytes.h"
#include "install/install_job.h"
#include "install/install_state.h"
#include "ui/canvas.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/snow.h"
#include "ui/wizard_state.h"

namespace velmo {

// Shown next to the install size as the temporary space the job needs.
constexpr uint64_t kTemporaryReserve = 230686720;  // 220 MiB

// Process-wide values fixed at start-up.
struct WizardStartupValues {
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;
  // The bytes the install job will produce with these options; asked on
  // every frame of the destination screen. Unset counts as 0.
  std::function<uint64_t(const InstallOptions&)> planInstallBytes;
};

// The values of a finished start-up; the plan reads startup.pack, which must
// outlive the result.
WizardStartupValues wizardStartupValues(const Startup& startup);

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
// suffices: more than needed + kFreeSpaceMargin (a failed free-space query
// counts as sufficient).
struct SpaceLine {
  std::wstring text;
  bool sufficient = true;
};
SpaceLine computeSpaceLine(uint64_t needed, const std::wstring& destinationFolder);

// Renders the frame into graphics.backBuffer and returns it. dt is the
// animation step in seconds (0 for a plain repaint); nowTick is the
// millisecond clock that drives sway, flake rotation and the time left.
// Null when there is nothing to draw into (no painter, or it could not make
// the back buffer); the hit regions are rebuilt all the same.
CanvasImage* paintWizard(WizardGraphics& graphics, WizardState& state, const InstallOptions& options,
                         InstallState& install, const WizardStartupValues& startup, float dt, uint32_t nowTick);

// The same frame drawn onto a given canvas (of a 1040x640 image).
void drawWizardFrame(Canvas& canvas, WizardGraphics& graphics, WizardState& state, const InstallOptions& options,
                     InstallState& install, const WizardStartupValues& startup, float dt, uint32_t nowTick);

}  // namespace velmo
