#pragma once
// PNG bytes of a painter's image (8-bit RGBA, straight alpha), for tests that
// feed pictures to a painter's decoder or keep renders to look at. Works with
// every painter, as it reads the image pixel by pixel.
#include "common/bytes.h"
#include "ui/canvas.h"

namespace velmo::test {

Bytes encodePng(const CanvasImage& image);

}  // namespace velmo::test
