#include "ui/gdiplus/gdiplus_painter.h"

#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "common/utf8.h"
#include "ui/draw.h"
#include "ui/png_header.h"

namespace velmo {

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpBrush;
using Gdiplus::GpFont;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpPath;
using Gdiplus::GpPen;
using Gdiplus::GpStringFormat;
using Gdiplus::Ok;

namespace {

// Pixels are stored premultiplied in memory this image owns, so reading
// one back or presenting the image needs no GDI+ lock.
class GdiplusImage : public CanvasImage {
 public:
  GdiplusImage(int width, int height) : width_(width), height_(height), pixels_(size_t(width) * height, 0) {}
  ~GdiplusImage() override {
    if (bitmap_) gp::GdipDisposeImage(bitmap_);
  }
  bool init() {
    return gp::GdipCreateBitmapFromScan0(width_, height_, width_ * 4, PixelFormat32bppPARGB,
                                         reinterpret_cast<BYTE*>(pixels_.data()), &bitmap_) == Ok;
  }
  int width() const override { return width_; }
  int height() const override { return height_; }
  Argb pixel(int x, int y) const override {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return unpremultiplyPixel(pixels_[size_t(y) * width_ + x]);
  }
  GpBitmap* bitmap() const { return bitmap_; }
  uint32_t* pixels() { return pixels_.data(); }
  const uint32_t* pixels() const { return pixels_.data(); }

 private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
  GpBitmap* bitmap_ = nullptr;
};

std::unique_ptr<GdiplusImage> newImage(int width, int height) {
  if (width <= 0 || height <= 0 || width > int(kMaxPictureSide) || height > int(kMaxPictureSide)) return nullptr;
  auto image = std::make_unique<GdiplusImage>(width, height);
  if (!image->init()) return nullptr;
  return image;
}

const GdiplusImage* asOurs(const CanvasImage& image) { return dynamic_cast<const GdiplusImage*>(&image); }

bool degenerate(RectF r) { return !(r.w > 0) || !(r.h > 0) || std::isnan(r.x) || std::isnan(r.y); }

// Families are looked up once per name: the lookup walks the installed
// fonts. Null when GDI+ has no family of that name.
GpFontFamily* fontFamily(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, GpFontFamily*> families;
  std::lock_guard<std::mutex> hold(lock);
  auto found = families.find(name);
  if (found != families.end()) return found->second;
  GpFontFamily* family = nullptr;
  if (gp::GdipCreateFontFamilyFromName(fromUtf8(name).c_str(), nullptr, &family) != Ok) family = nullptr;
  families[name] = family;
  return family;
}

// The GDI+ objects one call needs, released when it returns.
struct Font {
  GpFont* font = nullptr;
  Font(const std::string& family, float sizePx, int style) {
    GpFontFamily* f = family.empty() ? nullptr : fontFamily(family);
    if (f && gp::GdipCreateFont(f, sizePx, style & (kTextBold | kTextItalic), Gdiplus::UnitPixel, &font) != Ok) {
      font = nullptr;
    }
  }
  ~Font() {
    if (font) gp::GdipDeleteFont(font);
  }
};

struct Format {
  GpStringFormat* format = nullptr;
  Format(TextFlow flow, int align) {
    int flags = 0;
    if (flow != TextFlow::Wrapped) flags |= Gdiplus::StringFormatFlagsNoWrap;
    if (flow == TextFlow::Unclipped) flags |= Gdiplus::StringFormatFlagsNoClip;
    if (gp::GdipCreateStringFormat(flags, LANG_NEUTRAL, &format) != Ok) {
      format = nullptr;
      return;
    }
    gp::GdipSetStringFormatAlign(format,
                                 align == kAlignCentre ? Gdiplus::StringAlignmentCenter : Gdiplus::StringAlignmentNear);
    gp::GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentNear);
    // A one-line text is cut at the rectangle, never shortened with an
    // ellipsis of GDI+'s own (the layout shortens paths itself).
    if (flow != TextFlow::Wrapped) gp::GdipSetStringFormatTrimming(format, Gdiplus::StringTrimmingNone);
  }
  ~Format() {
    if (format) gp::GdipDeleteStringFormat(format);
  }
};

struct SolidBrush {
  Gdiplus::GpSolidFill* brush = nullptr;
  explicit SolidBrush(Argb colour) {
    if (gp::GdipCreateSolidFill(colour, &brush) != Ok) brush = nullptr;
  }
  ~SolidBrush() {
    if (brush) gp::GdipDeleteBrush(brush);
  }
};

struct Pen {
  GpPen* pen = nullptr;
  Pen(Argb colour, float width) {
    if (gp::GdipCreatePen1(colour, width, Gdiplus::UnitWorld, &pen) != Ok) pen = nullptr;
  }
  ~Pen() {
    if (pen) gp::GdipDeletePen(pen);
  }
};

// A closed rounded rectangle: four quarter arcs, each in a d x d box in
// its corner, joined by the sides; radius 0 is the plain rectangle.
struct RoundedPath {
  GpPath* path = nullptr;
  RoundedPath(RectF r, float radius) {
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path) != Ok) {
      path = nullptr;
      return;
    }
    if (!(radius > 0)) {
      gp::GdipAddPathRectangle(path, r.x, r.y, r.w, r.h);
      return;
    }
    float d = 2 * radius;
    gp::GdipAddPathArc(path, r.x, r.y, d, d, 180, 90);
    gp::GdipAddPathArc(path, r.x + r.w - d, r.y, d, d, 270, 90);
    gp::GdipAddPathArc(path, r.x + r.w - d, r.y + r.h - d, d, d, 0, 90);
    gp::GdipAddPathArc(path, r.x, r.y + r.h - d, d, d, 90, 90);
    gp::GdipClosePathFigure(path);
  }
  ~RoundedPath() {
    if (path) gp::GdipDeletePath(path);
  }
};

