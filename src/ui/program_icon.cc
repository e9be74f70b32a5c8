#include "ui/program_icon.h"

#include <algorithm>
#include <cmath>

namespace velmo {
namespace {

constexpr float kPi = 3.14159265f;

struct Point {
  float x = 0, y = 0;
};

struct Segment {
  Point a, b;
  float halfWidth = 0;
};

// A premultiplied colour, channels 0..1.
struct Colour {
  float r = 0, g = 0, b = 0, a = 0;
};

Colour rgb(uint32_t rgb, float alpha = 1) {
  return {float((rgb >> 16) & 0xFF) / 255 * alpha, float((rgb >> 8) & 0xFF) / 255 * alpha,
          float(rgb & 0xFF) / 255 * alpha, alpha};
}
Colour mix(Colour from, Colour to, float t) {
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t,
          from.a + (to.a - from.a) * t};
}
Colour over(Colour top, Colour under) {
  float k = 1 - top.a;
  return {top.r + under.r * k, top.g + under.g * k, top.b + under.b * k, top.a + under.a * k};
}

// The wizard's background gradient, the window's pale border, the snow.
const Colour kTopBlue = rgb(0x080B18), kBottomBlue = rgb(0x161E36);
const Colour kBorder = rgb(0x96BEEB, 0.6f);
constexpr uint32_t kGlowRgb = 0x5A96DC;
const Colour kFlakeCentre = rgb(0xF4FAFF), kFlakeTip = rgb(0xA8D4FF);

float segmentDistance(Point p, const Segment& s) {
  float dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
  float length2 = dx * dx + dy * dy;
  float t = length2 > 0 ? std::clamp(((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / length2, 0.f, 1.f) : 0;
  float ex = p.x - (s.a.x + t * dx), ey = p.y - (s.a.y + t * dy);
  return std::sqrt(ex * ex + ey * ey) - s.halfWidth;
}

// Signed distance to a rounded square (negative inside).
float roundedSquareDistance(Point p, float centre, float half, float radius) {
  float qx = std::fabs(p.x - centre) - (half - radius), qy = std::fabs(p.y - centre) - (half - radius);
  float outside = std::hypot(std::max(qx, 0.f), std::max(qy, 0.f));
  return outside + std::min(std::max(qx, qy), 0.f) - radius;
}

// Six arms, one pointing up, each with side branches leaning outwards; fewer
// branches at the small sizes, where they would run together.
std::vector<Segment> snowflake(float size) {
  const float c = size / 2, arm = size * 0.37f;
  const float armHalf = std::max(0.7f, size * 0.032f), branchHalf = std::max(0.6f, size * 0.026f);
  struct Branch {
    float at, length;
  };
  std::vector<Branch> branches;
  if (size >= 32) {
    branches = {{0.42f, 0.32f}, {0.70f, 0.22f}};
  } else if (size >= 24) {
    branches = {{0.56f, 0.32f}};
  }
  const float lean = 55 * kPi / 180;
  std::vector<Segment> out;
  out.push_back({{c, c}, {c, c}, std::max(1.1f, size * 0.07f)});  // the hub
  for (int k = 0; k < 6; ++k) {
    float angle = -kPi / 2 + float(k) * kPi / 3;
    Point dir{std::cos(angle), std::sin(angle)};
    out.push_back({{c, c}, {c + dir.x * arm, c + dir.y * arm}, armHalf});
    for (const Branch& b : branches) {
      Point from{c + dir.x * arm * b.at, c + dir.y * arm * b.at};
      for (float side : {-1.f, 1.f}) {
        float a = angle + side * lean;
        out.push_back({from, {from.x + std::cos(a) * arm * b.length, from.y + std::sin(a) * arm * b.length},
                       branchHalf});
      }
    }
  }
  return out;
}

Colour sample(Point p, float size, const std::vector<Segment>& flake) {
  const float margin = size < 24 ? 0 : size * 0.035f, half = size / 2 - margin;
  float square = roundedSquareDistance(p, size / 2, half, size * 0.19f);
  if (square >= 0) return {};
  Colour colour = mix(kTopBlue, kBottomBlue, std::clamp((p.y - margin) / (2 * half), 0.f, 1.f));
  float flakeDistance = 1e9f;
  for (const Segment& s : flake) flakeDistance = std::min(flakeDistance, segmentDistance(p, s));
  if (size >= 48) {  // a soft light behind the flake, lost in the small sizes
    float glow = 0.4f * std::exp(-std::max(flakeDistance, 0.f) / (size * 0.06f));
    colour = over(rgb(kGlowRgb, glow), colour);
  }
  if (square > -std::max(1.f, size * 0.016f)) colour = over(kBorder, colour);
  if (flakeDistance < 0) {
    float r = std::hypot(p.x - size / 2, p.y - size / 2) / (size * 0.37f);
    colour = over(mix(kFlakeCentre, kFlakeTip, std::clamp(r, 0.f, 1.f)), colour);
  }
  return colour;
}

uint8_t channel(float v) { return uint8_t(std::lround(std::clamp(v, 0.f, 1.f) * 255)); }

}  // namespace

Bytes drawProgramIcon(int size) {
  if (size <= 0) return {};
  const float s = float(size);
  const std::vector<Segment> flake = snowflake(s);
  // Supersampled: n x n samples per pixel, averaged premultiplied.
  const int n = size <= 48 ? 8 : 4;
  Bytes rgba;
  rgba.reserve(size_t(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      Colour sum;
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
          Colour c = sample({float(x) + (float(i) + 0.5f) / float(n), float(y) + (float(j) + 0.5f) / float(n)}, s,
                            flake);
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
        }
      }
      float a = sum.a / float(n * n);
      if (a <= 0) {
        rgba.insert(rgba.end(), {0, 0, 0, 0});
        continue;
      }
      rgba.insert(rgba.end(), {channel(sum.r / sum.a), channel(sum.g / sum.a), channel(sum.b / sum.a), channel(a)});
    }
  }
  return rgba;
}

}  // namespace velmo
