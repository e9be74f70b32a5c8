#pragma once
// The wizard's painter on the GDI+ flat API (Windows): 32-bit premultiplied
// ARGB images, anti-aliased paths, line gradients, bicubic image scaling,
// grid-fitted anti-aliased text and PNG decoding from memory.
#include <windows.h>

#include "ui/canvas.h"

namespace velmo {

// Starts GDI+ once for the process (version 1, its background thread
// running); it is never shut down. False when GDI+ cannot start: every
// painter call then fails and draws nothing.
bool startGdiplus();

// The painter; startGdiplus must have run.
const Painter& gdiplusPainter();

// Copies an image of this painter to a device context at (x, y), one pixel
// per pixel. The image must have no canvas open on it.
bool presentImage(const CanvasImage& image, HDC dc, int x, int y);

}  // namespace velmo
