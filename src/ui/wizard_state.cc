#include "ui/wizard_state.h"

namespace velmo {

bool regionContains(float x, float y, float w, float h, float px, float py) {
  return x <= px && y <= py && px < x + w && py < y + h;
}

const ToggleRegion* toggleAt(const WizardState& state, float px, float py) {
  for (const ToggleRegion& t : state.toggles) {
    if (regionContains(t, px, py)) return &t;
  }
  return nullptr;
}

const ButtonRegion* buttonAt(const WizardState& state, float px, float py) {
  for (const ButtonRegion& b : state.buttons) {
    if (regionContains(b, px, py)) return &b;
  }
  return nullptr;
}

}  // namespace velmo
