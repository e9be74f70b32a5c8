// Tells whether screenshots of the wizard show a given text on its failed
// screen. The reference is the failed screen painted by the wizard's own
// painter with that text and no snow; the two are compared by their ink
// (light pixels) inside the message box. Snow only adds light pixels and
// moves between shots, so the darkest value of each pixel over a few shots
// is the screen without most of it; the reference ink must then be nearly
// all present, and only a little ink may be there that the reference lacks.
//
// usage: failed_text_check WINDOW_X WINDOW_Y TEXT SHOT.png...
// Exit code 0 when the text is shown, 1 when it is not, 2 on bad input.
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "ui/cairo_painter.h"
#include "ui/wizard_paint.h"

namespace velmo {
namespace {

// The failed screen's message box, in window coordinates.
constexpr int kBoxX = 54, kBoxY = 264, kBoxW = 540, kBoxH = 180;

int brightness(cairo_surface_t* s, int x, int y) {
  const unsigned char* row = cairo_image_surface_get_data(s) + size_t(y) * cairo_image_surface_get_stride(s);
  uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
  int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return (r * 3 + g * 6 + b) / 10;
}

constexpr int kInk = 100;

int check(int windowX, int windowY, const std::wstring& text, int shotCount, char** shotPaths) {
  std::vector<SurfacePtr> shots;
  for (int i = 0; i < shotCount; ++i) {
    SurfacePtr shot(cairo_image_surface_create_from_png(shotPaths[i]));
    if (cairo_surface_status(shot.get()) != CAIRO_STATUS_SUCCESS) {
      std::fprintf(stderr, "failed_text_check: cannot read %s\n", shotPaths[i]);
      return 2;
    }
    cairo_surface_flush(shot.get());
    if (windowX < 0 || windowY < 0 || windowX + kBoxX + kBoxW > cairo_image_surface_get_width(shot.get()) ||
        windowY + kBoxY + kBoxH > cairo_image_surface_get_height(shot.get())) {
      std::fprintf(stderr, "failed_text_check: the message box lies outside %s\n", shotPaths[i]);
      return 2;
    }
    shots.push_back(std::move(shot));
  }

  WizardGraphics graphics;
  initWizardGraphics(graphics, cairoPainter(), {}, 1);
  graphics.snow.particles.clear();
  WizardState state;
  state.screen = WizardScreen::Failed;
  InstallOptions options;
  InstallState install;
  install.errorText = text;
  cairo_surface_t* reference =
      cairoSurface(*paintWizard(graphics, state, options, install, WizardStartupValues{}, 0, 0));

  int referenceInk = 0, missing = 0, extra = 0;
  for (int y = kBoxY; y < kBoxY + kBoxH; ++y) {
    for (int x = kBoxX; x < kBoxX + kBoxW; ++x) {
      int darkest = 255;
      for (const SurfacePtr& shot : shots) darkest = std::min(darkest, brightness(shot.get(), windowX + x, windowY + y));
      bool want = brightness(reference, x, y) > kInk, got = darkest > kInk;
      referenceInk += want;
      missing += want && !got;
      extra += got && !want;
    }
  }
  // Snow is gone from the darkest values, and the same text painted here and
  // in the window differs by a few pixels; a word more or less differs by
  // dozens.
  bool shown = referenceInk > 0 && missing * 20 <= referenceInk && extra <= 20;
  std::printf("failed_text_check: %d ink pixels expected, %d missing, %d extra: %s\n", referenceInk, missing, extra,
              shown ? "shown" : "not shown");
  return shown ? 0 : 1;
}

}  // namespace
}  // namespace velmo

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: failed_text_check WINDOW_X WINDOW_Y TEXT SHOT.png...\n");
    return 2;
  }
  return velmo::check(std::atoi(argv[1]), std::atoi(argv[2]), velmo::fromUtf8(argv[3]), argc - 4, argv + 4);
}
