// Time to render one whole wizard frame (the installing screen with 150 snow
// particles, the strip art and the progress bar) on one core, with the Cairo
// painter, or with the GDI+ painter in the Windows build (run under Wine by
// hand).
#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include "ui/gdiplus/gdiplus_painter.h"
#else
#include "ui/cairo/cairo_painter.h"
#endif
#include "ui/wizard_paint.h"
#include "velmo-pack/tool_io.h"

using namespace velmo;

int main(int argc, char** argv) {
  Bytes art;
  if (argc > 1) readFileBytes(argv[1], art);  // a strip-art PNG, optional
  WizardGraphics g;
  auto t0 = std::chrono::steady_clock::now();
#ifdef _WIN32
  startGdiplus();
  const Painter& painter = gdiplusPainter();
#else
  const Painter& painter = cairoPainter();
#endif
  initWizardGraphics(g, painter, art, 1);
  double setup = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  WizardState state;
  state.screen = WizardScreen::Installing;
  InstallOptions options;
  options.destinationFolder = L"/home/player/Games/Harrowmere";
  state.shown.bytesTotal = 241564748;
  state.shown.bytesDone = 99000000;
  state.shown.jobRunning = true;
  state.shown.currentFile = L"VELMO_Data\\StreamingAssets\\COMBG01A.unity3d";
  state.shown.packHasBundles = true;
  const int frames = 300;
  paintWizard(g, state, options, 0.033f, 0);  // creates the back buffer
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) paintWizard(g, state, options, 0.033f, uint32_t(i * 33));
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / frames;
  std::printf("set-up %.1f ms; one installing frame %.2f ms (%.0f%% of a 33 ms frame)%s\n", setup, ms, ms / 33 * 100,
              art.empty() ? " without strip art" : "");
  return 0;
}
