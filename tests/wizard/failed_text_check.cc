// Tells whether screenshots of the wizard show a given text on its failed
// screen. The reference is the failed screen painted by the wizard's own
// painter (Cairo on Linux, GDI+ on Windows: the window's fonts) with that
// text and no snow; the two are compared by their ink
// (light pixels) inside the message box. Snow only adds light pixels and
// moves between shots, so the darkest value of each pixel over a few shots
// is the screen without most of it; the reference ink must then be nearly
// all present, and only a little ink may be there that the reference lacks.
//
// usage: failed_text_check WINDOW_X WINDOW_Y TEXT SHOT.png...
// Exit code 0 when the text is shown, 1 when it is not, 2 on bad input.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "ui/wizard_paint.h"
#ifdef _WIN32
#include "ui/gdiplus/gdiplus_painter.h"
#else
#include "ui/cairo/cairo_painter.h"
#endif

namespace velmo {
namespace {

// The failed screen's message box, in window coordinates.
constexpr int kBoxX = 54, kBoxY = 264, kBoxW = 540, kBoxH = 180;

// The painter the wizard of this platform draws with, so that the reference
// has the window's own fonts.
const Painter* windowPainter() {
#ifdef _WIN32
  return startGdiplus() ? &gdiplusPainter() : nullptr;
#else
  return &cairoPainter();
#endif
}

int brightness(const CanvasImage& image, int x, int y) {
  Argb p = image.pixel(x, y);
  int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return (r * 3 + g * 6 + b) / 10;
}

constexpr int kInk = 100;

int check(int windowX, int windowY, const std::wstring& text, int shotCount, char** shotPaths) {
  const Painter* painter = windowPainter();
  if (!painter) {
    std::fprintf(stderr, "failed_text_check: no painter\n");
    return 2;
  }
  std::vector<std::unique_ptr<CanvasImage>> shots;
  for (int i = 0; i < shotCount; ++i) {
    std::ifstream in(shotPaths[i], std::ios::binary);
    Bytes png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::unique_ptr<CanvasImage> shot = painter->decodePng(png);
    if (!shot) {
      std::fprintf(stderr, "failed_text_check: cannot read %s\n", shotPaths[i]);
      return 2;
    }
    if (windowX < 0 || windowY < 0 || windowX + kBoxX + kBoxW > shot->width() ||
        windowY + kBoxY + kBoxH > shot->height()) {
      std::fprintf(stderr, "failed_text_check: the message box lies outside %s\n", shotPaths[i]);
      return 2;
    }
    shots.push_back(std::move(shot));
  }

  WizardGraphics graphics;
  initWizardGraphics(graphics, *painter, {}, 1);
  graphics.snow.particles.clear();
  WizardState state;
  state.screen = WizardScreen::Failed;
  InstallOptions options;
  state.shown.errorText = text;
  const CanvasImage* painted = paintWizard(graphics, state, options, 0, 0);
  if (!painted) {
    std::fprintf(stderr, "failed_text_check: cannot paint the reference\n");
    return 2;
  }
  const CanvasImage& reference = *painted;

  int referenceInk = 0, missing = 0, extra = 0;
  for (int y = kBoxY; y < kBoxY + kBoxH; ++y) {
    for (int x = kBoxX; x < kBoxX + kBoxW; ++x) {
      int darkest = 255;
      for (const auto& shot : shots) darkest = std::min(darkest, brightness(*shot, windowX + x, windowY + y));
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
