#pragma once
// PNG bytes of a Cairo image surface, for tests that feed renders back in as
// pictures. Header-only: only the UI tests draw.
#include <cairo.h>

#include "common/bytes.h"

namespace velmo::test {

inline Bytes encodePng(cairo_surface_t* surface) {
  Bytes out;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        auto* o = static_cast<Bytes*>(closure);
        o->insert(o->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &out);
  return out;
}

}  // namespace velmo::test
