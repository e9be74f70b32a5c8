#include "ui/cairo/cairo_painter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/utf8.h"
#include "ui/draw.h"
#include "ui/png_header.h"

namespace velmo {

namespace {

constexpr double kPi = 3.14159265358979323846;

double channel(Argb colour, int shift) { return double((colour >> shift) & 0xFF) / 255.0; }

bool usable(RectF r) { return r.w > 0 && r.h > 0 && std::isfinite(r.x) && std::isfinite(r.y); }

class CairoImage final : public CanvasImage {
 public:
  explicit CairoImage(SurfacePtr surface) : surface_(std::move(surface)) {}
  int width() const override { return cairo_image_surface_get_width(surface_.get()); }
  int height() const override { return cairo_image_surface_get_height(surface_.get()); }
  Argb pixel(int x, int y) const override { return readPixel(surface_.get(), x, y); }
  cairo_surface_t* surface() const { return surface_.get(); }

 private:
  SurfacePtr surface_;
};

PangoLayout* makeLayout(cairo_t* cr, const std::wstring& text, const std::string& family, float sizePx, int style) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* fd = pango_font_description_new();
  pango_font_description_set_family(fd, family.c_str());
  pango_font_description_set_absolute_size(fd, double(sizePx) * PANGO_SCALE);
  pango_font_description_set_weight(fd, style == kTextBold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(fd, style == kTextItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout, fd);
  pango_font_description_free(fd);
  std::string utf8 = toUtf8(text);
  pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
  return layout;
}

double logicalWidth(PangoLayout* layout) {
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  return double(logical.width) / PANGO_SCALE;
}

class CairoCanvas final : public Canvas {
 public:
  explicit CairoCanvas(cairo_surface_t* target) : target_(target), cr_(cairo_create(target)) {
    applyDrawingModes(cr_);
  }
  ~CairoCanvas() override {
    cairo_destroy(cr_);
    cairo_surface_flush(target_);
  }

  void copyImage(const CanvasImage& image) override {
    cairo_surface_t* source = cairoSurface(image);
    if (!source || image.width() != cairo_image_surface_get_width(target_) ||
        image.height() != cairo_image_surface_get_height(target_)) {
      return;
    }
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr_, source, 0, 0);
    cairo_paint(cr_);
    cairo_restore(cr_);
  }

  void drawImage(const CanvasImage& image, RectF dest) override {
    cairo_surface_t* source = cairoSurface(image);
    if (!source || !usable(dest) || image.width() <= 0 || image.height() <= 0) return;
    double iw = image.width(), ih = image.height();
    cairo_save(cr_);
    cairo_translate(cr_, dest.x, dest.y);
    cairo_scale(cr_, double(dest.w) / iw, double(dest.h) / ih);
    cairo_set_source_surface(cr_, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_BEST);
    // Padding keeps the picture's own edge pixels at its border instead of
    // fading into transparency there.
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    cairo_rectangle(cr_, 0, 0, iw, ih);
    cairo_fill(cr_);
    cairo_restore(cr_);
  }

  void fillRoundedRect(RectF rect, float radius, Argb colour) override {
    if (!shape(rect, radius)) return;
    setSourceArgb(cr_, colour);
    cairo_fill(cr_);
  }

  void fillRoundedRectGradient(RectF rect, float radius, const LinearGradient& g) override {
    if (!shape(rect, radius)) return;
    cairo_pattern_t* pattern = cairo_pattern_create_linear(g.x0, g.y0, g.x1, g.y1);
    for (auto [offset, colour] : {std::pair{0.0, g.from}, std::pair{1.0, g.to}}) {
      cairo_pattern_add_color_stop_rgba(pattern, offset, channel(colour, 16), channel(colour, 8), channel(colour, 0),
                                        channel(colour, 24));
    }
    cairo_pattern_set_extend(pattern, g.reflect ? CAIRO_EXTEND_REFLECT : CAIRO_EXTEND_REPEAT);
    cairo_set_source(cr_, pattern);
    cairo_fill(cr_);
    cairo_pattern_destroy(pattern);
  }

  void strokeRoundedRect(RectF rect, float radius, Argb colour, float width) override {
    if (!(width > 0) || !shape(rect, radius)) return;
    setSourceArgb(cr_, colour);
    cairo_set_line_width(cr_, width);
    cairo_stroke(cr_);
  }

  void drawLine(float x0, float y0, float x1, float y1, Argb colour, float width) override {
    if (!(width > 0) || !std::isfinite(x0 + y0 + x1 + y1)) return;
    setSourceArgb(cr_, colour);
    cairo_set_line_width(cr_, width);
    cairo_new_path(cr_);
    cairo_move_to(cr_, x0, y0);
    cairo_line_to(cr_, x1, y1);
    cairo_stroke(cr_);
  }

  void fillCircle(float cx, float cy, float radius, Argb colour) override {
    if (!(radius > 0) || !std::isfinite(cx + cy)) return;
    cairo_new_path(cr_);
    cairo_arc(cr_, cx, cy, radius, 0, 2 * kPi);
    setSourceArgb(cr_, colour);
    cairo_fill(cr_);
  }