class GdiplusCanvas : public Canvas {
 public:
  explicit GdiplusCanvas(GdiplusImage& target) : target_(target) {
    if (gp::GdipGetImageGraphicsContext(target.bitmap(), &g_) != Ok) {
      g_ = nullptr;
      return;
    }
    gp::GdipSetSmoothingMode(g_, Gdiplus::SmoothingModeAntiAlias);
    gp::GdipSetTextRenderingHint(g_, Gdiplus::TextRenderingHintAntiAliasGridFit);
    gp::GdipSetInterpolationMode(g_, Gdiplus::InterpolationModeHighQualityBicubic);
    // Pixel (x, y) covers [x, x+1): whole-pixel rectangles get crisp edges.
    gp::GdipSetPixelOffsetMode(g_, Gdiplus::PixelOffsetModeHalf);
  }
  ~GdiplusCanvas() override {
    if (g_) gp::GdipDeleteGraphics(g_);
  }

  void copyImage(const CanvasImage& image) override {
    const GdiplusImage* src = asOurs(image);
    if (!g_ || !src || src->width() != target_.width() || src->height() != target_.height()) return;
    // Both bitmaps draw straight into memory we own, so a copy of the
    // pixels is the whole job (GDI+'s own image drawing resamples every
    // pixel: a third of a frame's time).
    gp::GdipFlush(g_, Gdiplus::FlushIntentionSync);
    std::memcpy(target_.pixels(), src->pixels(), size_t(src->width()) * src->height() * 4);
  }

  void drawImage(const CanvasImage& image, RectF dest) override {
    const GdiplusImage* src = asOurs(image);
    if (!g_ || !src || degenerate(dest)) return;
    // Flipped tiles beyond the source's edges: the filter reads the edge
    // pixels again instead of transparency.
    Gdiplus::GpImageAttributes* attributes = nullptr;
    if (gp::GdipCreateImageAttributes(&attributes) != Ok) attributes = nullptr;
    if (attributes) gp::GdipSetImageAttributesWrapMode(attributes, Gdiplus::WrapModeTileFlipXY, 0, FALSE);
    gp::GdipDrawImageRectRect(g_, src->bitmap(), dest.x, dest.y, dest.w, dest.h, 0, 0, float(src->width()),
                              float(src->height()), Gdiplus::UnitPixel, attributes, nullptr, nullptr);
    if (attributes) gp::GdipDisposeImageAttributes(attributes);
  }

  void fillRoundedRect(RectF rect, float radius, Argb colour) override {
    SolidBrush brush(colour);
    fillPath(rect, radius, brush.brush);
  }

