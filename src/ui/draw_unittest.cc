#include "ui/draw.h"

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/utf8.h"
#include "support/png_encode.h"
#include "ui/cairo/cairo_painter.h"

namespace velmo {
namespace {

// --- helpers -----------------------------------------------------------------

// An image of the Cairo painter on a ground colour, drawn on through canvas()
// and read (once the canvas is done) through at().
struct Drawing {
  std::unique_ptr<CanvasImage> image;
  std::unique_ptr<Canvas> open;
  Drawing(int w, int h, Argb fill) : image(cairoPainter().createImage(w, h)) {
    if (fill != 0) canvas().fillRoundedRect({0, 0, float(w), float(h)}, 0, fill);
  }
  Canvas& canvas() {
    if (!open) open = cairoPainter().beginDrawing(*image);
    return *open;
  }
  Argb at(int x, int y) {
    open.reset();
    return image->pixel(x, y);
  }
  cairo_surface_t* surface() {
    open.reset();
    return cairoSurface(*image);
  }
  uint32_t raw(int x, int y) {
    cairo_surface_t* s = surface();
    uint32_t p;
    std::memcpy(&p, cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + x * 4, 4);
    return p;
  }
  int width() const { return image->width(); }
  int height() const { return image->height(); }
};

int ch(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

// Largest per-channel difference of two ARGB values.
int colourDistance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(ch(a, s) - ch(b, s)));
  return d;
}

// A straight-alpha colour painted over an opaque one.
Argb over(Argb src, Argb dst) {
  double a = ch(src, 24) / 255.0;
  auto mix = [&](int s) { return uint32_t(std::lround(ch(src, s) * a + ch(dst, s) * (1 - a))); };
  return 0xFF000000u | (mix(16) << 16) | (mix(8) << 8) | mix(0);
}

Argb lerpColour(Argb a, Argb b, double t) {
  auto mix = [&](int s) { return uint32_t(std::lround(ch(a, s) + (ch(b, s) - ch(a, s)) * t)); };
  return (mix(24) << 24) | (mix(16) << 16) | (mix(8) << 8) | mix(0);
}

using test::encodePng;

Bytes solidPng(int w, int h, Argb colour) {
  Drawing c(w, h, colour);
  c.at(0, 0);
  return encodePng(*c.image);
}

FontFamilies testFonts() { return chooseFontFamilies(cairoPainter().installedFontFamilies()); }

// --- colours -------------------------------------------------------------------

TEST(Colour, StoredPremultipliedAndReadBackStraight) {
  EXPECT_EQ(premultiplyArgb(0xFFFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(premultiplyArgb(0x80FF0000), 0x80800000u);
  EXPECT_EQ(premultiplyArgb(0x00123456), 0u);
  EXPECT_EQ(premultiplyArgb(0xC878AAE1), 0xC85E85B0u);
  EXPECT_EQ(unpremultiplyPixel(0x80800000), 0x80FF0000u);
  EXPECT_EQ(unpremultiplyPixel(0xC85E85B0), 0xC878AAE0u);  // 8 bits of precision lost in blue
  EXPECT_EQ(unpremultiplyPixel(0), 0u);

  // Painted on a clear surface, cairo stores exactly the premultiplied form;
  // reading it back gives the straight colour within the rounding that a
  // small alpha allows.
  for (Argb colour : {0x80FF0000u, 0x1EFFFFFFu, 0xC878AAE1u, 0xAC070B1Au, 0x3C102030u, 0xFF5A96DCu}) {
    Drawing c(4, 4, 0);
    c.canvas().fillRoundedRect({0, 0, 4, 4}, 0, colour);
    EXPECT_LE(colourDistance(c.raw(1, 1), premultiplyArgb(colour)), 1) << std::hex << colour;
    int tolerance = 255 / int(colour >> 24) + 1;
    EXPECT_LE(colourDistance(c.at(1, 1), colour), tolerance) << std::hex << colour;
    EXPECT_EQ(c.at(1, 1) >> 24, colour >> 24);
  }

  // Over an opaque colour the result is the straight-alpha blend.
  Drawing c(4, 4, 0xFF0000FF);
  c.canvas().fillRoundedRect({0, 0, 4, 4}, 0, 0x80FF0000);
  EXPECT_LE(colourDistance(c.at(2, 2), over(0x80FF0000, 0xFF0000FF)), 1);
  EXPECT_EQ(c.at(4, 0), 0u);  // outside
}

// --- text ------------------------------------------------------------------------

TEST(Text, WrapsInsideItsRectangleAndNeverPaintsOutside) {
  FontFamilies f = testFonts();
  const Argb ground = 0xFF204060;
  const RectF rect{50, 40, 120, 50};
  std::wstring text;
  for (int i = 0; i < 40; ++i) text += L"snow falls softly ";

  for (bool shadow : {false, true}) {
    Drawing c(300, 200, ground);
    drawText(c.canvas(), text, f.body, 14, kTextRegular, 0xFFFFFFFF, rect, kAlignNear, shadow);
    // The shadow may reach 1.5 pixels right of and below the rectangle.
    int spill = shadow ? 2 : 0;
    int outside = 0, firstLine = 0, laterLines = 0;
    for (int y = 0; y < c.height(); ++y) {
      for (int x = 0; x < c.width(); ++x) {
        bool changed = c.at(x, y) != ground;
        bool inside = x >= rect.x && x < rect.x + rect.w + spill && y >= rect.y && y < rect.y + rect.h + spill;
        if (changed && !inside) ++outside;
        if (changed && inside && y < rect.y + 14) ++firstLine;
        if (changed && inside && y >= rect.y + 22) ++laterLines;
      }
    }
    EXPECT_EQ(outside, 0) << "shadow " << shadow;
    EXPECT_GT(firstLine, 20);
    EXPECT_GT(laterLines, 20) << "the text must wrap onto further lines";
    // Clipped at the bottom: the rectangle's last rows still carry ink from
    // a line cut in half, proving the text ran on past it.
    int lastRows = 0;
    for (int y = int(rect.y + rect.h) - 6; y < int(rect.y + rect.h); ++y)
      for (int x = int(rect.x); x < int(rect.x + rect.w); ++x) lastRows += c.at(x, y) != ground;
    EXPECT_GT(lastRows, 0);
  }
}

TEST(Text, ShadowAlphaAndCentring) {
  FontFamilies f = testFonts();
  // A full-block character makes solid ink: the shadow shows in the strip
  // that the moved copy does not cover.
  Drawing c(120, 60, 0);
  drawText(c.canvas(), L"\u2588", f.body, 30, kTextRegular, 0xFFFFFFFF, {10, 10, 100, 40}, kAlignCentre, true);
  int minX = 1000, maxX = -1, shadowAlpha = -1;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 120; ++x) {
      Argb p = c.at(x, y);
      if ((p >> 24) == 0xFF && (p & 0xFFFFFF) == 0xFFFFFF) minX = std::min(minX, x), maxX = std::max(maxX, x);
      if ((p & 0xFFFFFF) == 0 && (p >> 24) > 0) shadowAlpha = std::max(shadowAlpha, int(p >> 24));
    }
  }
  EXPECT_EQ(shadowAlpha, 0xB2);  // trunc(255 x 0.7)
  ASSERT_GE(maxX, minX);
  double centre = (minX + maxX + 1) / 2.0;
  EXPECT_NEAR(centre, 60.0, 3.0);
}

// --- rounded rectangle and button ------------------------------------------------------

TEST(Shapes, RoundedRectangleCutsItsCorners) {
  Drawing c(100, 100, 0);
  c.canvas().fillRoundedRect({10, 10, 80, 60}, 15, 0xFFFFFFFF);
  EXPECT_EQ(c.at(11, 11), 0u);           // corner cut away
  EXPECT_EQ(c.at(88, 68), 0u);
  EXPECT_EQ(c.at(50, 10), 0xFFFFFFFFu);  // straight edges reach the bounds
  EXPECT_EQ(c.at(10, 40), 0xFFFFFFFFu);
  EXPECT_EQ(c.at(89, 40), 0xFFFFFFFFu);
  EXPECT_EQ(c.at(50, 69), 0xFFFFFFFFu);
  EXPECT_EQ(c.at(50, 70), 0u);
  EXPECT_EQ(c.at(90, 40), 0u);
  EXPECT_EQ(c.at(22, 22), 0xFFFFFFFFu);  // inside the arc
}

TEST(Button, FiveFillStatesHoverRulesAndOutline) {
  FontFamilies f = testFonts();
  const Argb ground = 0xFF000000;
  struct Case {
    bool enabled, primary;
    float mx, my;
    Argb fill;
  };
  const ButtonRegion base{2, 20, 20, 120, 44, L"Go", true, false};
  const Case cases[] = {
      {false, true, 60, 40, 0x1EFFFFFF},   // disabled: no hover even under the mouse
      {true, true, 60, 40, 0xEB78AAE1},    // primary, hovered
      {true, true, -1, -1, 0xC878AAE1},    // primary, mouse outside the window
      {true, false, 20, 20, 0x46C8E1FF},   // top-left corner is inside
      {true, false, 140, 40, 0x26C8E1FF},  // right edge is outside
      {true, false, 60, 64, 0x26C8E1FF},   // bottom edge is outside
  };
  for (const Case& k : cases) {
    Drawing c(200, 100, ground);
    ButtonRegion b = base;
    b.enabled = k.enabled;
    b.primary = k.primary;
    drawButton(c.canvas(), f, b, k.mx, k.my);
    EXPECT_LE(colourDistance(c.at(26, 42), over(k.fill, ground)), 2)
        << std::hex << k.fill << " got " << c.at(26, 42);
  }
  // The outline is brightest when hovered, dimmest when disabled.
  auto outline = [&](bool enabled, float mx) {
    Drawing c(200, 100, ground);
    ButtonRegion b = base;
    b.enabled = enabled;
    drawButton(c.canvas(), f, b, mx, 40);
    return ch(c.at(20, 42), 16);
  };
  int hovered = outline(true, 60), idle = outline(true, -1), disabled = outline(false, 60);
  EXPECT_GT(hovered, idle);
  EXPECT_GT(idle, disabled);
}

TEST(Button, LabelColourFollowsState) {
  FontFamilies f = testFonts();
  auto darkestAndBrightest = [&](bool enabled, bool primary) {
    Drawing c(200, 100, 0xFF000000);
    ButtonRegion b{1, 20, 20, 160, 44, L"Install", enabled, primary};
    drawButton(c.canvas(), f, b, -1, -1);
    int dark = 255, bright = 0;
    for (int y = 30; y < 56; ++y)
      for (int x = 40; x < 160; ++x) {
        int g = ch(c.at(x, y), 8);
        dark = std::min(dark, g), bright = std::max(bright, g);
      }
    return std::pair<int, int>(dark, bright);
  };
  // Primary: dark text on the accent fill (green of the fill is 0x85).
  auto primary = darkestAndBrightest(true, true);
  EXPECT_LT(primary.first, 0x40);
  // Other buttons: near-white text.
  EXPECT_GT(darkestAndBrightest(true, false).second, 0xD0);
  // Disabled: dimmed text only.
  auto disabled = darkestAndBrightest(false, true);
  EXPECT_LT(disabled.second, 0x80);
  EXPECT_GT(disabled.second, 0x30);
}

TEST(Toggle, BoxTickAndLabel) {
  FontFamilies f = testFonts();
  const Argb ground = 0xFF808080;
  ToggleRegion t{14, 20, 20, 300, 22, L"Use the bundled strip art"};
  Drawing off(400, 60, ground), on(400, 60, ground);
  drawToggle(off.canvas(), f, t, false);
  drawToggle(on.canvas(), f, t, true);
  // Box interior: 0x78000000 over the ground when not ticked.
  EXPECT_LE(colourDistance(off.at(33, 27), over(0x78000000, ground)), 1);
  // The outline is the box's outermost pixels at full strength, nothing
  // bleeding outside or inwards.
  const Argb edge = over(0x96BED7F5, over(0x78000000, ground));
  for (auto [x, y] : {std::pair{20, 29}, {37, 29}, {28, 20}, {28, 37}}) {
    EXPECT_LE(colourDistance(off.at(x, y), edge), 2) << x << "," << y;
  }
  EXPECT_EQ(off.at(19, 29), ground);
  EXPECT_EQ(off.at(28, 38), ground);
  EXPECT_LE(colourDistance(off.at(21, 29), over(0x78000000, ground)), 1);
  // The tick's long stroke passes through (x + 11.5, y + 8.5).
  EXPECT_LE(colourDistance(on.at(31, 28), 0xFFAAEBFF), 40);
  EXPECT_NE(on.at(31, 28), off.at(31, 28));
  // The label starts 26 pixels right of the box.
  int labelInk = 0;
  for (int y = 20; y < 40; ++y)
    for (int x = 46; x < 200; ++x) labelInk += off.at(x, y) != ground;
  EXPECT_GT(labelInk, 50);
  EXPECT_EQ(off.at(42, 30), ground);  // the gap between box and label
}

TEST(Icons, QuestionIconInTheWindowsArt) {
  for (int size : {16, 48, 128}) {
    std::unique_ptr<CanvasImage> question = drawQuestionIcon(size);
    ASSERT_TRUE(question);
    ASSERT_EQ(question->height(), size);
    // Transparent corners, an opaque dark tile, a light glyph.
    EXPECT_EQ(question->pixel(size - 1, size - 1) >> 24, 0u);
    Argb tile = question->pixel(size / 4, size / 5);
    EXPECT_EQ(tile >> 24, 0xFFu);
    EXPECT_LT(ch(tile, 16), 0x40);
    EXPECT_GT(ch(question->pixel(size / 2, size * 76 / 100), 8), 0xC0) << size;  // the dot
    EXPECT_LT(ch(question->pixel(size / 2, size * 38 / 100), 8), 0x80) << size;  // inside the hook
  }
}

// --- path field ---------------------------------------------------------------------------------

TEST(PathField, ShorteningKeepsTheLastComponent) {
  FontFamilies f = testFonts();
  Drawing c(10, 10, 0);
  const std::string& fam = f.body;
  const float max = 356;
  auto width = [&](const std::wstring& s) { return c.canvas().measureTextWidth(s, fam, 14, kTextRegular); };

  std::wstring shortPath = L"/home/player/Harrowmere.xapk";
  EXPECT_EQ(shortenPath(c.canvas(), shortPath, fam, 14, max), shortPath);

  std::wstring longPath =
      L"/home/player/Downloads/games/android/backups/2024/winter/collection/Harrowmere_1.0.7_full.xapk";
  ASSERT_GT(width(longPath), max);
  std::wstring s = shortenPath(c.canvas(), longPath, fam, 14, max);
  EXPECT_LE(width(s), max);
  size_t ell = s.find(L'\u2026');
  ASSERT_NE(ell, std::wstring::npos);
  EXPECT_EQ(s.substr(ell + 1), L"/Harrowmere_1.0.7_full.xapk");
  EXPECT_EQ(longPath.compare(0, ell, s.substr(0, ell)), 0) << "the head is the path's own beginning";
  // As much of the head as fits is kept.
  EXPECT_GT(width(longPath.substr(0, ell + 1) + s.substr(ell)), max);

  std::wstring windowsPath = L"C:\\Users\\Player\\Downloads\\Very Long Folder Name\\Another One\\Harrowmere.xapk";
  std::wstring w = shortenPath(c.canvas(), windowsPath, fam, 14, 200);
  EXPECT_LE(width(w), 200);
  EXPECT_EQ(w.substr(w.find(L'\u2026')), L"\u2026\\Harrowmere.xapk");
  EXPECT_EQ(w.substr(0, 3), L"C:\\");

  // When not even the last component fits, its end stays visible.
  std::wstring narrow = shortenPath(c.canvas(), longPath, fam, 14, 90);
  EXPECT_LE(width(narrow), 90);
  EXPECT_EQ(narrow[0], L'\u2026');
  EXPECT_EQ(narrow.substr(narrow.size() - 5), L".xapk");
}

TEST(PathField, OneLineClippedAndPlaceholderDim) {
  FontFamilies f = testFonts();
  const Argb ground = 0xFF101010;
  std::wstring longPath;
  for (int i = 0; i < 30; ++i) longPath += L"/folder" + std::to_wstring(i);
  longPath += L"/game.xapk";

  Drawing value(500, 100, ground), empty(500, 100, ground);
  drawPathField(value.canvas(), f, 20, 20, 380, longPath, L"No XAPK chosen");
  drawPathField(empty.canvas(), f, 20, 20, 380, L"", L"No XAPK chosen");
  int brightValue = 0, brightPlaceholder = 0, outside = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 500; ++x) {
      bool inField = x >= 19 && x <= 401 && y >= 19 && y <= 57;
      if (!inField && value.at(x, y) != ground) ++outside;
      if (y >= 29 && y < 49 && x >= 32 && x < 388) {
        brightValue = std::max(brightValue, ch(value.at(x, y), 8));
        brightPlaceholder = std::max(brightPlaceholder, ch(empty.at(x, y), 8));
      }
    }
  }
  EXPECT_EQ(outside, 0) << "a long path neither wraps nor spills";
  EXPECT_GT(brightValue, 0xC0);
  EXPECT_LT(brightPlaceholder, 0x80);
  EXPECT_GT(brightPlaceholder, 0x30);
  // Field fill: 0x78000000 over the ground.
  EXPECT_LE(colourDistance(value.at(25, 38), over(0x78000000, ground)), 1);
}

