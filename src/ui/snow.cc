#include "ui/snow.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "ui/draw.h"

namespace velmo {

RandomDraw seededRandom(uint32_t seed) {
  auto state = std::make_shared<uint32_t>(seed);
  return [state]() {
    *state = *state * 214013u + 2531011u;
    return int((*state >> 16) & 0x7FFF);
  };
}

void initSnowParticles(SnowField& field, RandomDraw random) {
  field.random = std::move(random);
  field.particles.clear();
  field.particles.reserve(kSnowParticleCount);
  RandomDraw& r = field.random;
  for (int i = 0; i < kSnowParticleCount; ++i) {
    SnowParticle p;
    p.x = float(r() % 1140 - 50);
    p.y = float(r() % 640);
    p.isFlake = r() % 9 == 0;
    p.size = p.isFlake ? float(r() % 7 + 6) : float((r() % 100) / 40.0 + 1.0);
    p.fallSpeed = p.size * 9 + 18 + float(r() % 12);
    p.driftSpeed = float(-(r() % 10) - 4);
    p.phase = float(r() % 628) / 100.0f;
    p.rotation = float(r() % 628) / 100.0f;
    p.spin = float(r() % 100 - 50) / 120.0f;
    field.particles.push_back(p);
  }
}

void advanceSnowParticle(SnowParticle& p, float dt, const RandomDraw& random) {
  p.y += dt * p.fallSpeed;
  p.x += dt * p.driftSpeed;
  p.rotation += dt * p.spin;
  if (p.y > 660 || p.x < -40) {
    p.y = -20;
    p.x = float(random() % 1140);
  }
}

void drawSnowLayer(Canvas& canvas, SnowField& field, float dt, int layer, uint32_t nowTick) {
  double clock = double(nowTick) / 1600.0;
  for (size_t i = size_t((layer & 1) ^ 1); i < field.particles.size(); i += 2) {
    SnowParticle& p = field.particles[i];
    advanceSnowParticle(p, dt, field.random);
    float dx = p.x + float(std::sin(clock + p.phase) * 8.0);
    int alpha = int(std::min(p.size * 30 + 110, 255.0f));
    if (p.isFlake) {
      drawSnowflake(canvas, dx, p.y, p.size, p.rotation, int(alpha * 0.85));
    } else {
      canvas.fillCircle(dx, p.y, p.size, (Argb(alpha) << 24) | 0xFFFFFF);
    }
  }
}

}  // namespace velmo
