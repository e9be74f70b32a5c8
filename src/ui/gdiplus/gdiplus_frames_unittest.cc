// Every frame state drawn with the GDI+ painter and set against the Cairo
// render of the same state from the host build, outside text (where the two
// libraries lay glyphs out differently). Renders and side-by-side pictures
// (Cairo | GDI+ | difference) land in the build folder to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/png_encode.h"
#include "support/test_util.h"
#include "support/wizard_frames.h"
#include "ui/gdiplus/gdiplus_painter.h"

namespace velmo {
namespace {

using namespace velmo::test;

// A pixel differs when a channel is off by more than this and the value is
// not found between the extremes of the other render's 3x3 neighbourhood:
// anti-aliased edges that one library puts half a pixel away, or that
// Wine's GDI+ does not anti-alias at all, then still agree.
constexpr int kChannelTolerance = 24;
// At most this share of the pixels outside text may differ. Wine's GDI+
// neither anti-aliases paths nor offsets pens by the half pixel it gives
// fills, so its one-pixel frame lines along the bottom and right edge fall
// off the image (0.25% of a frame alone) and every curved edge is stepped;
// its renders differ by 0.4 to 0.7%. A button, the bar or the panel in a
// wrong colour or place is 1.5% or more.
constexpr double kDifferingShareBudget = 0.01;

int channel(Argb c, int shift) { return int((c >> shift) & 0xFF); }

bool coveredByNeighbours(const CanvasImage& image, int x, int y, Argb want) {
  for (int shift = 0; shift < 32; shift += 8) {
    int lo = 255, hi = 0;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        int nx = std::clamp(x + dx, 0, image.width() - 1), ny = std::clamp(y + dy, 0, image.height() - 1);
        int v = channel(image.pixel(nx, ny), shift);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
    int v = channel(want, shift);
    if (v < lo - kChannelTolerance || v > hi + kChannelTolerance) return false;
  }
  return true;
}

bool differs(const CanvasImage& a, const CanvasImage& b, int x, int y) {
  Argb pa = a.pixel(x, y), pb = b.pixel(x, y);
  bool close = true;
  for (int shift = 0; shift < 32; shift += 8) {
    if (std::abs(channel(pa, shift) - channel(pb, shift)) > kChannelTolerance) close = false;
  }
  return !close && (!coveredByNeighbours(b, x, y, pa) || !coveredByNeighbours(a, x, y, pb));
}

// A picture put together pixel by pixel, for the side-by-side file.
class PixelImage final : public CanvasImage {
 public:
  PixelImage(int w, int h) : w_(w), h_(h), pixels_(size_t(w) * h, 0xFF000000) {}
  int width() const override { return w_; }
  int height() const override { return h_; }
  Argb pixel(int x, int y) const override {
    return x < 0 || y < 0 || x >= w_ || y >= h_ ? 0 : pixels_[size_t(y) * w_ + x];
  }
  void set(int x, int y, Argb c) { pixels_[size_t(y) * w_ + x] = c; }

 private:
  int w_, h_;
  std::vector<Argb> pixels_;
};

// Dims a pixel to a third, keeping it opaque.
Argb dimmed(Argb c) {
  return 0xFF000000 | ((channel(c, 16) / 3) << 16) | ((channel(c, 8) / 3) << 8) | (channel(c, 0) / 3);
}

TEST(GdiplusFrames, EveryStateMatchesTheCairoRenderOutsideText) {
  ASSERT_TRUE(startGdiplus());
  const std::string hostFrames = test::dataDir(VELMO_HOST_BUILD_DIR, "host") + "\\wizard-frames";
  const std::string outDir = test::buildPath("wizard-frames");
  CreateDirectoryA(outDir.c_str(), nullptr);
  const Painter& painter = gdiplusPainter();
  bool anyCompared = false;
  for (const WizardFrameState& state : wizardFrameStates()) {
    SCOPED_TRACE(state.name);
    WizardFrame frame = renderWizardFrame(painter, state);
    ASSERT_TRUE(frame.image);
    ASSERT_TRUE(writeBytes(outDir + "\\" + state.name + ".gdiplus.png", encodePng(*frame.image)));
    Bytes cairoPng = readBytes(hostFrames + "\\" + state.name + ".png");
    if (cairoPng.empty()) continue;
    std::unique_ptr<CanvasImage> cairo = painter.decodePng(cairoPng);
    ASSERT_TRUE(cairo) << "unreadable Cairo render";
    ASSERT_EQ(cairo->width(), frame.image->width());
    ASSERT_EQ(cairo->height(), frame.image->height());
    anyCompared = true;

    const CanvasImage& gdiplus = *frame.image;
    int w = gdiplus.width(), h = gdiplus.height();
    PixelImage side(3 * w, h);
    long compared = 0, differing = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        side.set(x, y, cairo->pixel(x, y));
        side.set(w + x, y, gdiplus.pixel(x, y));
        Argb marked = 0xFF202020;  // text: not compared
        if (!inTextRect(frame, x, y)) {
          ++compared;
          bool off = differs(*cairo, gdiplus, x, y);
          if (off) ++differing;
          marked = off ? 0xFFFF3030 : dimmed(cairo->pixel(x, y));
        }
        side.set(2 * w + x, y, marked);
      }
    }
    ASSERT_TRUE(writeBytes(outDir + "\\" + state.name + ".side-by-side.png", encodePng(side)));
    double share = compared ? double(differing) / double(compared) : 0;
    std::printf("%-28s %6ld of %6ld pixels outside text differ (%.3f%%)\n", state.name.c_str(), differing, compared,
                share * 100);
    EXPECT_LE(share, kDifferingShareBudget);
  }
  if (!anyCompared) {
    GTEST_SKIP() << "no Cairo renders in " << hostFrames << " (the native tests write them)";
  }
}

}  // namespace
}  // namespace velmo