// --- progress bar ---------------------------------------------------------------------------------

TEST(ProgressBar, FillIsProportionalAndTheGradientSpansTheTrack) {
  const Argb ground = 0xFF808080;
  const float x = 20, y = 10, w = 470;
  const Argb from = 0xFF5A96DC, to = 0xFFE1F0FF;
  // 471 ms turns the flake by about pi/6: no arm lies along the probe row.
  const uint32_t tick = 471;
  auto gradientAt = [&](int px) { return lerpColour(from, to, (px + 0.5 - x) / w); };
  const int row = int(y + 7);
  const Argb track = over(0x78000000, ground);

  for (float fraction : {0.25f, 0.5f, 0.75f}) {
    Drawing c(520, 40, ground);
    drawProgressBar(c.canvas(), x, y, w, fraction, tick);
    float end = x + w * fraction;
    EXPECT_FLOAT_EQ(progressFillWidth(w, fraction), w * fraction);
    int inFill = int(end) - 15, inTrack = int(end) + 15;
    EXPECT_LE(colourDistance(c.at(inFill, row), gradientAt(inFill)), 3) << fraction;
    EXPECT_LE(colourDistance(c.at(inTrack, row), track), 2) << fraction;
    // Near the start the colour is that of the whole track's gradient, not
    // of a gradient squeezed into the fill.
    int early = int(x + w * fraction * 0.5f);
    EXPECT_LE(colourDistance(c.at(early, row), gradientAt(early)), 3);
  }

  // Zero progress still shows a 14-pixel fill; the flake sits at its end.
  Drawing zero(520, 40, ground);
  drawProgressBar(zero.canvas(), x, y, w, 0, tick);
  EXPECT_FLOAT_EQ(progressFillWidth(w, 0), 14);
  EXPECT_LE(colourDistance(zero.at(int(x) + 3, row), gradientAt(int(x) + 3)), 4);
  EXPECT_LE(colourDistance(zero.at(int(x) + 40, row), track), 2);
  // The flake is drawn at the fill's end: its centre is near white.
  EXPECT_GT(ch(zero.at(int(x) + 14, row), 16), 0xC0);

  // Full progress fills the track exactly, ending in the gradient's end colour.
  Drawing full(520, 40, ground);
  drawProgressBar(full.canvas(), x, y, w, 1, tick);
  int nearEnd = int(x + w) - 16;
  EXPECT_LE(colourDistance(full.at(nearEnd, row), gradientAt(nearEnd)), 3);
  EXPECT_EQ(full.at(int(x + w) + 14, row), ground);
}