  void drawText(const std::wstring& text, const std::string& family, float sizePx, int style, Argb colour,
                RectF rect, int align, TextFlow flow) override {
    if (text.empty() || family.empty() || !usable(rect) || !(sizePx > 0)) return;
    PangoLayout* layout = makeLayout(cr_, text, family, sizePx, style);
    double x = rect.x;
    if (flow == TextFlow::Wrapped) {
      pango_layout_set_width(layout, int(rect.w * PANGO_SCALE));
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
      pango_layout_set_alignment(layout, align == kAlignCentre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
    } else {
      if (flow == TextFlow::SingleLine) pango_layout_set_single_paragraph_mode(layout, TRUE);
      if (align == kAlignCentre) x += (rect.w - logicalWidth(layout)) / 2;
    }
    cairo_save(cr_);
    if (flow != TextFlow::Unclipped) {
      cairo_new_path(cr_);
      cairo_rectangle(cr_, rect.x, rect.y, rect.w, rect.h);
      cairo_clip(cr_);
    }
    setSourceArgb(cr_, colour);
    cairo_move_to(cr_, x, rect.y);
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    g_object_unref(layout);
  }

  float measureTextWidth(const std::wstring& text, const std::string& family, float sizePx, int style) override {
    if (text.empty() || family.empty() || !(sizePx > 0)) return 0;
    PangoLayout* layout = makeLayout(cr_, text, family, sizePx, style);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    double width = logicalWidth(layout);
    g_object_unref(layout);
    return float(width);
  }

  cairo_t* context() const { return cr_; }

 private:
  // Makes the outline the current path; false for a shape that draws nothing.
  bool shape(RectF r, float radius) {
    if (!usable(r)) return false;
    cairo_new_path(cr_);
    if (!(radius > 0)) {
      cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
      return true;
    }
    double d = 2.0 * radius, rad = radius;
    cairo_new_sub_path(cr_);
    // Each arc's bounding box is d x d in a corner; cairo wants its centre.
    cairo_arc(cr_, r.x + rad, r.y + rad, rad, kPi, 1.5 * kPi);
    cairo_arc(cr_, r.x + r.w - d + rad, r.y + rad, rad, 1.5 * kPi, 2.0 * kPi);
    cairo_arc(cr_, r.x + r.w - d + rad, r.y + r.h - d + rad, rad, 0.0, 0.5 * kPi);
    cairo_arc(cr_, r.x + rad, r.y + r.h - d + rad, rad, 0.5 * kPi, kPi);
    cairo_close_path(cr_);
    return true;
  }

  cairo_surface_t* target_;
  cairo_t* cr_;
};

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

std::unique_ptr<CanvasImage> decodePng(ByteView png) {
  uint32_t width = 0, height = 0;
  if (!readPngSize(png, width, height)) return nullptr;
  PngReader reader{png, 0};
  SurfacePtr image(cairo_image_surface_create_from_png_stream(readPngChunk, &reader));
  if (!image || cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS ||
      cairo_image_surface_get_width(image.get()) <= 0 || cairo_image_surface_get_height(image.get()) <= 0) {
    return nullptr;
  }
  return std::make_unique<CairoImage>(std::move(image));
}

std::unique_ptr<CanvasImage> createImage(int width, int height) {
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return std::make_unique<CairoImage>(std::move(surface));
}

std::unique_ptr<Canvas> beginDrawing(CanvasImage& target) {
  cairo_surface_t* surface = cairoSurface(target);
  if (!surface) return std::make_unique<DiscardingCanvas>();
  return std::make_unique<CairoCanvas>(surface);
}

std::vector<std::string> installedFontFamilies() {
  std::vector<std::string> names;
  PangoFontMap* map = pango_cairo_font_map_get_default();  // owned by pango
  if (!map) return names;
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(map, &families, &count);
  for (int i = 0; i < count; ++i) {
    const char* name = pango_font_family_get_name(families[i]);
    if (name) names.emplace_back(name);
  }
  g_free(families);
  return names;
}

// A rounded tile of the background's sky gradient with the frame's colour
// round its edge.
std::unique_ptr<CanvasImage> iconTile(int size) {
  std::unique_ptr<CanvasImage> icon = createImage(size, size);
  if (!icon) return nullptr;
  CairoCanvas canvas(cairoSurface(*icon));
  float s = float(size);
  RectF tile{s * 0.04f, s * 0.04f, s * 0.92f, s * 0.92f};
  canvas.fillRoundedRectGradient(tile, s * 0.2f, {0, 0, 0, s, 0xFF080B18, 0xFF2A3A66, false});
  canvas.strokeRoundedRect(tile, s * 0.2f, 0xC896BEEB, std::max(s / 32.0f, 1.0f));
  return icon;
}

}  // namespace

const Painter& cairoPainter() {
  static const Painter painter{decodePng, createImage, beginDrawing, installedFontFamilies};
  return painter;
}

cairo_surface_t* cairoSurface(const CanvasImage& image) {
  const auto* cairo = dynamic_cast<const CairoImage*>(&image);
  return cairo ? cairo->surface() : nullptr;
}

void setSourceArgb(cairo_t* cr, Argb colour) {
  cairo_set_source_rgba(cr, channel(colour, 16), channel(colour, 8), channel(colour, 0), channel(colour, 24));
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

void applyDrawingModes(cairo_t* cr) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

std::unique_ptr<CanvasImage> drawQuestionIcon(int size) {
  std::unique_ptr<CanvasImage> icon = iconTile(size);
  if (!icon) return nullptr;
  CairoCanvas canvas(cairoSurface(*icon));
  cairo_t* cr = canvas.context();
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
  return icon;
}

}  // namespace velmo
