#include "ui/gdiplus/gdiplus_painter.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/crc32.h"
#include "support/png_encode.h"

namespace velmo {
namespace {

class GdiplusPainterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(startGdiplus()); }
  const Painter& p = gdiplusPainter();
  std::unique_ptr<CanvasImage> image(int w, int h) {
    auto made = p.createImage(w, h);
    EXPECT_TRUE(made);
    return made;
  }
  // A family every Wine prefix and Windows has one of.
  std::string someFamily() {
    std::vector<std::string> installed = p.installedFontFamilies();
    for (const char* want : {"Arial", "Liberation Sans", "DejaVu Sans", "Tahoma"}) {
      for (const std::string& have : installed) {
        if (have == want) return have;
      }
    }
    return installed.empty() ? std::string() : installed.front();
  }
};

uint32_t alphaOf(Argb c) { return c >> 24; }
// Channels within tol of each other.
bool within(Argb a, Argb b, int tol) {
  for (int shift = 0; shift < 32; shift += 8) {
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tol) return false;
  }
  return true;
}

TEST_F(GdiplusPainterTest, FillsAndGradientsLandOnTheirPixels) {
  auto img = image(200, 40);
  EXPECT_EQ(img->pixel(5, 5), 0u);  // new images are transparent
  {
    auto c = p.beginDrawing(*img);
    c->fillRoundedRect({0, 0, 10, 10}, 0, 0xFF336699);
    c->fillRoundedRect({10, 0, 10, 10}, 0, 0x80FF0000);
    LinearGradient repeat{0, 0, 100, 0, 0xFF000000, 0xFFFFFFFF, false};
    c->fillRoundedRectGradient({0, 10, 200, 10}, 0, repeat);
    LinearGradient reflect{0, 0, 100, 0, 0xFF000000, 0xFFFFFFFF, true};
    c->fillRoundedRectGradient({0, 20, 200, 10}, 0, reflect);
    c->fillRoundedRect({0, 30, 0, 10}, 0, 0xFFFFFFFF);  // degenerate: nothing
  }
  EXPECT_EQ(img->pixel(0, 0), 0xFF336699u);
  EXPECT_EQ(img->pixel(9, 9), 0xFF336699u);  // whole-pixel edges are crisp
  EXPECT_TRUE(within(img->pixel(15, 5), 0x80FF0000, 2));
  EXPECT_EQ(img->pixel(20, 5), 0u);
  // A quarter along: a quarter white; beyond the end it repeats or reflects.
  EXPECT_TRUE(within(img->pixel(25, 15), 0xFF404040, 6));
  EXPECT_TRUE(within(img->pixel(125, 15), 0xFF404040, 6));
  EXPECT_TRUE(within(img->pixel(125, 25), 0xFFBFBFBF, 6));
  EXPECT_EQ(img->pixel(0, 35), 0u);
}

TEST_F(GdiplusPainterTest, RoundedCornersStrokesLinesAndDots) {
  auto img = image(100, 100);
  {
    auto c = p.beginDrawing(*img);
    c->fillRoundedRect({10, 10, 60, 40}, 10, 0xFFFFFFFF);
    c->strokeRoundedRect({10, 60, 60, 30}, 7, 0xFF00FF00, 2);
    c->drawLine(80, 10, 95, 10, 0xFFFF0000, 3);
    c->fillCircle(88, 40, 5, 0xFF0000FF);
  }
  EXPECT_EQ(alphaOf(img->pixel(10, 10)), 0u);  // outside the corner's arc
  EXPECT_EQ(alphaOf(img->pixel(11, 11)), 0u);
  EXPECT_EQ(img->pixel(40, 30), 0xFFFFFFFFu);
  EXPECT_EQ(img->pixel(10, 30), 0xFFFFFFFFu);  // the straight side is whole
  EXPECT_EQ(alphaOf(img->pixel(9, 30)), 0u);
  EXPECT_GT(alphaOf(img->pixel(40, 60)), 0x80u);  // on the outline
  EXPECT_EQ(alphaOf(img->pixel(40, 75)), 0u);     // inside it, nothing
  EXPECT_TRUE(within(img->pixel(88, 9), 0xFFFF0000, 8));
  EXPECT_EQ(alphaOf(img->pixel(88, 13)), 0u);
  EXPECT_EQ(alphaOf(img->pixel(88, 6)), 0u);
  EXPECT_EQ(img->pixel(97, 10), 0u);  // butt caps: nothing beyond the end point
  EXPECT_TRUE(within(img->pixel(88, 40), 0xFF0000FF, 2));
  EXPECT_EQ(alphaOf(img->pixel(88, 47)), 0u);
}

TEST_F(GdiplusPainterTest, ImagesCopyExactlyAndScaleWithPaddedEdges) {
  auto src = image(2, 2);
  {
    auto c = p.beginDrawing(*src);
    c->fillRoundedRect({0, 0, 2, 2}, 0, 0xFF2040C0);
    c->fillRoundedRect({1, 1, 1, 1}, 0, 0x80FFFFFF);
  }
  auto copy = image(2, 2);
  {
    auto c = p.beginDrawing(*copy);
    c->fillRoundedRect({0, 0, 2, 2}, 0, 0xFFFF0000);
    c->copyImage(*src);  // replaces, does not blend
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(copy->pixel(i % 2, i / 2), src->pixel(i % 2, i / 2));
  auto big = image(40, 40);
  {
    auto c = p.beginDrawing(*big);
    c->drawImage(*src, {10, 10, 20, 20});
  }
  // The edge pixels reach the edges of the destination at full strength.
  EXPECT_TRUE(within(big->pixel(10, 10), 0xFF2040C0, 8));
  EXPECT_EQ(alphaOf(big->pixel(29, 10)), 0xFFu);
  EXPECT_EQ(alphaOf(big->pixel(10, 29)), 0xFFu);
  EXPECT_EQ(alphaOf(big->pixel(9, 20)), 0u);
  EXPECT_EQ(alphaOf(big->pixel(30, 20)), 0u);
}

// Whether any pixel inside (or outside) the rectangle was touched.
bool anyInk(const CanvasImage& img, RectF r, bool inside) {
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      bool in = x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
      if (in == inside && img.pixel(x, y) != 0) return true;
    }
  }
  return false;
}