  void fillRoundedRectGradient(RectF rect, float radius, const LinearGradient& gradient) override {
    Gdiplus::GpPointF from(gradient.x0, gradient.y0), to(gradient.x1, gradient.y1);
    Gdiplus::GpLineGradient* brush = nullptr;
    if (gp::GdipCreateLineBrush(&from, &to, gradient.from, gradient.to,
                                gradient.reflect ? Gdiplus::WrapModeTileFlipXY : Gdiplus::WrapModeTile, &brush) != Ok) {
      return;  // a gradient of no length
    }
    fillPath(rect, radius, brush);
    gp::GdipDeleteBrush(brush);
  }

  void strokeRoundedRect(RectF rect, float radius, Argb colour, float width) override {
    if (!g_ || degenerate(rect) || !(width > 0)) return;
    Pen pen(colour, width);
    RoundedPath path(rect, radius);
    if (pen.pen && path.path) gp::GdipDrawPath(g_, pen.pen, path.path);
  }

  void drawLine(float x0, float y0, float x1, float y1, Argb colour, float width) override {
    if (!g_ || !(width > 0)) return;
    Pen pen(colour, width);
    if (pen.pen) gp::GdipDrawLine(g_, pen.pen, x0, y0, x1, y1);
  }

  void fillCircle(float cx, float cy, float radius, Argb colour) override {
    if (!g_ || !(radius > 0)) return;
    SolidBrush brush(colour);
    if (brush.brush) gp::GdipFillEllipse(g_, brush.brush, cx - radius, cy - radius, 2 * radius, 2 * radius);
  }

  void drawText(const std::wstring& text, const std::string& family, float sizePx, int style, Argb colour, RectF rect,
                int align, TextFlow flow) override {
    if (!g_ || text.empty() || family.empty()) return;
    if (flow != TextFlow::Unclipped && degenerate(rect)) return;
    Font font(family, sizePx, style);
    Format format(flow, align);
    SolidBrush brush(colour);
    if (!font.font || !format.format || !brush.brush) return;
    // GDI+ breaks lines at line feeds even without wrapping; one line keeps
    // them as blanks.
    std::wstring shown = text;
    if (flow != TextFlow::Wrapped)
      std::replace_if(
          shown.begin(), shown.end(), [](wchar_t ch) { return ch == L'\r' || ch == L'\n'; }, L' ');
    // A layout box of no size lets the text run on unclipped from its corner.
    Gdiplus::RectF box = flow == TextFlow::Unclipped ? Gdiplus::RectF(rect.x, rect.y, 0, 0)
                                                     : Gdiplus::RectF(rect.x, rect.y, rect.w, rect.h);
    // The clip is set here too: not every GDI+ clips to the layout box.
    if (flow != TextFlow::Unclipped)
      gp::GdipSetClipRect(g_, rect.x, rect.y, rect.w, rect.h, Gdiplus::CombineModeReplace);
    gp::GdipDrawString(g_, shown.c_str(), int(shown.size()), font.font, &box, format.format, brush.brush);
    if (flow != TextFlow::Unclipped) gp::GdipResetClip(g_);
  }

  float measureTextWidth(const std::wstring& text, const std::string& family, float sizePx, int style) override {
    if (!g_ || text.empty() || family.empty()) return 0;
    Font font(family, sizePx, style);
    Format format(TextFlow::SingleLine, kAlignNear);
    if (!font.font || !format.format) return 0;
    Gdiplus::RectF box(0, 0, 0, 0), bounds;
    if (gp::GdipMeasureString(g_, text.c_str(), int(text.size()), font.font, &box, format.format, &bounds, nullptr,
                              nullptr) != Ok) {
      return 0;
    }
    return bounds.Width;
  }

 private:
  void fillPath(RectF rect, float radius, GpBrush* brush) {
    if (!g_ || !brush || degenerate(rect)) return;
    RoundedPath path(rect, radius);
    if (path.path) gp::GdipFillPath(g_, brush, path.path);
  }

  GdiplusImage& target_;
  GpGraphics* g_ = nullptr;
};

std::unique_ptr<CanvasImage> createImage(int width, int height) { return newImage(width, height); }

