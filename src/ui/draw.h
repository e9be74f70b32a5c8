#pragma once
// The wizard's 2D layer on Cairo, with Pango for text: colours, the shadowed
// text block, rounded rectangles, the widgets (button, toggle, path field,
// progress bar), the snowflake, the title-bar buttons and the static
// background layer. Every primitive creates and releases what it needs; a
// drawing call that fails is ignored.
#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "ui/canvas.h"
#include "ui/fonts.h"
#include "ui/wizard_state.h"

namespace velmo {

constexpr int kWindowWidth = 1040;
constexpr int kWindowHeight = 640;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Colours. Cairo takes straight colour components and stores premultiplied
// pixels; these convert between the two forms.
void setSourceArgb(cairo_t* cr, Argb colour);
// The pixel an ARGB32 surface holds for the colour painted on a clear one.
uint32_t premultiplyArgb(Argb colour);
// A stored pixel back to straight ARGB (channels rounded).
Argb unpremultiplyPixel(uint32_t pixel);
// One pixel of an image surface as straight ARGB; 0 outside the surface.
Argb readPixel(cairo_surface_t* surface, int x, int y);

// A new 1040x640 premultiplied ARGB image surface.
SurfacePtr createFrameSurface();

// Anti-aliased shapes and grey-scale anti-aliased, hinted text.
void applyDrawingModes(cairo_t* cr);

// A text block wrapped (at words, else anywhere) inside rect and clipped to
// it, top-aligned. The shadow is black at 70% of the colour's alpha, moved
// by 1.5 pixels right and down. An empty family draws nothing.
void drawText(cairo_t* cr, const std::wstring& text, const std::string& family, float sizePx, int style,
              Argb colour, RectF rect, int align, bool shadow);

// Logical width in pixels of one line of text.
float measureTextWidth(cairo_t* cr, const std::wstring& text, const std::string& family, float sizePx,
                       int style);

// Appends a closed rounded-rectangle figure (four quarter arcs).
void addRoundedRect(cairo_t* cr, RectF rect, float radius);

void drawButton(cairo_t* cr, const FontFamilies& fonts, const ButtonRegion& button, float mouseX, float mouseY);
void drawToggle(cairo_t* cr, const FontFamilies& fonts, const ToggleRegion& toggle, bool ticked);

// Shortens an over-long path in its middle with an ellipsis so that the last
// path component (after '/' or '\') stays whole; when even that does not fit,
// the ellipsis leads into the end of the last component.
std::wstring shortenPath(cairo_t* cr, const std::wstring& path, const std::string& family, float sizePx,
                         float maxWidth);
// A read-only, one-line path box of height 36.
void drawPathField(cairo_t* cr, const FontFamilies& fonts, float x, float y, float w, const std::wstring& value,
                   const std::wstring& placeholder);

// A bar of height 14 filled to the fraction (at least 14 pixels), the
// gradient spanning the whole track, with a flake turning with the clock.
void drawProgressBar(cairo_t* cr, float x, float y, float w, float fraction, uint32_t nowTick);
float progressFillWidth(float w, float fraction);

// A six-armed snowflake; alpha 0..255.
void drawSnowflake(cairo_t* cr, float cx, float cy, float radius, float rotation, int alpha);

// Title-bar cells (x, 10, 34, 28) at these x; mute exists only with music.
constexpr float kMuteCellX = 908, kMinimizeCellX = 948, kCloseCellX = 988;
constexpr float kTitleCellY = 10, kTitleCellW = 34, kTitleCellH = 28;
void drawTitleBarButtons(cairo_t* cr, const FontFamilies& fonts, bool musicAvailable, bool muted, float mouseX,
                         float mouseY);

// Square icons in the window's own art (the night-sky gradient of the
// background, its frame colour) on a transparent ground: the program's icon
// carries the snowflake, the question icon a question mark.
SurfacePtr drawProgramIcon(int size);
SurfacePtr drawQuestionIcon(int size);

// Decodes the strip-art PNG from memory; null when it is not a PNG, is
// damaged or is larger than the wizard could sensibly show.
SurfacePtr decodeStripArt(ByteView png);

// The static 1040x640 background: gradient, then (only with the picture)
// the picture right-aligned at height 640, panel shadow, panel, highlight
// and bottom shade; then the frame.
SurfacePtr composeBackground(cairo_surface_t* stripArt);

}  // namespace velmo
