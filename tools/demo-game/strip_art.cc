#include "strip_art.h"

#include <cairo.h>

#include <cmath>

namespace velmo {
namespace {

cairo_status_t appendPng(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<Bytes*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

void pine(cairo_t* cr, double x, double base, double h, double shade) {
  cairo_set_source_rgb(cr, 0.06 * shade, 0.13 * shade, 0.16 * shade);
  for (int tier = 0; tier < 4; ++tier) {
    double top = base - h + tier * h * 0.2;
    double w = h * (0.18 + tier * 0.07);
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x - w, top + h * 0.32);
    cairo_line_to(cr, x + w, top + h * 0.32);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  cairo_set_source_rgba(cr, 0.92, 0.95, 1.0, 0.8);  // snow on the branches
  for (int tier = 0; tier < 4; ++tier) {
    double top = base - h + tier * h * 0.2;
    double w = h * (0.18 + tier * 0.07);
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x - w * 0.6, top + h * 0.2);
    cairo_line_to(cr, x + w * 0.3, top + h * 0.12);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
}

}  // namespace

Bytes drawStripArtPng(int width, int height) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(s);
  double w = width, h = height;

  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h);
  cairo_pattern_add_color_stop_rgb(sky, 0.0, 0.05, 0.07, 0.20);
  cairo_pattern_add_color_stop_rgb(sky, 0.55, 0.32, 0.30, 0.52);
  cairo_pattern_add_color_stop_rgb(sky, 0.8, 0.85, 0.58, 0.52);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);

  uint32_t seed = 20261208;
  auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
  for (int i = 0; i < 140; ++i) {  // stars in the upper sky
    cairo_set_source_rgba(cr, 1, 1, 1, 0.3 + 0.6 * rnd());
    cairo_arc(cr, rnd() * w, rnd() * h * 0.45, 0.6 + rnd() * 1.2, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  cairo_pattern_t* glow = cairo_pattern_create_radial(w * 0.7, h * 0.18, 2, w * 0.7, h * 0.18, h * 0.12);
  cairo_pattern_add_color_stop_rgba(glow, 0, 1, 0.98, 0.9, 1);
  cairo_pattern_add_color_stop_rgba(glow, 0.25, 1, 0.96, 0.85, 0.9);
  cairo_pattern_add_color_stop_rgba(glow, 1, 1, 0.9, 0.8, 0);
  cairo_set_source(cr, glow);
  cairo_paint(cr);
  cairo_pattern_destroy(glow);

  // Far mountains, then the hill with the tower.
  cairo_set_source_rgb(cr, 0.22, 0.24, 0.40);
  cairo_move_to(cr, 0, h * 0.62);
  for (int i = 0; i <= 12; ++i) cairo_line_to(cr, w * i / 12.0, h * (0.50 + 0.08 * std::sin(i * 1.7) + 0.04 * rnd()));
  cairo_line_to(cr, w, h);
  cairo_line_to(cr, 0, h);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.86, 0.90, 0.97);
  cairo_move_to(cr, 0, h * 0.78);
  cairo_curve_to(cr, w * 0.3, h * 0.62, w * 0.6, h * 0.64, w, h * 0.74);
  cairo_line_to(cr, w, h);
  cairo_line_to(cr, 0, h);
  cairo_fill(cr);

  double tx = w * 0.42, ty = h * 0.645;  // the watchtower
  cairo_set_source_rgb(cr, 0.12, 0.12, 0.2);
  cairo_rectangle(cr, tx - w * 0.05, ty - h * 0.22, w * 0.1, h * 0.23);
  cairo_fill(cr);
  cairo_move_to(cr, tx - w * 0.075, ty - h * 0.22);
  cairo_line_to(cr, tx, ty - h * 0.30);
  cairo_line_to(cr, tx + w * 0.075, ty - h * 0.22);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1.0, 0.78, 0.35);  // a lit window
  cairo_rectangle(cr, tx - w * 0.015, ty - h * 0.17, w * 0.03, h * 0.035);
  cairo_fill(cr);

  for (int i = 0; i < 9; ++i) pine(cr, w * (0.05 + 0.11 * i + 0.03 * rnd()), h * (0.80 + 0.06 * rnd()), h * (0.16 + 0.08 * rnd()), 1.0);
  for (int i = 0; i < 220; ++i) {  // falling snow
    cairo_set_source_rgba(cr, 1, 1, 1, 0.4 + 0.5 * rnd());
    cairo_arc(cr, rnd() * w, rnd() * h, 0.8 + rnd() * 2.2, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  cairo_destroy(cr);
  Bytes png;
  cairo_surface_write_to_png_stream(s, appendPng, &png);
  cairo_surface_destroy(s);
  return png;
}

}  // namespace velmo
