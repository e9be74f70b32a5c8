#pragma once
// The wizard's painter on Cairo, with Pango for text: images are premultiplied
// ARGB32 image surfaces, shapes are anti-aliased, text is grey-scale
// anti-aliased with slight hinting. Also what the GTK back end and the tests
// need to reach the Cairo surface behind an image.
#include <cairo.h>

#include <memory>

#include "ui/canvas.h"

namespace velmo {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

const Painter& cairoPainter();

// The surface of an image this painter made; null for any other image.
cairo_surface_t* cairoSurface(const CanvasImage& image);

// Cairo takes straight colour components and stores premultiplied pixels.
void setSourceArgb(cairo_t* cr, Argb colour);
// One pixel of an image surface as straight ARGB; 0 outside the surface.
Argb readPixel(cairo_surface_t* surface, int x, int y);
// Anti-aliased shapes and grey-scale anti-aliased, hinted text.
void applyDrawingModes(cairo_t* cr);

// A square icon in the window's own art (the night-sky gradient of the
// background, its frame colour) on a transparent ground, carrying a
// question mark: the GTK question box shows it.
std::unique_ptr<CanvasImage> drawQuestionIcon(int size);

}  // namespace velmo
