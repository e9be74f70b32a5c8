#include "ui/draw.h"

#include <algorithm>
#include <cmath>

namespace velmo {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A one-pixel line on whole coordinates covers exactly one row or column of
// pixels when drawn through the pixel centres.
float pixelCentre(float v) { return std::floor(v) + 0.5f; }

}  // namespace

uint32_t premultiplyArgb(Argb colour) {
  uint32_t a = colour >> 24;
  auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (mul((colour >> 16) & 0xFF) << 16) | (mul((colour >> 8) & 0xFF) << 8) |
         mul(colour & 0xFF);
}

Argb unpremultiplyPixel(uint32_t pixel) {
  uint32_t a = pixel >> 24;
  if (a == 0) return 0;
  auto un = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
  return (a << 24) | (un((pixel >> 16) & 0xFF) << 16) | (un((pixel >> 8) & 0xFF) << 8) | un(pixel & 0xFF);
}

void drawText(Canvas& canvas, const std::wstring& text, const std::string& family, float sizePx, int style,
              Argb colour, RectF rect, int align, bool shadow) {
  if (text.empty() || family.empty() || !(rect.w > 0) || !(rect.h > 0)) return;
  if (shadow) {
    Argb shadowColour = Argb(uint32_t(double(colour >> 24) * 0.7)) << 24;
    canvas.drawText(text, family, sizePx, style, shadowColour, {rect.x + 1.5f, rect.y + 1.5f, rect.w, rect.h}, align,
                    TextFlow::Wrapped);
  }
  canvas.drawText(text, family, sizePx, style, colour, rect, align, TextFlow::Wrapped);
}

void drawButton(Canvas& canvas, const FontFamilies& fonts, const ButtonRegion& b, float mouseX, float mouseY) {
  bool hover = b.enabled && b.x <= mouseX && b.y <= mouseY && mouseX < b.x + b.w && mouseY < b.y + b.h;
  Argb fill;
  if (!b.enabled) {
    fill = 0x1EFFFFFF;
  } else if (b.primary) {
    fill = hover ? 0xEB78AAE1 : 0xC878AAE1;
  } else {
    fill = hover ? 0x46C8E1FF : 0x26C8E1FF;
  }
  uint32_t outlineAlpha = hover ? 0xFF : (b.enabled ? 0xAA : 0x3C);
  RectF shape{b.x, b.y, b.w, b.h};
  canvas.fillRoundedRect(shape, 7, fill);
  canvas.strokeRoundedRect(shape, 7, (outlineAlpha << 24) | 0xBEDCFF, 1.2f);

  Argb text = !b.enabled ? 0x6EC8D2E1 : (b.primary ? 0xFF0A1226 : 0xFFEBF2FF);
  drawText(canvas, b.label, fonts.body, 16, kTextBold, text, {b.x, b.y + (b.h - 22) * 0.5f - 1, b.w, b.h},
           kAlignCentre, false);
}

void drawToggle(Canvas& canvas, const FontFamilies& fonts, const ToggleRegion& t, bool ticked) {
  canvas.fillRoundedRect({t.x, t.y, 18, 18}, 0, 0x78000000);
  // The outline runs through the centres of the box's edge pixels, so each
  // side is one full-strength pixel wide rather than two half-strength ones.
  canvas.strokeRoundedRect({pixelCentre(t.x), pixelCentre(t.y), 17, 17}, 0, 0x96BED7F5, 1);
  if (ticked) {
    canvas.drawLine(t.x + 4, t.y + 9, t.x + 8, t.y + 13, 0xFFAAEBFF, 2.2f);
    canvas.drawLine(t.x + 8, t.y + 13, t.x + 15, t.y + 4, 0xFFAAEBFF, 2.2f);
  }
  drawText(canvas, t.label, fonts.body, 14, kTextRegular, 0xEBDEE8F8, {t.x + 26, t.y - 1, 500, 22}, kAlignNear,
           true);
}

