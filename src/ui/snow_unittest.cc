#include "ui/snow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ui/cairo/cairo_painter.h"

namespace velmo {
namespace {

// Hands out a fixed script of draws, then zeros; counts how many were taken.
struct Script {
  std::vector<int> values;
  size_t taken = 0;
  RandomDraw source() {
    return [this]() { return taken < values.size() ? values[taken++] : (taken++, 0); };
  }
};

bool sameParticle(const SnowParticle& a, const SnowParticle& b) {
  return a.x == b.x && a.y == b.y && a.size == b.size && a.fallSpeed == b.fallSpeed &&
         a.driftSpeed == b.driftSpeed && a.phase == b.phase && a.rotation == b.rotation && a.spin == b.spin &&
         a.isFlake == b.isFlake;
}

TEST(SnowInit, DrawsInTheStatedOrderAndRanges) {
  // A flake, then a dot: nine draws each, in the order x, y, kind, size,
  // fall, drift, phase, rotation, spin.
  Script script;
  script.values = {1190, 645, 18, 13, 11, 9, 314, 627, 100,  // flake
                   49,   639, 1,  99, 0,  0, 0,   1,   49};  // dot
  SnowField field;
  initSnowParticles(field, script.source());
  ASSERT_EQ(field.particles.size(), size_t(kSnowParticleCount));
  EXPECT_EQ(script.taken, size_t(9 * kSnowParticleCount));

  const SnowParticle& flake = field.particles[0];
  EXPECT_TRUE(flake.isFlake);
  EXPECT_FLOAT_EQ(flake.x, 0);  // 1190 mod 1140 - 50
  EXPECT_FLOAT_EQ(flake.y, 5);
  EXPECT_FLOAT_EQ(flake.size, 12);  // 13 mod 7 + 6
  EXPECT_FLOAT_EQ(flake.fallSpeed, 12 * 9 + 18 + 11);
  EXPECT_FLOAT_EQ(flake.driftSpeed, -13);
  EXPECT_FLOAT_EQ(flake.phase, 3.14f);
  EXPECT_FLOAT_EQ(flake.rotation, 6.27f);
  EXPECT_FLOAT_EQ(flake.spin, -50.0f / 120);

  const SnowParticle& dot = field.particles[1];
  EXPECT_FALSE(dot.isFlake);
  EXPECT_FLOAT_EQ(dot.x, -1);
  EXPECT_FLOAT_EQ(dot.y, 639);
  EXPECT_FLOAT_EQ(dot.size, 99 / 40.0f + 1);  // floating division: 3.475
  EXPECT_FLOAT_EQ(dot.fallSpeed, dot.size * 9 + 18);
  EXPECT_FLOAT_EQ(dot.driftSpeed, -4);
  EXPECT_FLOAT_EQ(dot.phase, 0);
  EXPECT_FLOAT_EQ(dot.rotation, 0.01f);
  EXPECT_FLOAT_EQ(dot.spin, -1.0f / 120);
}

TEST(SnowInit, SeededFieldIsDeterministicAndWithinRanges) {
  SnowField a, b, c;
  initSnowParticles(a, 12345u);
  initSnowParticles(b, 12345u);
  initSnowParticles(c, 54321u);
  int differing = 0, flakes = 0;
  for (int i = 0; i < kSnowParticleCount; ++i) {
    EXPECT_TRUE(sameParticle(a.particles[i], b.particles[i])) << i;
    differing += !sameParticle(a.particles[i], c.particles[i]);
    const SnowParticle& p = a.particles[i];
    EXPECT_GE(p.x, -50);
    EXPECT_LE(p.x, 1089);
    EXPECT_GE(p.y, 0);
    EXPECT_LE(p.y, 639);
    if (p.isFlake) {
      ++flakes;
      EXPECT_GE(p.size, 6);
      EXPECT_LE(p.size, 12);
      EXPECT_EQ(p.size, std::floor(p.size));
    } else {
      EXPECT_GE(p.size, 1.0f);
      EXPECT_LE(p.size, 3.475f);
    }
    EXPECT_GE(p.fallSpeed, p.size * 9 + 18);
    EXPECT_LE(p.fallSpeed, p.size * 9 + 29);
    EXPECT_LE(p.driftSpeed, -4);
    EXPECT_GE(p.driftSpeed, -13);
    EXPECT_GE(p.phase, 0);
    EXPECT_LT(p.phase, 6.28f);
    EXPECT_GE(p.spin, -50.0f / 120);
    EXPECT_LE(p.spin, 49.0f / 120);
  }
  EXPECT_GT(differing, 140);
  // About one in nine is a flake.
  EXPECT_GT(flakes, 4);
  EXPECT_LT(flakes, 40);
}

TEST(SnowLayer, LayersSplitOddAndEvenAndAdvanceOnce) {
  std::unique_ptr<CanvasImage> image = cairoPainter().createImage(1040, 640);
  std::unique_ptr<Canvas> canvas = cairoPainter().beginDrawing(*image);
  SnowField field;
  initSnowParticles(field, 7u);
  for (SnowParticle& p : field.particles) p.y = 100, p.x = 500;  // far from the re-entry edges
  std::vector<SnowParticle> before = field.particles;

  drawSnowLayer(*canvas, field, 0.1f, 0, 0);
  for (int i = 0; i < kSnowParticleCount; ++i) {
    const SnowParticle &now = field.particles[i], &was = before[i];
    if (i % 2 == 1) {
      EXPECT_FLOAT_EQ(now.y, was.y + 0.1f * was.fallSpeed) << i;
      EXPECT_FLOAT_EQ(now.x, was.x + 0.1f * was.driftSpeed) << i;
      EXPECT_FLOAT_EQ(now.rotation, was.rotation + 0.1f * was.spin) << i;
    } else {
      EXPECT_TRUE(sameParticle(now, was)) << "layer 0 must leave even index " << i;
    }
  }
  std::vector<SnowParticle> afterLayer0 = field.particles;
  drawSnowLayer(*canvas, field, 0.1f, 1, 0);
  for (int i = 0; i < kSnowParticleCount; ++i) {
    if (i % 2 == 0) {
      EXPECT_FLOAT_EQ(field.particles[i].y, before[i].y + 0.1f * before[i].fallSpeed) << i;
    } else {
      EXPECT_TRUE(sameParticle(field.particles[i], afterLayer0[i])) << "layer 1 must leave odd index " << i;
    }
  }
  // A zero step (a plain repaint) moves nothing.
  std::vector<SnowParticle> still = field.particles;
  drawSnowLayer(*canvas, field, 0, 0, 5000);
  drawSnowLayer(*canvas, field, 0, 1, 5000);
  for (int i = 0; i < kSnowParticleCount; ++i) EXPECT_TRUE(sameParticle(field.particles[i], still[i]));
}

TEST(SnowLayer, ParticlesReenterAtTheTop) {
  Script script;
  script.values = {2000, 37};
  RandomDraw random = script.source();
  SnowParticle below;
  below.y = 655, below.x = 300, below.fallSpeed = 100, below.driftSpeed = -5;
  advanceSnowParticle(below, 0.1f, random);  // 665 > 660
  EXPECT_FLOAT_EQ(below.y, -20);
  EXPECT_FLOAT_EQ(below.x, 2000 % 1140);

  SnowParticle left;
  left.y = 300, left.x = -39.5f, left.fallSpeed = 10, left.driftSpeed = -10;
  advanceSnowParticle(left, 0.1f, random);  // -40.5 < -40
  EXPECT_FLOAT_EQ(left.y, -20);
  EXPECT_FLOAT_EQ(left.x, 37);

  SnowParticle edge;
  edge.y = 660, edge.x = -40;  // exactly on the limits: stays
  advanceSnowParticle(edge, 0, random);
  EXPECT_FLOAT_EQ(edge.y, 660);
  EXPECT_FLOAT_EQ(edge.x, -40);
  EXPECT_EQ(script.taken, 2u);
}

TEST(SnowLayer, DotAlphaAndSwayFollowTheClock) {
  // One dot of radius 2 (alpha 2 x 30 + 110 = 170) at index 0 (layer 1).
  SnowField field;
  initSnowParticles(field, 1u);
  field.particles.resize(1);
  SnowParticle& p = field.particles[0];
  p = SnowParticle{};
  p.x = 100.5f, p.y = 50.5f, p.size = 2, p.isFlake = false;

  auto render = [&](float phase, uint32_t tick) {
    p.phase = phase;
    std::unique_ptr<CanvasImage> s = cairoPainter().createImage(200, 100);
    drawSnowLayer(*cairoPainter().beginDrawing(*s), field, 0, 1, tick);
    return s;
  };
  std::unique_ptr<CanvasImage> still = render(0, 0);  // sin(0) = 0: no sway
  EXPECT_EQ(still->pixel(100, 50), 0xAAFFFFFFu);
  EXPECT_EQ(still->pixel(108, 50), 0u);
  std::unique_ptr<CanvasImage> swayed = render(float(M_PI / 2), 0);  // full sway right: +8
  EXPECT_EQ(swayed->pixel(108, 50), 0xAAFFFFFFu);
  EXPECT_EQ(swayed->pixel(100, 50), 0u);
  // The clock alone sways too: 1600 x pi/2 ms later.
  std::unique_ptr<CanvasImage> later = render(0, uint32_t(1600 * M_PI / 2));
  EXPECT_EQ(later->pixel(108, 50), 0xAAFFFFFFu);
  // Layer 0 does not draw index 0.
  std::unique_ptr<CanvasImage> s = cairoPainter().createImage(200, 100);
  drawSnowLayer(*cairoPainter().beginDrawing(*s), field, 0, 0, 0);
  EXPECT_EQ(s->pixel(100, 50), 0u);
}

}  // namespace
}  // namespace velmo
