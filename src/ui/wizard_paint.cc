#include "ui/wizard_paint.h"

#include "common/size_text.h"
#include "install/install_state.h"

namespace velmo {

namespace {

constexpr Argb kHeadingColour = 0xFFC8DCFA;
constexpr Argb kBodyColour = 0xEBDEE8F8;
constexpr Argb kDimColour = 0xC8AABEDC;
constexpr Argb kWarningColour = 0xF0F0A0A0;

int32_t actionId(WizardAction a) { return int32_t(a); }

void addButton(WizardState& state, WizardAction id, float x, float y, float w, float h, const wchar_t* label,
               bool enabled, bool primary) {
  ButtonRegion b;
  b.id = actionId(id);
  b.x = x, b.y = y, b.w = w, b.h = h;
  b.label = label;
  b.enabled = enabled;
  b.primary = primary;
  state.buttons.push_back(std::move(b));
}

void drawTitleBlock(Canvas& canvas, const FontFamilies& f) {
  drawText(canvas, L"LUMENCREST", f.title, 46, kTextBold, 0xFFF0F8FF, {54, 30, 560, 60}, kAlignNear, true);
  drawText(canvas, L"\uFF5EDuskwind\uFF5E", f.subtitle, 22, kTextRegular, 0xEBCDE4FC, {56, 92, 560, 30}, kAlignNear,
           true);
  drawText(canvas, L"for Windows", f.title, 25, kTextItalic, 0xFFDEECFF, {56, 126, 420, 30}, kAlignNear, true);
  drawText(canvas, L"Patcher", f.title, 20, kTextRegular, 0xFFC0D8F5, {56, 164, 300, 26}, kAlignNear, true);
  // Through the pixel centres, so the one-pixel line stays one row.
  canvas.drawLine(54, 205.5f, 550, 205.5f, 0x82AAC8F0, 1);
}

void paintChooseXapk(Canvas& canvas, const FontFamilies& f, WizardState& state) {
  const WizardShown& startup = state.shown;
  drawText(canvas, L"Choose the XAPK file.", f.title, 22, kTextRegular, kHeadingColour, {54, 224, 500, 30},
           kAlignNear, true);
  drawText(canvas, L"Choose the Harrowmere 1.0.7 XAPK.", f.body, 15, kTextRegular, kBodyColour, {54, 260, 540, 24},
           kAlignNear, true);
  drawPathField(canvas, f, 54, 294, 380, state.xapkPath, L"No XAPK chosen");
  addButton(state, WizardAction::BrowseXapk, 446, 294, 120, 36, L"Browse...", true, false);

  if (!startup.packOk) {
    drawText(canvas, startup.packErrorText, f.body, 14, kTextItalic, kWarningColour, {54, 352, 540, 60}, kAlignNear,
             true);
  } else if (!state.xapkMessage.empty()) {
    if (state.checkingXapk) {
      // The earlier result, neither verdict, until this check replaces it.
      drawText(canvas, state.xapkMessage, f.body, 14, kTextRegular, kBodyColour, {54, 352, 540, 44}, kAlignNear, true);
    } else if (state.xapkValid) {
      drawText(canvas, state.xapkMessage, f.body, 14, kTextRegular, 0xDCBEEBD7, {54, 352, 540, 44}, kAlignNear, true);
    } else {
      drawText(canvas, state.xapkMessage, f.body, 14, kTextItalic, 0xEBF0AAAA, {54, 352, 540, 44}, kAlignNear, true);
    }
  }
  addButton(state, WizardAction::NextToDestination, 54, 540, 190, 44, L"Next", state.xapkValid && startup.packOk,
            true);
}

void paintChooseDestination(Canvas& canvas, const FontFamilies& f, WizardState& state, const InstallOptions& options) {
  drawText(canvas, L"Choose destination folder.", f.title, 22, kTextRegular, kHeadingColour, {54, 224, 500, 30},
           kAlignNear, true);
  drawText(canvas, L"Choose the folder for the Windows game.", f.body, 15, kTextRegular, kBodyColour,
           {54, 260, 540, 24}, kAlignNear, true);
  drawPathField(canvas, f, 54, 294, 380, options.destinationFolder, L"No folder chosen");
  addButton(state, WizardAction::BrowseDestination, 446, 294, 120, 36, L"Browse...", true, false);

  SpaceLine space = spaceLine(state.shown.plannedBytes, state.shown.freeSpace);
  drawText(canvas, space.text, f.body, 14, kTextRegular, space.sufficient ? kDimColour : kWarningColour,
           {54, 344, 540, 22}, kAlignNear, true);

  state.toggles.push_back({actionId(WizardAction::ToggleStripArt), 54, 390, 300, 22, L"Use the bundled strip art"});
  state.toggles.push_back(
      {actionId(WizardAction::ToggleLauncher), 54, 420, 340, 22, L"Create the 1920x1080 launcher"});
  for (const ToggleRegion& t : state.toggles) {
    bool ticked = t.id == actionId(WizardAction::ToggleStripArt) ? options.useStripArt : options.createLauncher;
    drawToggle(canvas, f, t, ticked);
  }

  addButton(state, WizardAction::BackToXapk, 54, 540, 120, 44, L"Back", true, false);
  addButton(state, WizardAction::StartInstall, 190, 540, 190, 44, L"Install",
            state.xapkValid && !options.destinationFolder.empty() && space.sufficient, true);
}

void paintInstalling(Canvas& canvas, const FontFamilies& f, WizardState& state, uint32_t nowTick) {
  const WizardShown& job = state.shown;
  drawText(canvas, L"Building VELMO...", f.title, 22, kTextRegular, kHeadingColour, {54, 224, 540, 30}, kAlignNear,
           true);
  double fraction = fractionDone(job.bytesDone, job.bytesTotal);
  drawProgressBar(canvas, 54, 288, 470, float(fraction), nowTick);
  drawText(canvas, formatPercent(fraction), f.body, 15, kTextBold, kBodyColour, {530, 282, 70, 24}, kAlignNear, true);
  drawText(canvas, job.currentFile, f.body, 13, kTextRegular, kDimColour, {54, 316, 520, 20}, kAlignNear,
           true);
  drawText(canvas, formatProgressLine(job.bytesDone, job.bytesTotal, job.startTick, job.packHasBundles, nowTick), f.body, 13, kTextRegular, kDimColour,
           {54, 338, 520, 20}, kAlignNear, true);
  addButton(state, WizardAction::CancelInstall, 54, 540, 150, 44, L"Cancel", !job.cancelRequested,
            false);
}

void paintFinished(Canvas& canvas, const FontFamilies& f, WizardState& state, const InstallOptions& options) {
  drawText(canvas, L"Finished.", f.title, 22, kTextRegular, kHeadingColour, {54, 224, 500, 30}, kAlignNear, true);
  drawText(canvas, L"VELMO is ready in\n" + options.destinationFolder + L"\n\nStart it with VELMO.exe.", f.body, 15,
           kTextRegular, kBodyColour, {54, 264, 540, 120}, kAlignNear, true);
  addButton(state, WizardAction::PlayNow, 54, 470, 180, 44, L"Play now", true, true);
  addButton(state, WizardAction::OpenFolder, 250, 470, 160, 44, L"Open folder", true, false);
  addButton(state, WizardAction::CreateShortcut, 54, 528, 356, 40,
            state.shortcutCreated ? L"Desktop shortcut created" : L"Create desktop shortcut", !state.shortcutCreated,
            false);
  addButton(state, WizardAction::CloseFinished, 426, 528, 120, 40, L"Close", true, false);
}

void paintFailed(Canvas& canvas, const FontFamilies& f, WizardState& state) {
  drawText(canvas, L"Something went wrong", f.title, 22, kTextRegular, 0xFFF0BEBE, {54, 224, 500, 30}, kAlignNear,
           true);
  drawText(canvas, state.shown.errorText, f.body, 15, kTextRegular, kBodyColour, {54, 264, 540, 180}, kAlignNear,
           true);
  addButton(state, WizardAction::BackToDestination, 54, 540, 160, 44, L"Back", true, true);
}

}  // namespace

SpaceLine spaceLine(uint64_t needed, const FreeSpaceFigure& free) {
  SpaceLine line;
  line.text = L"Space needed: " + formatSize(needed) + L"  (+ " + formatSize(kTemporaryReserve) + L" temporary)";
  line.sufficient = true;
  if (free.known) {
    line.text += L"     Free on " + free.label + L" " + formatSize(free.bytes);
    // Compared without overflow: free > needed + margin.
    line.sufficient = free.bytes > kFreeSpaceMargin && free.bytes - kFreeSpaceMargin > needed;
  }
  return line;
}

void initWizardGraphics(WizardGraphics& graphics, const Painter& painter, ByteView stripArtPng, uint32_t snowSeed) {
  graphics.painter = &painter;
  graphics.fonts = painter.chooseFonts ? painter.chooseFonts() : chooseFontFamilies(painter.installedFontFamilies());
  graphics.stripArt = stripArtPng.empty() ? nullptr : painter.decodePng(stripArtPng);
  graphics.background = composeBackground(painter, graphics.stripArt.get());
  initSnowParticles(graphics.snow, snowSeed);
}

CanvasImage* paintWizard(WizardGraphics& graphics, WizardState& state, const InstallOptions& options, float dt,
                         uint32_t nowTick) {
  const Painter* painter = graphics.painter;
  if (painter && !graphics.backBuffer) graphics.backBuffer = painter->createImage(kWindowWidth, kWindowHeight);
  if (!painter || !graphics.backBuffer) {
    // Nothing to show, but the clicks still need the regions.
    DiscardingCanvas nowhere;
    drawWizardFrame(nowhere, graphics, state, options, dt, nowTick);
    return nullptr;
  }
  std::unique_ptr<Canvas> canvas = painter->beginDrawing(*graphics.backBuffer);
  drawWizardFrame(*canvas, graphics, state, options, dt, nowTick);
  return graphics.backBuffer.get();
}

void drawWizardFrame(Canvas& canvas, WizardGraphics& graphics, WizardState& state, const InstallOptions& options,
                     float dt, uint32_t nowTick) {
  if (!graphics.background && graphics.painter) {
    graphics.background = composeBackground(*graphics.painter, graphics.stripArt.get());
  }
  const FontFamilies& f = graphics.fonts;
  // The layer is opaque, so copying it replaces the whole previous frame.
  if (graphics.background) canvas.copyImage(*graphics.background);

  drawSnowLayer(canvas, graphics.snow, dt, 0, nowTick);
  drawTitleBlock(canvas, f);

  state.buttons.clear();
  state.toggles.clear();
  switch (state.screen) {
    case WizardScreen::ChooseXapk:
      paintChooseXapk(canvas, f, state);
      break;
    case WizardScreen::ChooseDestination:
      paintChooseDestination(canvas, f, state, options);
      break;
    case WizardScreen::Installing:
      paintInstalling(canvas, f, state, nowTick);
      break;
    case WizardScreen::Finished:
      paintFinished(canvas, f, state, options);
      break;
    case WizardScreen::Failed:
      paintFailed(canvas, f, state);
      break;
    default:
      break;
  }
  for (const ButtonRegion& b : state.buttons) drawButton(canvas, f, b, state.mouseX, state.mouseY);

  if (state.musicAvailable) {
    addButton(state, WizardAction::ToggleMute, kMuteCellX, kTitleCellY, kTitleCellW, kTitleCellH, L"", true,
              false);
  }
  addButton(state, WizardAction::Minimize, kMinimizeCellX, kTitleCellY, kTitleCellW, kTitleCellH, L"", true, false);
  addButton(state, WizardAction::CloseWindow, kCloseCellX, kTitleCellY, kTitleCellW, kTitleCellH, L"",
            !state.shown.jobRunning, false);
  drawTitleBarButtons(canvas, f, state.musicAvailable, state.muted, state.mouseX, state.mouseY);

  drawSnowLayer(canvas, graphics.snow, dt, 1, nowTick);
}

}  // namespace velmo