TEST(Snowflake, SixArmsTurnWithRotation) {
  Drawing a(60, 60, 0), b(60, 60, 0);
  drawSnowflake(a.canvas(), 30, 30, 20, 0, 255);
  drawSnowflake(b.canvas(), 30, 30, 20, float(M_PI / 6), 255);
  // Rotation 0 has an arm along +x; pi/6 has one along +y (pi/2).
  EXPECT_GT(a.at(45, 30) >> 24, 0xC0u);
  EXPECT_LT(b.at(45, 30) >> 24, 0x20u);
  EXPECT_GT(b.at(30, 45) >> 24, 0xC0u);
  EXPECT_EQ(a.at(45, 30) & 0xFFFFFF, 0xEBF5FFu);
  // Alpha scales the pen colour.
  Drawing dim(60, 60, 0);
  drawSnowflake(dim.canvas(), 30, 30, 20, 0, 100);
  EXPECT_NEAR(int(dim.at(46, 30) >> 24), 100, 2);  // past the branch point
}

// --- title bar --------------------------------------------------------------------------------------

TEST(TitleBar, HoverCellsAndGlyphs) {
  FontFamilies f = testFonts();
  const Argb ground = 0xFF000000;
  auto cellShade = [&](bool music, float mx, float my, int px, int py) {
    Drawing c(1040, 60, ground);
    drawTitleBarButtons(c.canvas(), f, music, false, mx, my);
    return c.at(px, py);
  };
  const Argb lit = over(0x3CFFFFFF, ground);
  EXPECT_EQ(cellShade(false, 1000, 20, 990, 12), lit);   // close cell
  EXPECT_EQ(cellShade(false, 1022, 20, 990, 12), ground);  // right edge outside
  EXPECT_EQ(cellShade(false, 948, 10, 950, 36), lit);    // minimise, top-left corner
  EXPECT_EQ(cellShade(false, 920, 20, 910, 12), ground);   // no mute cell without music
  EXPECT_EQ(cellShade(true, 920, 20, 910, 12), lit);

  Drawing c(1040, 60, ground);
  drawTitleBarButtons(c.canvas(), f, true, false, -1, -1);
  EXPECT_NE(c.at(965, 25), ground);   // minimise bar
  EXPECT_NE(c.at(1005, 24), ground);  // close cross centre
  int note = 0;
  for (int y = 13; y < 34; ++y)
    for (int x = 915; x < 935; ++x) note += c.at(x, y) != ground;
  EXPECT_GT(note, 10);
  Drawing muted(1040, 60, ground);
  drawTitleBarButtons(muted.canvas(), f, true, true, -1, -1);
  EXPECT_NE(muted.at(917, 30), c.at(917, 30));  // the slash's lower end
}

