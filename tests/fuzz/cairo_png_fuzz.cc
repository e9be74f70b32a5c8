// The strip-art picture decoded by the Cairo painter, as the wizard decodes
// the pack's "bg.png", then drawn the way the background draws it.
#include <cstddef>
#include <cstdint>

#include "ui/cairo/cairo_painter.h"
#include "ui/draw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmo::Painter& painter = velmo::cairoPainter();
  std::unique_ptr<velmo::CanvasImage> image = painter.decodePng(velmo::ByteView(data, size));
  if (!image) return 0;
  if (image->width() <= 0 || image->height() <= 0 || image->width() > 8192 || image->height() > 8192) {
    __builtin_trap();
  }
  image->pixel(image->width() - 1, image->height() - 1);
  std::unique_ptr<velmo::CanvasImage> target = painter.createImage(64, 64);
  painter.beginDrawing(*target)->drawImage(*image, {0, 0, 64, 64});
  return 0;
}