std::wstring shortenPath(Canvas& canvas, const std::wstring& path, const std::string& family, float sizePx,
                         float maxWidth) {
  auto fits = [&](const std::wstring& s) {
    return canvas.measureTextWidth(s, family, sizePx, kTextRegular) <= maxWidth;
  };
  if (fits(path)) return path;
  const std::wstring ellipsis = L"\u2026";
  // The longest n in [0, hi] for which piece(n) fits; width grows with n.
  auto longest = [&](size_t hi, auto piece) {
    size_t lo = 0;
    while (lo < hi) {
      size_t mid = (lo + hi + 1) / 2;
      if (fits(piece(mid))) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    return piece(lo);
  };
  size_t sep = path.find_last_of(L"/\\");
  if (sep != std::wstring::npos && sep > 0) {
    std::wstring tail = path.substr(sep);
    if (fits(ellipsis + tail)) {
      return longest(sep, [&](size_t n) { return path.substr(0, n) + ellipsis + tail; });
    }
  }
  // Not even the last component fits: keep as much of its end as fits.
  return longest(path.size(), [&](size_t n) { return ellipsis + path.substr(path.size() - n); });
}

void drawPathField(Canvas& canvas, const FontFamilies& fonts, float x, float y, float w, const std::wstring& value,
                   const std::wstring& placeholder) {
  canvas.fillRoundedRect({x, y, w, 36}, 6, 0x78000000);
  canvas.strokeRoundedRect({x, y, w, 36}, 6, 0x6EA0BEE6, 1);

  if (fonts.body.empty()) return;
  bool hasValue = !value.empty();
  RectF rect{x + 12, y + 9, w - 24, 20};
  if (!(rect.w > 0)) return;
  std::wstring shown = shortenPath(canvas, hasValue ? value : placeholder, fonts.body, 14, rect.w);
  canvas.drawText(shown, fonts.body, 14, kTextRegular, hasValue ? 0xFFE6EEFA : 0x78BEC8DC, rect, kAlignNear,
                  TextFlow::SingleLine);
}

float progressFillWidth(float w, float fraction) { return std::max(w * fraction, 14.0f); }

void drawProgressBar(Canvas& canvas, float x, float y, float w, float fraction, uint32_t nowTick) {
  canvas.fillRoundedRect({x, y, w, 14}, 7, 0x78000000);
  canvas.strokeRoundedRect({x, y, w, 14}, 7, 0x64A0BEE6, 1);
  float fw = progressFillWidth(w, fraction);
  canvas.fillRoundedRectGradient({x, y, fw, 14}, 7, {x, 0, x + w, 0, 0xFF5A96DC, 0xFFE1F0FF, false});
  drawSnowflake(canvas, x + fw, y + 7, 11, float(double(nowTick) / 900.0), 230);
}

void drawSnowflake(Canvas& canvas, float cx, float cy, float r, float rotation, int alpha) {
  Argb colour = (Argb(alpha & 0xFF) << 24) | 0xEBF5FF;
  float width = std::max(r / 7.0f, 1.0f);
  for (int i = 0; i < 6; ++i) {
    double a = i * kPi / 3.0 + rotation;
    canvas.drawLine(cx, cy, float(cx + std::cos(a) * r), float(cy + std::sin(a) * r), colour, width);
    double bx = cx + std::cos(a) * r * 0.55, by = cy + std::sin(a) * r * 0.55;
    for (int j = -1; j <= 1; j += 2) {
      double c = a + j * 0.7;
      canvas.drawLine(float(bx), float(by), float(bx + std::cos(c) * r * 0.35), float(by + std::sin(c) * r * 0.35),
                      colour, width);
    }
  }
}

void drawTitleBarButtons(Canvas& canvas, const FontFamilies& fonts, bool musicAvailable, bool muted, float mouseX,
                         float mouseY) {
  const float cells[] = {kMuteCellX, kMinimizeCellX, kCloseCellX};
  for (float x : cells) {
    if (x == kMuteCellX && !musicAvailable) continue;
    if (mouseX >= x && mouseY >= kTitleCellY && mouseX < x + kTitleCellW && mouseY < kTitleCellY + kTitleCellH) {
      canvas.fillRoundedRect({x, kTitleCellY, kTitleCellW, kTitleCellH}, 0, 0x3CFFFFFF);
    }
  }
  const Argb glyph = 0xDCE6F0FF;
  canvas.drawLine(959, 25, 971, 25, glyph, 1.6f);
  canvas.drawLine(999, 18, 1011, 30, glyph, 1.6f);
  canvas.drawLine(1011, 18, 999, 30, glyph, 1.6f);

  if (!musicAvailable) return;
  // Drawn from its top-left corner, unclipped; the rectangle is the note's
  // cell for whoever needs to know where text went.
  canvas.drawText(L"\u266A", fonts.body, 17, kTextRegular, ((muted ? 0x6Eu : 0xE6u) << 24) | 0xE6F0FF,
                  {917, 13, 20, 24}, kAlignNear, TextFlow::Unclipped);
  if (muted) canvas.drawLine(915, 32, 935, 16, glyph, 1.6f);
}

std::unique_ptr<CanvasImage> composeBackground(const Painter& painter, const CanvasImage* stripArt) {
  std::unique_ptr<CanvasImage> layer = painter.createImage(kWindowWidth, kWindowHeight);
  if (!layer) return nullptr;
  std::unique_ptr<Canvas> canvas = painter.beginDrawing(*layer);
  const float w = kWindowWidth, h = kWindowHeight;
  canvas->fillRoundedRectGradient({0, 0, w, h}, 0, {0, 0, 0, h, 0xFF080B18, 0xFF161E36, false});

  if (stripArt && stripArt->width() > 0 && stripArt->height() > 0) {
    double dw = stripArt->width() * (double(kWindowHeight) / stripArt->height());
    canvas->drawImage(*stripArt, {float(kWindowWidth - dw + 8), 0, float(dw), h});
    canvas->fillRoundedRect({40, 216, 584, 390}, 18, 0x50000000);
    canvas->fillRoundedRect({36, 210, 584, 390}, 18, 0xAC070B1A);
    canvas->strokeRoundedRect({36, 210, 584, 390}, 18, 0x55AFCDF0, 1.2f);
    canvas->drawLine(56, pixelCentre(211), 600, pixelCentre(211), 0x1CFFFFFF, 1);
    canvas->fillRoundedRectGradient({0, 490, w, 150}, 0, {0, 490, 0, 641, 0x0012192E, 0xDC12192E, true});
  }

  // The frame's edges are the outermost pixel rows and columns.
  canvas->strokeRoundedRect({0.5f, 0.5f, w - 1, h - 1}, 0, 0x7896BEEB, 1);
  canvas.reset();
  return layer;
}

}  // namespace velmo