// --- strip art and background ------------------------------------------------------------------------

TEST(StripArt, DecodesFromMemoryAndRejectsDamage) {
  Bytes png = solidPng(30, 20, 0xFF336699);
  const Painter& painter = cairoPainter();
  std::unique_ptr<CanvasImage> img = painter.decodePng(png);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->width(), 30);
  EXPECT_EQ(img->height(), 20);
  EXPECT_EQ(img->pixel(5, 5), 0xFF336699u);

  EXPECT_FALSE(painter.decodePng(Bytes{}));
  EXPECT_FALSE(painter.decodePng(Bytes(png.begin(), png.begin() + 8)));
  Bytes notPng = png;
  notPng[1] = 'Q';
  EXPECT_FALSE(painter.decodePng(notPng));
  // A header claiming an enormous picture is refused before decoding.
  Bytes huge = png;
  huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x00, huge[19] = 0x00;  // width 65536
  EXPECT_FALSE(painter.decodePng(huge));
  // Every truncation fails cleanly (or, at the very end, still decodes).
  for (size_t n = 0; n < png.size(); n += 7) {
    std::unique_ptr<CanvasImage> s = painter.decodePng(Bytes(png.begin(), png.begin() + n));
    if (s) {
      EXPECT_EQ(cairo_surface_status(cairoSurface(*s)), CAIRO_STATUS_SUCCESS);
    }
  }
  // Bit flips either decode to a picture or fail; none crashes.
  for (size_t i = 8; i < png.size(); i += 3) {
    Bytes flipped = png;
    flipped[i] ^= 0x10;
    std::unique_ptr<CanvasImage> s = painter.decodePng(flipped);
    if (s) {
      EXPECT_GT(s->width(), 0);
    }
  }
}

