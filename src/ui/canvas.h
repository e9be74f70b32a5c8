#pragma once
// What the wizard's picture needs from a 2D graphics library, and nothing
// more: solid and gradient fills of rectangles and rounded rectangles,
// strokes, lines, dots, images and wrapped text. The layout (screens,
// widgets, snow, the background layer) is written once on top of these and
// compiles without any graphics library; each library supplies one Painter
// (Cairo + Pango on Linux, GDI+ on Windows).
//
// Coordinates are in pixels of the 1040x640 frame, y downwards, with pixel
// (x, y) covering [x, x+1) x [y, y+1). Shapes are anti-aliased and blended
// over what is already there (source-over); text is grey-scale anti-aliased.
// A call with a degenerate shape (zero or negative width/height, NaN) draws
// nothing; a failing call is ignored.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "ui/fonts.h"

namespace velmo {

// 0xAARRGGBB with straight (not premultiplied) alpha.
using Argb = uint32_t;

struct RectF {
  float x = 0, y = 0, w = 0, h = 0;
};

enum TextStyle : int { kTextRegular = 0, kTextBold = 1, kTextItalic = 2 };
enum TextAlign : int { kAlignNear = 0, kAlignCentre = 1 };

// How a text block is laid out in its rectangle.
enum class TextFlow {
  Wrapped,     // wrapped at words (else anywhere) to the rectangle's width, top-aligned, clipped to the rectangle
  SingleLine,  // one line (line feeds shown as nothing more), clipped to the rectangle
  Unclipped,   // one line at the rectangle's top-left, not clipped
};

// A linear gradient between two colours along (x0, y0) -> (x1, y1); beyond
// its ends it repeats or reflects, so a fill wider than the gradient keeps
// the same colour at the same place on every painter.
struct LinearGradient {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  Argb from = 0, to = 0;
  bool reflect = false;  // false: repeat
};

// An image a painter decoded or drew into; only the painter that made it can
// draw it.
class CanvasImage {
 public:
  virtual ~CanvasImage() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // Straight ARGB of one pixel (channels rounded); 0 outside the image.
  virtual Argb pixel(int x, int y) const = 0;
};

// Draws into one image. What was drawn is in the image once the canvas has
// been destroyed.
class Canvas {
 public:
  virtual ~Canvas() = default;

  // Replaces every pixel with those of an image of the same size.
  virtual void copyImage(const CanvasImage& image) = 0;
  // Scales an image into dest with the library's best filter; the image's
  // edge pixels extend to the border of dest (no fading into transparency).
  virtual void drawImage(const CanvasImage& image, RectF dest) = 0;

  // radius 0 is a plain rectangle. A rounded rectangle is four quarter arcs
  // of that radius in its corners joined by straight sides.
  virtual void fillRoundedRect(RectF rect, float radius, Argb colour) = 0;
  virtual void fillRoundedRectGradient(RectF rect, float radius, const LinearGradient& gradient) = 0;
  // The stroke is centred on the outline.
  virtual void strokeRoundedRect(RectF rect, float radius, Argb colour, float width) = 0;
  // Butt caps.
  virtual void drawLine(float x0, float y0, float x1, float y1, Argb colour, float width) = 0;
  virtual void fillCircle(float cx, float cy, float radius, Argb colour) = 0;

  // An empty text or family draws nothing.
  virtual void drawText(const std::wstring& text, const std::string& family, float sizePx, int style, Argb colour,
                        RectF rect, int align, TextFlow flow) = 0;
  // Logical width of one line of text, in pixels; 0 for an empty text or family.
  virtual float measureTextWidth(const std::wstring& text, const std::string& family, float sizePx,
                                 int style) = 0;
};

// One graphics library. Chosen once by the window back end (and by tests).
struct Painter {
  // Null when the bytes are not a PNG, are damaged, or are larger than the
  // wizard could sensibly show (a side over 8192 or more than 16 Mi pixels).
  std::unique_ptr<CanvasImage> (*decodePng)(ByteView png);
  // A new transparent image of width x height.
  std::unique_ptr<CanvasImage> (*createImage)(int width, int height);
  // A canvas drawing into target, which must have come from this painter.
  std::unique_ptr<Canvas> (*beginDrawing)(CanvasImage& target);
  // The font families this library can draw with.
  std::vector<std::string> (*installedFontFamilies)();
  // The wizard's fonts chosen by creating each candidate, for a library that
  // can tell that way; null: chosen from installedFontFamilies().
  FontFamilies (*chooseFonts)() = nullptr;
};

}  // namespace velmo
