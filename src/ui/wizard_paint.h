#pragma once
// One complete frame of the wizard: background, snow behind, title block,
// the current screen with its widgets, buttons, title-bar buttons, snow in
// front. Painting also rebuilds the hit regions, so what is clickable is
// exactly what was last drawn. Renders into an image surface; the window
// back end only copies that surface to the screen.
#include <cairo.h>

#include <cstdint>
#include <functional>
#include <string>

#include "app/startup.h"
#include "common/bytes.h"
#include "install/install_job.h"
#include "install/install_state.h"
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
  FontFamilies fonts;
  SurfacePtr stripArt;    // may be null: asset missing or undecodable
  SurfacePtr background;  // composed once
  SnowField snow;
  SurfacePtr backBuffer;  // created on the first frame
};

// Chooses the fonts, decodes the strip art (empty bytes: none), composes the
// background and seeds the snow.
void initWizardGraphics(WizardGraphics& graphics, ByteView stripArtPng, uint32_t snowSeed);

// The destination screen's "Space needed" line and whether the free space
// suffices: more than needed + kFreeSpaceMargin (a failed free-space query
// counts as sufficient).
struct SpaceLine {
  std::wstring text;
  bool sufficient = true;
};
SpaceLine computeSpaceLine(uint64_t needed, const std::wstring& destinationFolder);
// What the free-space query is asked about, and how the line names it: the
// drive root and letter on Windows; on POSIX the folder itself (the query
// walks up to an existing parent) and the mount point of its volume.
std::wstring freeSpaceRoot(const std::wstring& destinationFolder);
std::wstring freeSpaceLabel(const std::wstring& root);

// Renders the frame into graphics.backBuffer and returns it. dt is the
// animation step in seconds (0 for a plain repaint); nowTick is the
// millisecond clock that drives sway, flake rotation and the time left.
cairo_surface_t* paintWizard(WizardGraphics& graphics, WizardState& state, const InstallOptions& options,
                             InstallState& install, const WizardStartupValues& startup, float dt,
                             uint32_t nowTick);

}  // namespace velmo