Argb skyAt(int y) { return lerpColour(0xFF080B18, 0xFF161E36, (y + 0.5) / 640.0); }

TEST(Background, WithoutPictureOnlyGradientAndFrame) {
  std::unique_ptr<CanvasImage> bg = composeBackground(cairoPainter(), nullptr);
  ASSERT_TRUE(bg);
  cairo_surface_t* s = cairoSurface(*bg);
  for (int y : {1, 100, 400, 600, 638}) EXPECT_LE(colourDistance(readPixel(s, 520, y), skyAt(y)), 1) << y;
  // No panel, no shade.
  EXPECT_LE(colourDistance(readPixel(s, 300, 400), skyAt(400)), 1);
  EXPECT_LE(colourDistance(readPixel(s, 300, 211), skyAt(211)), 1);
  EXPECT_LE(colourDistance(readPixel(s, 800, 630), skyAt(630)), 1);
  // The frame is the outermost ring of pixels.
  const Argb frame = 0x7896BEEB;
  EXPECT_LE(colourDistance(readPixel(s, 0, 320), over(frame, skyAt(320))), 1);
  EXPECT_LE(colourDistance(readPixel(s, 1039, 320), over(frame, skyAt(320))), 1);
  EXPECT_LE(colourDistance(readPixel(s, 520, 0), over(frame, skyAt(0))), 1);
  EXPECT_LE(colourDistance(readPixel(s, 520, 639), over(frame, skyAt(639))), 1);
  EXPECT_LE(colourDistance(readPixel(s, 1, 320), skyAt(320)), 1);
  EXPECT_LE(colourDistance(readPixel(s, 1038, 320), skyAt(320)), 1);
  // Opaque everywhere.
  for (int y = 0; y < 640; y += 31)
    for (int x = 0; x < 1040; x += 37) ASSERT_EQ(readPixel(s, x, y) >> 24, 0xFFu);
}

