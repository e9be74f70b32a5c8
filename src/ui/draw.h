#pragma once
// The wizard's widgets, written once on the canvas primitives: the shadowed
// text block, the button, the toggle, the path field, the progress bar, the
// snowflake, the title-bar buttons and the static background layer. No
// graphics library is reached from here; a painter supplies the canvas.
#include <cstdint>
#include <memory>
#include <string>

#include "ui/canvas.h"
#include "ui/fonts.h"
#include "ui/wizard_state.h"

namespace velmo {

constexpr int kWindowWidth = 1040;
constexpr int kWindowHeight = 640;

// The pixel a premultiplied ARGB image holds for the colour painted on a
// clear one, and back to straight ARGB (channels rounded).
uint32_t premultiplyArgb(Argb colour);
Argb unpremultiplyPixel(uint32_t pixel);

// A canvas that draws nothing and measures every text as 0 wide: what a
// frame is laid out on when there is nothing to draw into.
class DiscardingCanvas final : public Canvas {
 public:
  void copyImage(const CanvasImage&) override {}
  void drawImage(const CanvasImage&, RectF) override {}
  void fillRoundedRect(RectF, float, Argb) override {}
  void fillRoundedRectGradient(RectF, float, const LinearGradient&) override {}
  void strokeRoundedRect(RectF, float, Argb, float) override {}
  void drawLine(float, float, float, float, Argb, float) override {}
  void fillCircle(float, float, float, Argb) override {}
  void drawText(const std::wstring&, const std::string&, float, int, Argb, RectF, int, TextFlow) override {}
  float measureTextWidth(const std::wstring&, const std::string&, float, int) override { return 0; }
};

// A text block wrapped inside rect and clipped to it. The shadow is black at
// 70% of the colour's alpha, moved by 1.5 pixels right and down.
void drawText(Canvas& canvas, const std::wstring& text, const std::string& family, float sizePx, int style,
              Argb colour, RectF rect, int align, bool shadow);

void drawButton(Canvas& canvas, const FontFamilies& fonts, const ButtonRegion& button, float mouseX, float mouseY);
void drawToggle(Canvas& canvas, const FontFamilies& fonts, const ToggleRegion& toggle, bool ticked);

// Shortens an over-long path in its middle with an ellipsis so that the last
// path component (after '/' or '\') stays whole; when even that does not fit,
// the ellipsis leads into the end of the last component.
std::wstring shortenPath(Canvas& canvas, const std::wstring& path, const std::string& family, float sizePx,
                         float maxWidth);
// A read-only, one-line path box of height 36.
void drawPathField(Canvas& canvas, const FontFamilies& fonts, float x, float y, float w, const std::wstring& value,
                   const std::wstring& placeholder);

// A bar of height 14 filled to the fraction (at least 14 pixels), the
// gradient spanning the whole track, with a flake turning with the clock.
void drawProgressBar(Canvas& canvas, float x, float y, float w, float fraction, uint32_t nowTick);
float progressFillWidth(float w, float fraction);

// A six-armed snowflake; alpha 0..255.
void drawSnowflake(Canvas& canvas, float cx, float cy, float radius, float rotation, int alpha);

// Title-bar cells (x, 10, 34, 28) at these x; mute exists only with music.
constexpr float kMuteCellX = 908, kMinimizeCellX = 948, kCloseCellX = 988;
constexpr float kTitleCellY = 10, kTitleCellW = 34, kTitleCellH = 28;
void drawTitleBarButtons(Canvas& canvas, const FontFamilies& fonts, bool musicAvailable, bool muted, float mouseX,
                         float mouseY);

// The static 1040x640 background: gradient, then (only with the picture)
// the picture right-aligned at height 640, panel shadow, panel, highlight
// and bottom shade; then the frame. Null when the painter cannot make an
// image of that size.
std::unique_ptr<CanvasImage> composeBackground(const Painter& painter, const CanvasImage* stripArt);

}  // namespace velmo
