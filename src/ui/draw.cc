#include "ui/draw.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/utf8.h"

namespace velmo {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The largest picture decoded: far beyond any strip art, small enough that a
// forged header cannot ask for gigabytes.
constexpr uint32_t kMaxStripArtSide = 8192;
constexpr uint64_t kMaxStripArtPixels = 16ull * 1024 * 1024;

double channel(Argb colour, int shift) { return double((colour >> shift) & 0xFF) / 255.0; }

PangoFontDescription* makeFont(const std::string& family, float sizePx, int style) {
  PangoFontDescription* fd = pango_font_description_new();
  pango_font_description_set_family(fd, family.c_str());
  pango_font_description_set_absolute_size(fd, double(sizePx) * PANGO_SCALE);
  pango_font_description_set_weight(fd, style == kTextBold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(fd, style == kTextItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return fd;
}

PangoLayout* makeLayout(cairo_t* cr, const std::string& utf8, const std::string& family, float sizePx, int style) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* fd = makeFont(family, sizePx, style);
  pango_layout_set_font_description(layout, fd);
  pango_font_description_free(fd);
  pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
  return layout;
}

// Shows a prepared layout with its top-left corner at (x, y), optionally
// clipped to a rectangle.
void showLayout(cairo_t* cr, PangoLayout* layout, Argb colour, double x, double y, const RectF* clip) {
  cairo_save(cr);
  if (clip) {
    cairo_rectangle(cr, clip->x, clip->y, clip->w, clip->h);
    cairo_clip(cr);
  }
  setSourceArgb(cr, colour);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
}

void strokeLine(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// A one-pixel line on whole coordinates covers exactly one row or column of
// pixels when drawn through the pixel centres.
double pixelCentre(double v) { return std::floor(v) + 0.5; }

struct PngReader {
  ByteView data;
  size_t pos = 0;
};

cairo_status_t readPngChunk(void* closure, unsigned char* out, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (length > reader->data.size() - reader->pos) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, reader->data.data() + reader->pos, length);
  reader->pos += length;
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

void setSourceArgb(cairo_t* cr, Argb colour) {
  cairo_set_source_rgba(cr, channel(colour, 16), channel(colour, 8), channel(colour, 0), channel(colour, 24));
}

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

Argb readPixel(cairo_surface_t* surface, int x, int y) {
  if (!surface || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return 0;
  cairo_surface_flush(surface);
  int w = cairo_image_surface_get_width(surface);
  int h = cairo_image_surface_get_height(surface);
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  const unsigned char* data = cairo_image_surface_get_data(surface);
  if (!data) return 0;
  uint32_t pixel;
  std::memcpy(&pixel, data + size_t(y) * cairo_image_surface_get_stride(surface) + size_t(x) * 4, 4);
  if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24) pixel |= 0xFF000000u;
  return unpremultiplyPixel(pixel);
}

SurfacePtr createFrameSurface() {
  return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWindowWidth, kWindowHeight));
}

void applyDrawingModes(cairo_t* cr) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

void drawText(cairo_t* cr, const std::wstring& text, const std::string& family, float sizePx, int style,
              Argb colour, RectF rect, int align, bool shadow) {
  if (text.empty() || family.empty() || !(rect.w > 0) || !(rect.h > 0)) return;
  PangoLayout* layout = makeLayout(cr, toUtf8(text), family, sizePx, style);
  pango_layout_set_width(layout, int(rect.w * PANGO_SCALE));
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(layout, align == kAlignCentre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
  if (shadow) {
    RectF moved{rect.x + 1.5f, rect.y + 1.5f, rect.w, rect.h};
    Argb shadowColour = Argb(uint32_t(double(colour >> 24) * 0.7)) << 24;
    showLayout(cr, layout, shadowColour, moved.x, moved.y, &moved);
  }
  showLayout(cr, layout, colour, rect.x, rect.y, &rect);
  g_object_unref(layout);
}

float measureTextWidth(cairo_t* cr, const std::wstring& text, const std::string& family, float sizePx,
                       int style) {
  if (text.empty() || family.empty()) return 0;
  PangoLayout* layout = makeLayout(cr, toUtf8(text), family, sizePx, style);
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  return float(logical.width) / PANGO_SCALE;
}

void addRoundedRect(cairo_t* cr, RectF r, float radius) {
  double d = 2.0 * radius;
  double rad = radius;
  cairo_new_sub_path(cr);
  // Each arc's bounding box is d x d in a corner; cairo wants its centre.
  cairo_arc(cr, r.x + rad, r.y + rad, rad, kPi, 1.5 * kPi);
  cairo_arc(cr, r.x + r.w - d + rad, r.y + rad, rad, 1.5 * kPi, 2.0 * kPi);
  cairo_arc(cr, r.x + r.w - d + rad, r.y + r.h - d + rad, rad, 0.0, 0.5 * kPi);
  cairo_arc(cr, r.x + rad, r.y + r.h - d + rad, rad, 0.5 * kPi, kPi);
  cairo_close_path(cr);
}

void drawButton(cairo_t* cr, const FontFamilies& fonts, const ButtonRegion& b, float mouseX, float mouseY) {
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
  cairo_save(cr);
  cairo_new_path(cr);
  addRoundedRect(cr, {b.x, b.y, b.w, b.h}, 7);
  setSourceArgb(cr, fill);
  cairo_fill_preserve(cr);
  setSourceArgb(cr, (outlineAlpha << 24) | 0xBEDCFF);
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
  cairo_restore(cr);

  Argb text = !b.enabled ? 0x6EC8D2E1 : (b.primary ? 0xFF0A1226 : 0xFFEBF2FF);
  drawText(cr, b.label, fonts.body, 16, kTextBold, text, {b.x, b.y + (b.h - 22) * 0.5f - 1, b.w, b.h},
           kAlignCentre, false);
}

void drawToggle(cairo_t* cr, const FontFamilies& fonts, const ToggleRegion& t, bool ticked) {
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, t.x, t.y, 18, 18);
  setSourceArgb(cr, 0x78000000);
  cairo_fill(cr);
  // The outline runs through the centres of the box's edge pixels, so each
  // side is one full-strength pixel wide rather than two half-strength ones.
  cairo_rectangle(cr, pixelCentre(t.x), pixelCentre(t.y), 17, 17);
  setSourceArgb(cr, 0x96BED7F5);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  if (ticked) {
    setSourceArgb(cr, 0xFFAAEBFF);
    cairo_set_line_width(cr, 2.2);
    strokeLine(cr, t.x + 4, t.y + 9, t.x + 8, t.y + 13);
    strokeLine(cr, t.x + 8, t.y + 13, t.x + 15, t.y + 4);
  }
  cairo_restore(cr);
  drawText(cr, t.label, fonts.body, 14, kTextRegular, 0xEBDEE8F8, {t.x + 26, t.y - 1, 500, 22}, kAlignNear, true);
}

std::wstring shortenPath(cairo_t* cr, const std::wstring& path, const std::string& family, float sizePx,
                         float maxWidth) {
  auto fits = [&](const std::wstring& s) { return measureTextWidth(cr, s, family, sizePx, kTextRegular) <= maxWidth; };
  if (fits(path)) return path;
  const std::wstring ellipsis = L"\u2026";
  size_t sep = path.find_last_of(L"/\\");
  if (sep != std::wstring::npos && sep > 0) {
    std::wstring tail = path.substr(sep);
    if (fits(ellipsis + tail)) {
      // The longest head that still fits; width grows with the head.
      size_t lo = 0, hi = sep;
      while (lo < hi) {
        size_t mid = (lo + hi + 1) / 2;
        if (fits(path.substr(0, mid) + ellipsis + tail)) {
          lo = mid;
        } else {
          hi = mid - 1;
        }
      }
      return path.substr(0, lo) + ellipsis + tail;
    }
  }
  // Not even the last component fits: keep as much of its end as fits.
  size_t lo = 0, hi = path.size();
  while (lo < hi) {
    size_t mid = (lo + hi + 1) / 2;
    if (fits(ellipsis + path.substr(path.size() - mid))) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return ellipsis + path.substr(path.size() - lo);
}

void drawPathField(cairo_t* cr, const FontFamilies& fonts, float x, float y, float w, const std::wstring& value,
                   const std::wstring& placeholder) {
  cairo_save(cr);
  cairo_new_path(cr);
  addRoundedRect(cr, {x, y, w, 36}, 6);
  setSourceArgb(cr, 0x78000000);
  cairo_fill_preserve(cr);
  setSourceArgb(cr, 0x6EA0BEE6);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_restore(cr);

  if (fonts.body.empty()) return;
  bool hasValue = !value.empty();
  RectF rect{x + 12, y + 9, w - 24, 20};
  if (!(rect.w > 0)) return;
  std::wstring shown = shortenPath(cr, hasValue ? value : placeholder, fonts.body, 14, rect.w);
  PangoLayout* layout = makeLayout(cr, toUtf8(shown), fonts.body, 14, kTextRegular);
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  showLayout(cr, layout, hasValue ? 0xFFE6EEFA : 0x78BEC8DC, rect.x, rect.y, &rect);
  g_object_unref(layout);
}

float progressFillWidth(float w, float fraction) { return std::max(w * fraction, 14.0f); }

void drawProgressBar(cairo_t* cr, float x, float y, float w, float fraction, uint32_t nowTick) {
  cairo_save(cr);
  cairo_new_path(cr);
  addRoundedRect(cr, {x, y, w, 14}, 7);
  setSourceArgb(cr, 0x78000000);
  cairo_fill_preserve(cr);
  setSourceArgb(cr, 0x64A0BEE6);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  float fw = progressFillWidth(w, fraction);
  cairo_pattern_t* gradient = cairo_pattern_create_linear(x, 0, x + w, 0);
  cairo_pattern_add_color_stop_rgba(gradient, 0, 0x5A / 255.0, 0x96 / 255.0, 0xDC / 255.0, 1);
  cairo_pattern_add_color_stop_rgba(gradient, 1, 0xE1 / 255.0, 0xF0 / 255.0, 0xFF / 255.0, 1);
  cairo_pattern_set_extend(gradient, CAIRO_EXTEND_REPEAT);
  addRoundedRect(cr, {x, y, fw, 14}, 7);
  cairo_set_source(cr, gradient);
  cairo_fill(cr);
  cairo_pattern_destroy(gradient);
  cairo_restore(cr);

  drawSnowflake(cr, x + fw, y + 7, 11, float(double(nowTick) / 900.0), 230);
}

void drawSnowflake(cairo_t* cr, float cx, float cy, float r, float rotation, int alpha) {
  cairo_save(cr);
  setSourceArgb(cr, (Argb(alpha & 0xFF) << 24) | 0xEBF5FF);
  cairo_set_line_width(cr, std::max(r / 7.0f, 1.0f));
  for (int i = 0; i < 6; ++i) {
    double a = i * kPi / 3.0 + rotation;
    strokeLine(cr, cx, cy, cx + std::cos(a) * r, cy + std::sin(a) * r);
    double bx = cx + std::cos(a) * r * 0.55, by = cy + std::sin(a) * r * 0.55;
    for (int j = -1; j <= 1; j += 2) {
      double c = a + j * 0.7;
      strokeLine(cr, bx, by, bx + std::cos(c) * r * 0.35, by + std::sin(c) * r * 0.35);
    }
  }
  cairo_restore(cr);
}

void drawTitleBarButtons(cairo_t* cr, const FontFamilies& fonts, bool musicAvailable, bool muted, float mouseX,
                         float mouseY) {
  cairo_save(cr);
  const float cells[] = {kMuteCellX, kMinimizeCellX, kCloseCellX};
  for (float x : cells) {
    if (x == kMuteCellX && !musicAvailable) continue;
    if (mouseX >= x && mouseY >= kTitleCellY && mouseX < x + kTitleCellW && mouseY < kTitleCellY + kTitleCellH) {
      cairo_rectangle(cr, x, kTitleCellY, kTitleCellW, kTitleCellH);
      setSourceArgb(cr, 0x3CFFFFFF);
      cairo_fill(cr);
    }
  }
  const Argb glyph = 0xDCE6F0FF;
  setSourceArgb(cr, glyph);
  cairo_set_line_width(cr, 1.6);
  strokeLine(cr, 959, 25, 971, 25);
  strokeLine(cr, 999, 18, 1011, 30);
  strokeLine(cr, 1011, 18, 999, 30);
  cairo_restore(cr);

  if (!musicAvailable) return;
  if (!fonts.body.empty()) {
    PangoLayout* layout = makeLayout(cr, toUtf8(L"\u266A"), fonts.body, 17, kTextRegular);
    showLayout(cr, layout, ((muted ? 0x6Eu : 0xE6u) << 24) | 0xE6F0FF, 917, 13, nullptr);
    g_object_unref(layout);
  }
  if (muted) {
    cairo_save(cr);
    setSourceArgb(cr, glyph);
    cairo_set_line_width(cr, 1.6);
    strokeLine(cr, 915, 32, 935, 16);
    cairo_restore(cr);
  }
}

SurfacePtr decodeStripArt(ByteView png) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  // Signature, then the IHDR chunk: length, type, width, height.
  if (png.size() < 33 || std::memcmp(png.data(), kSignature, 8) != 0 ||
      std::memcmp(png.data() + 12, "IHDR", 4) != 0) {
    return nullptr;
  }
  uint32_t width = readBe32(png.data() + 16), height = readBe32(png.data() + 20);
  if (width == 0 || height == 0 || width > kMaxStripArtSide || height > kMaxStripArtSide ||
      uint64_t(width) * height > kMaxStripArtPixels) {
    return nullptr;
  }
  PngReader reader{png, 0};
  SurfacePtr image(cairo_image_surface_create_from_png_stream(readPngChunk, &reader));
  if (!image || cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS ||
      cairo_image_surface_get_width(image.get()) <= 0 || cairo_image_surface_get_height(image.get()) <= 0) {
    return nullptr;
  }
  return image;
}

namespace {

// A rounded tile of the background's sky gradient with the frame's colour
// round its edge; the caller draws the glyph and destroys the context.
cairo_t* beginIconTile(SurfacePtr& surface, int size) {
  surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
  cairo_t* cr = cairo_create(surface.get());
  applyDrawingModes(cr);
  float s = float(size);
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, s);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0x08 / 255.0, 0x0B / 255.0, 0x18 / 255.0);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0x2A / 255.0, 0x3A / 255.0, 0x66 / 255.0);
  addRoundedRect(cr, {s * 0.04f, s * 0.04f, s * 0.92f, s * 0.92f}, s * 0.2f);
  cairo_set_source(cr, sky);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(sky);
  setSourceArgb(cr, 0xC896BEEB);
  cairo_set_line_width(cr, std::max(s / 32.0f, 1.0f));
  cairo_stroke(cr);
  return cr;
}

}  // namespace