TEST(Background, PictureRightAlignedWithPanelAndShade) {
  // 100 x 200 scales to 320 x 640 and starts at 1040 - 320 + 8 = 728.
  const Argb art = 0xFFC03020;
  std::unique_ptr<CanvasImage> picture = cairoPainter().decodePng(solidPng(100, 200, art));
  ASSERT_TRUE(picture);
  std::unique_ptr<CanvasImage> bg = composeBackground(cairoPainter(), picture.get());
  cairo_surface_t* s = cairoSurface(*bg);

  EXPECT_LE(colourDistance(readPixel(s, 800, 100), art), 1);
  EXPECT_LE(colourDistance(readPixel(s, 730, 100), art), 1);
  EXPECT_LE(colourDistance(readPixel(s, 725, 100), skyAt(100)), 1);
  EXPECT_LE(colourDistance(readPixel(s, 1037, 100), art), 1);  // reaches the right edge

  // Panel over the gradient, its shadow to the right and below.
  const Argb panel = 0xAC070B1A;
  EXPECT_LE(colourDistance(readPixel(s, 300, 400), over(panel, over(0x50000000, skyAt(400)))), 2);
  EXPECT_LE(colourDistance(readPixel(s, 38, 400), over(panel, skyAt(400))), 2);
  EXPECT_LE(colourDistance(readPixel(s, 622, 400), over(0x50000000, skyAt(400))), 2);
  EXPECT_LE(colourDistance(readPixel(s, 300, 180), skyAt(180)), 1);  // above the panel
  // Highlight line along the panel's top.
  EXPECT_LE(colourDistance(readPixel(s, 300, 211), over(0x1CFFFFFF, over(panel, skyAt(211)))), 2);

  // Bottom shade: transparent at 490, growing towards the bottom.
  auto shadeAt = [](int y) {
    uint32_t a = uint32_t(std::lround(0xDC * (y + 0.5 - 490) / 151.0));
    return (a << 24) | 0x12192E;
  };
  EXPECT_LE(colourDistance(readPixel(s, 800, 480), art), 1);
  EXPECT_LE(colourDistance(readPixel(s, 800, 560), over(shadeAt(560), art)), 2);
  EXPECT_LE(colourDistance(readPixel(s, 800, 630), over(shadeAt(630), art)), 2);
  EXPECT_LE(colourDistance(readPixel(s, 700, 630), over(shadeAt(630), skyAt(630))), 2);
  // The frame is still drawn on top.
  EXPECT_LE(colourDistance(readPixel(s, 1039, 100), over(0x7896BEEB, art)), 1);
}