TEST_F(GdiplusPainterTest, TextDrawsInsideItsRectangleAndMeasures) {
  std::string family = someFamily();
  ASSERT_FALSE(family.empty()) << "GDI+ lists no installed font";
  const std::wstring words = L"Choose the folder for the Windows game and wait a while";
  RectF wrapped{10, 10, 120, 30};
  auto img = image(300, 100);
  {
    auto c = p.beginDrawing(*img);
    c->drawText(words, family, 15, kTextBold, 0xFFFFFFFF, wrapped, kAlignNear, TextFlow::Wrapped);
    EXPECT_GT(c->measureTextWidth(L"WWWW", family, 15, kTextRegular),
              c->measureTextWidth(L"W", family, 15, kTextRegular) * 2);
    EXPECT_EQ(c->measureTextWidth(L"", family, 15, kTextRegular), 0);
    EXPECT_EQ(c->measureTextWidth(L"W", "", 15, kTextRegular), 0);
    c->drawText(words, "", 15, kTextRegular, 0xFFFFFFFF, {0, 60, 300, 40}, kAlignNear, TextFlow::Wrapped);
  }
  EXPECT_TRUE(anyInk(*img, wrapped, true));
  EXPECT_FALSE(anyInk(*img, wrapped, false));  // clipped, and no family draws nothing

  auto line = image(300, 60);
  RectF oneLine{10, 10, 80, 20};
  {
    auto c = p.beginDrawing(*line);
    c->drawText(words + L"\nsecond", family, 14, kTextRegular, 0xFFFFFFFF, oneLine, kAlignNear, TextFlow::SingleLine);
  }
  EXPECT_TRUE(anyInk(*line, oneLine, true));
  EXPECT_FALSE(anyInk(*line, oneLine, false));

  auto free = image(300, 60);
  {
    auto c = p.beginDrawing(*free);
    c->drawText(words, family, 14, kTextRegular, 0xFFFFFFFF, {10, 10, 1, 1}, kAlignNear, TextFlow::Unclipped);
  }
  EXPECT_TRUE(anyInk(*free, {100, 0, 200, 60}, true));  // runs on to the right
}

// The wizard's fonts are those GDI+ can create (on Windows the listed faces,
// under a bare Wine GDI+'s default family): every role draws and measures.
TEST_F(GdiplusPainterTest, WizardFontsAreFamiliesGdiplusCreates) {
  ASSERT_NE(p.chooseFonts, nullptr);
  FontFamilies f = p.chooseFonts();
  auto img = image(200, 40);
  auto c = p.beginDrawing(*img);
  for (const std::string& family : {f.title, f.body, f.subtitle}) {
    SCOPED_TRACE(family);
    ASSERT_FALSE(family.empty());
    EXPECT_GT(c->measureTextWidth(L"Harrowmere", family, 15, kTextRegular), 20.0f);
  }
}

TEST_F(GdiplusPainterTest, DecodesPngsAndRefusesDamagedOrOversizedOnes) {
  auto art = image(3, 2);
  {
    auto c = p.beginDrawing(*art);
    c->fillRoundedRect({0, 0, 3, 2}, 0, 0xFF10C060);
    c->fillRoundedRect({2, 1, 1, 1}, 0, 0x80FFFFFF);
  }
  Bytes png = test::encodePng(*art);
  ASSERT_GT(png.size(), 33u);
  auto decoded = p.decodePng(png);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width(), 3);
  ASSERT_EQ(decoded->height(), 2);
  EXPECT_EQ(decoded->pixel(0, 0), 0xFF10C060u);
  EXPECT_TRUE(within(decoded->pixel(2, 1), art->pixel(2, 1), 1));

  EXPECT_FALSE(p.decodePng(ByteView(png.data(), png.size() / 2)));  // cut short
  Bytes garbled = png;
  for (size_t i = 41; i < garbled.size() - 12; ++i) garbled[i] ^= 0x5A;  // image data and its CRC
  EXPECT_FALSE(p.decodePng(garbled));
  EXPECT_FALSE(p.decodePng(Bytes(100, 0x42)));
  auto withSize = [&](uint32_t w, uint32_t h) {
    Bytes forged = png;
    for (int i = 0; i < 4; ++i) {
      forged[16 + i] = uint8_t(w >> (24 - 8 * i));
      forged[20 + i] = uint8_t(h >> (24 - 8 * i));
    }
    // A sound header, so only the size limits can refuse it.
    uint32_t crc = crc32Update(0, forged.data() + 12, 17);
    for (int i = 0; i < 4; ++i) forged[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return forged;
  };
  EXPECT_FALSE(p.decodePng(withSize(8193, 1)));
  EXPECT_FALSE(p.decodePng(withSize(5000, 5000)));  // 25 Mi pixels
}

}  // namespace
}  // namespace velmo