SurfacePtr drawProgramIcon(int size) {
  SurfacePtr surface;
  cairo_t* cr = beginIconTile(surface, size);
  drawSnowflake(cr, size * 0.5f, size * 0.5f, size * 0.34f, 0, 255);
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
  return surface;
}

SurfacePtr drawQuestionIcon(int size) {
  SurfacePtr surface;
  cairo_t* cr = beginIconTile(surface, size);
  double s = size;
  setSourceArgb(cr, 0xFFEBF5FF);
  cairo_set_line_width(cr, s * 0.11);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_new_path(cr);
  // The hook: an arc over the top, then down into the stem.
  cairo_arc(cr, s * 0.5, s * 0.38, s * 0.15, kPi * 1.05, kPi * 2.25);
  cairo_line_to(cr, s * 0.5, s * 0.6);
  cairo_stroke(cr);
  cairo_arc(cr, s * 0.5, s * 0.76, s * 0.065, 0, 2 * kPi);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
  return surface;
}

SurfacePtr composeBackground(cairo_surface_t* stripArt) {
  SurfacePtr layer = createFrameSurface();
  cairo_t* cr = cairo_create(layer.get());
  applyDrawingModes(cr);

  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, kWindowHeight);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0x08 / 255.0, 0x0B / 255.0, 0x18 / 255.0);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0x16 / 255.0, 0x1E / 255.0, 0x36 / 255.0);
  cairo_rectangle(cr, 0, 0, kWindowWidth, kWindowHeight);
  cairo_set_source(cr, sky);
  cairo_fill(cr);
  cairo_pattern_destroy(sky);

  bool hasArt = stripArt && cairo_surface_status(stripArt) == CAIRO_STATUS_SUCCESS &&
                cairo_surface_get_type(stripArt) == CAIRO_SURFACE_TYPE_IMAGE &&
                cairo_image_surface_get_width(stripArt) > 0 && cairo_image_surface_get_height(stripArt) > 0;
  if (hasArt) {
    double iw = cairo_image_surface_get_width(stripArt);
    double ih = cairo_image_surface_get_height(stripArt);
    double scale = double(kWindowHeight) / ih;
    double dw = iw * scale;
    cairo_save(cr);
    cairo_translate(cr, kWindowWidth - dw + 8, 0);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, stripArt, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
    // Padding keeps the picture's own edge pixels at its border instead of
    // fading into transparency there.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_rectangle(cr, 0, 0, iw, ih);
    cairo_fill(cr);
    cairo_restore(cr);

    addRoundedRect(cr, {40, 216, 584, 390}, 18);
    setSourceArgb(cr, 0x50000000);
    cairo_fill(cr);

    addRoundedRect(cr, {36, 210, 584, 390}, 18);
    setSourceArgb(cr, 0xAC070B1A);
    cairo_fill_preserve(cr);
    setSourceArgb(cr, 0x55AFCDF0);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);

    setSourceArgb(cr, 0x1CFFFFFF);
    cairo_set_line_width(cr, 1);
    strokeLine(cr, 56, pixelCentre(211), 600, pixelCentre(211));

    cairo_pattern_t* shade = cairo_pattern_create_linear(0, 490, 0, 641);
    cairo_pattern_add_color_stop_rgba(shade, 0, 0x12 / 255.0, 0x19 / 255.0, 0x2E / 255.0, 0);
    cairo_pattern_add_color_stop_rgba(shade, 1, 0x12 / 255.0, 0x19 / 255.0, 0x2E / 255.0, 0xDC / 255.0);
    cairo_pattern_set_extend(shade, CAIRO_EXTEND_REFLECT);
    cairo_rectangle(cr, 0, 490, kWindowWidth, 150);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
  }

  // The frame's edges are the outermost pixel rows and columns.
  setSourceArgb(cr, 0x7896BEEB);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, kWindowWidth - 1, kWindowHeight - 1);
  cairo_stroke(cr);

  cairo_destroy(cr);
  cairo_surface_flush(layer.get());
  return layer;
}

}  // namespace velmo