// --- fonts --------------------------------------------------------------------------------------------------

TEST(Fonts, FirstInstalledCandidateElseFallback) {
  std::vector<std::string> installed = {"DejaVu Sans", "liberation serif", "Georgia"};
  EXPECT_EQ(firstAvailableFamily({"Book Antiqua", "Georgia", "Liberation Serif"}, installed), "Georgia");
  EXPECT_EQ(firstAvailableFamily({"Book Antiqua", "Liberation Serif", "Georgia"}, installed), "liberation serif");
  EXPECT_EQ(firstAvailableFamily({"Segoe UI"}, installed), kFallbackFontFamily);
  EXPECT_EQ(firstAvailableFamily({"Segoe UI"}, {}), "");
}

// A renderer that tells by creating: a family enumerated under a localised
// name is still found by the name it is created by, the fallback comes
// next, and the renderer's default only when even that cannot be created.
TEST(Fonts, ChosenByCreationDownEachListThenTheFallbackThenTheDefault) {
  std::vector<std::string> asked;
  std::vector<std::string> creatable = {titleFontCandidates().back(), subtitleFontCandidates().front(), "Arial"};
  auto has = [&](const std::string& name) {
    asked.push_back(name);
    return std::find(creatable.begin(), creatable.end(), name) != creatable.end();
  };
  FontFamilies f = chooseFontFamilies(has, "Default Sans");
  EXPECT_EQ(f.title, titleFontCandidates().back());
  EXPECT_EQ(f.subtitle, subtitleFontCandidates().front());
  EXPECT_EQ(f.body, "Arial");  // in the list, or else the fallback
  // Down the title list in order, each name asked once.
  std::vector<std::string> titleAsked(asked.begin(), asked.begin() + titleFontCandidates().size());
  EXPECT_EQ(titleAsked, titleFontCandidates());

  creatable = {};
  f = chooseFontFamilies(has, "Default Sans");
  EXPECT_EQ(f.title, "Default Sans");
  EXPECT_EQ(f.body, "Default Sans");
  EXPECT_EQ(chooseFontFamilies(has, "").subtitle, "");
}

