#pragma once
// PNG bytes of any painter's image through GDI+'s own PNG encoder, for the
// Windows tests that write renders out or feed pictures back in.
// Header-only: only the GDI+ tests use it.
#include <gdiplus.h>
#include <objidl.h>
#include <windows.h>

#include <vector>

#include "ui/canvas.h"

namespace velmo::test {

inline Bytes encodePng(const CanvasImage& image) {
  namespace gp = Gdiplus::DllExports;
  Bytes out;
  int w = image.width(), h = image.height();
  std::vector<uint32_t> straight(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) straight[size_t(y) * w + x] = image.pixel(x, y);
  }
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromScan0(w, h, w * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(straight.data()),
                                    &bitmap) != Gdiplus::Ok) {
    return out;
  }
  // The PNG encoder's class id, the same on every GDI+.
  const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK) {
    if (gp::GdipSaveImageToStream(bitmap, stream, &png, nullptr) == Gdiplus::Ok) {
      STATSTG stat{};
      LARGE_INTEGER zero{};
      if (stream->Stat(&stat, STATFLAG_NONAME) == S_OK && stream->Seek(zero, STREAM_SEEK_SET, nullptr) == S_OK) {
        out.resize(size_t(stat.cbSize.QuadPart));
        ULONG read = 0;
        if (stream->Read(out.data(), ULONG(out.size()), &read) != S_OK || read != out.size()) out.clear();
      }
    }
    stream->Release();
  }
  gp::GdipDisposeImage(bitmap);
  return out;
}

}  // namespace velmo::test
