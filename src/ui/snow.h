#pragma once
// The falling snow: 150 particles, dots and flakes, in two layers (behind
// the content and in front of everything). Created once, advanced every
// frame.
#include <cstdint>
#include <functional>
#include <vector>

#include "ui/canvas.h"

namespace velmo {

constexpr int kSnowParticleCount = 150;

struct SnowParticle {
  float x = 0;           // before sway
  float y = 0;           // centre
  float size = 0;        // radius of a dot or a flake
  float fallSpeed = 0;   // pixels per second, downwards
  float driftSpeed = 0;  // pixels per second, always negative (drifts left)
  float phase = 0;       // sway phase, radians
  float rotation = 0;    // flake rotation, radians
  float spin = 0;        // radians per second
  bool isFlake = false;
};

// A source of non-negative random integers (at least 0..32767).
using RandomDraw = std::function<int()>;

struct SnowField {
  std::vector<SnowParticle> particles;
  RandomDraw random;  // also used when a particle re-enters at the top
};

// A seeded generator with the C runtime's classic range (0..32767), so the
// field does not depend on the process-global rand() state.
RandomDraw seededRandom(uint32_t seed);

// Fills the field with 150 particles, each taking its draws in a fixed order:
// x, y, kind, size, fall speed, drift, phase, rotation, spin.
void initSnowParticles(SnowField& field, RandomDraw random);
inline void initSnowParticles(SnowField& field, uint32_t seed) { initSnowParticles(field, seededRandom(seed)); }

// Advances one particle by dt seconds; one that fell below 660 or drifted
// left of -40 re-enters at the top at a random x.
void advanceSnowParticle(SnowParticle& p, float dt, const RandomDraw& random);

// Advances and draws every second particle: layer 0 the odd indices (behind
// the content), layer 1 the even ones (in front). nowTick drives the sway.
void drawSnowLayer(Canvas& canvas, SnowField& field, float dt, int layer, uint32_t nowTick);

}  // namespace velmo