TEST(Fonts, ChosenFacesCoverEveryText) {
  FontFamilies f = testFonts();
  ASSERT_FALSE(f.title.empty());
  ASSERT_FALSE(f.body.empty());
  ASSERT_FALSE(f.subtitle.empty());
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 10, 10));
  cairo_t* cr = cairo_create(surface.get());
  auto unknownGlyphs = [&](const std::string& family, const std::wstring& text) {
    std::string utf8 = toUtf8(text);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* fd = pango_font_description_from_string(family.c_str());
    pango_font_description_set_absolute_size(fd, 22 * PANGO_SCALE);
    pango_layout_set_font_description(layout, fd);
    pango_layout_set_text(layout, utf8.c_str(), -1);
    int n = pango_layout_get_unknown_glyphs_count(layout);
    pango_font_description_free(fd);
    g_object_unref(layout);
    return n;
  };
  EXPECT_EQ(unknownGlyphs(f.subtitle, L"\uFF5EDuskwind\uFF5E"), 0) << f.subtitle;
  EXPECT_EQ(unknownGlyphs(f.body, L"\u266A Space needed: \u2026"), 0) << f.body;
  EXPECT_EQ(unknownGlyphs(f.title, L"LUMENCREST for Windows"), 0) << f.title;
  cairo_destroy(cr);
}

}  // namespace
}  // namespace velmo
