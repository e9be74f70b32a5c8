#pragma once
#include "common/bytes.h"

namespace velmo {

// A PNG of the strip art: a tall wintry scene (a watchtower on a hill under
// a dusk sky, pines and snow), width x height pixels.
Bytes drawStripArtPng(int width, int height);

}  // namespace velmo