// Our own images are PARGB in our own memory; the decoder's bitmap (in
// whatever format the PNG had) is converted into one.
std::unique_ptr<CanvasImage> decodePng(ByteView png) {
  uint32_t width = 0, height = 0;
  if (!readPngSize(png, width, height) || png.size() > UINT_MAX) return nullptr;
  IStream* stream = SHCreateMemStream(png.data(), UINT(png.size()));
  if (!stream) return nullptr;
  GpBitmap* decoded = nullptr;
  Gdiplus::GpStatus status = gp::GdipCreateBitmapFromStream(stream, &decoded);
  stream->Release();
  if (status != Ok || !decoded) return nullptr;
  std::unique_ptr<GdiplusImage> image;
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(decoded, &w);
  gp::GdipGetImageHeight(decoded, &h);
  // The header was only a claim; what was decoded must be what it said.
  if (w == width && h == height) image = newImage(int(w), int(h));
  if (image) {
    Gdiplus::GpRect all(0, 0, int(w), int(h));
    Gdiplus::BitmapData locked{};
    if (gp::GdipBitmapLockBits(decoded, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &locked) == Ok) {
      for (UINT y = 0; y < h; ++y) {
        std::memcpy(image->pixels() + size_t(y) * w,
                    static_cast<const uint8_t*>(locked.Scan0) + ptrdiff_t(y) * locked.Stride, size_t(w) * 4);
      }
      gp::GdipBitmapUnlockBits(decoded, &locked);
    } else {
      image.reset();  // damaged image data
    }
  }
  gp::GdipDisposeImage(decoded);
  return image;
}

std::unique_ptr<Canvas> beginDrawing(CanvasImage& target) {
  auto* ours = dynamic_cast<GdiplusImage*>(&target);
  if (!ours) return nullptr;
  return std::make_unique<GdiplusCanvas>(*ours);
}

std::vector<std::string> installedFontFamilies() {
  std::vector<std::string> names;
  Gdiplus::GpFontCollection* installed = nullptr;  // owned by GDI+
  INT count = 0;
  if (gp::GdipNewInstalledFontCollection(&installed) != Ok ||
      gp::GdipGetFontCollectionFamilyCount(installed, &count) != Ok || count <= 0) {
    return names;
  }
  std::vector<GpFontFamily*> families(size_t(count), nullptr);
  INT found = 0;
  if (gp::GdipGetFontCollectionFamilyList(installed, count, families.data(), &found) != Ok) return names;
  for (INT i = 0; i < found && i < count; ++i) {
    WCHAR name[LF_FACESIZE] = {};
    if (families[size_t(i)] && gp::GdipGetFamilyName(families[size_t(i)], name, LANG_NEUTRAL) == Ok && name[0]) {
      names.push_back(toUtf8(name));
    }
  }
  return names;
}

// GDI+'s own default family when no candidate can be created (a system
// without the usual faces, such as a bare Wine): sans serif, else serif.
std::string defaultFontFamily() {
  for (auto generic : {gp::GdipGetGenericFontFamilySansSerif, gp::GdipGetGenericFontFamilySerif}) {
    GpFontFamily* family = nullptr;  // owned by GDI+
    WCHAR name[LF_FACESIZE] = {};
    if (generic(&family) == Ok && family && gp::GdipGetFamilyName(family, name, LANG_NEUTRAL) == Ok && name[0]) {
      return toUtf8(name);
    }
  }
  return {};
}

FontFamilies chooseFonts() {
  return chooseFontFamilies([](const std::string& name) { return fontFamily(name) != nullptr; }, defaultFontFamily());
}

}  // namespace

bool startGdiplus() {
  static bool started = [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Ok;
  }();
  return started;
}

const Painter& gdiplusPainter() {
  static const Painter painter{decodePng, createImage, beginDrawing, installedFontFamilies, chooseFonts};
  return painter;
}

bool presentImage(const CanvasImage& image, HDC dc, int x, int y) {
  const GdiplusImage* ours = asOurs(image);
  if (!ours || !dc) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = ours->width();
  info.bmiHeader.biHeight = -ours->height();  // top-down rows, as stored
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return SetDIBitsToDevice(dc, x, y, DWORD(ours->width()), DWORD(ours->height()), 0, 0, 0, UINT(ours->height()),
                           ours->pixels(), &info, DIB_RGB_COLORS) != 0;
}

}  // namespace velmo
