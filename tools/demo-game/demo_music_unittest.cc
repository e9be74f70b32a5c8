#include "demo-game/demo_music.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/music_output.h"

namespace velmo {
namespace {

// One channel of a piece as plain numbers.
std::vector<int> channel(const Bytes& pcm, int ch) {
  std::vector<int> out;
  for (size_t i = size_t(ch) * 2; i + 1 < pcm.size(); i += 4) out.push_back(int16_t(readLe16(pcm.data() + i)));
  return out;
}

// A click is a kink: a second difference far beyond what the music leading
// up to it has. Returns the largest second difference touching the join of
// `before` and `after`, and the largest within the last `window` frames of
// `before`.
struct Join {
  int atSeam;
  int leadingUp;
};

Join measureJoin(const std::vector<int>& before, const std::vector<int>& after, size_t window) {
  std::vector<int> x(before.end() - long(window), before.end());
  size_t seam = x.size();
  x.push_back(after[0]);
  x.push_back(after[1]);
  Join j{0, 0};
  for (size_t i = 1; i + 1 < x.size(); ++i) {
    int d2 = std::abs(x[i + 1] - 2 * x[i] + x[i - 1]);
    if (i + 1 < seam) {
      j.leadingUp = std::max(j.leadingUp, d2);
    } else {
      j.atSeam = std::max(j.atSeam, d2);
    }
  }
  return j;
}

class DemoMusic : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { composeDemoMusic(intro(), loop()); }
  static Bytes& intro() {
    static Bytes b;
    return b;
  }
  static Bytes& loop() {
    static Bytes b;
    return b;
  }
};

TEST_F(DemoMusic, PiecesHaveTheirLengthsAndSaneLevels) {
  EXPECT_EQ(intro().size(), size_t(kDemoIntroSeconds) * kMusicSampleRate * 4);
  EXPECT_EQ(loop().size(), size_t(kDemoLoopSeconds) * kMusicSampleRate * 4);
  for (const Bytes* piece : {&intro(), &loop()}) {
    for (int ch = 0; ch < 2; ++ch) {
      std::vector<int> x = channel(*piece, ch);
      int peak = 0;
      double sumSquares = 0;
      for (int v : x) {
        peak = std::max(peak, std::abs(v));
        sumSquares += double(v) * v;
      }
      double rms = std::sqrt(sumSquares / double(x.size()));
      // Clearly audible, never clipped, quiet enough for background music.
      EXPECT_GT(peak, 32768 / 4) << ch;
      EXPECT_LT(peak, 32767 * 9 / 10) << ch;
      EXPECT_GT(rms, 32768 * 0.04) << ch;
      EXPECT_LT(rms, 32768 * 0.3) << ch;
    }
  }
  // Stereo: the channels are not copies of each other.
  EXPECT_NE(channel(loop(), 0), channel(loop(), 1));
  // The opening rises out of silence.
  EXPECT_EQ(channel(intro(), 0)[0], 0);
  EXPECT_EQ(channel(intro(), 1)[0], 0);
}

TEST_F(DemoMusic, LoopJoinsItselfAndTheOpeningWithoutAClick) {
  const size_t window = kMusicSampleRate / 100;
  for (int ch = 0; ch < 2; ++ch) {
    std::vector<int> a = channel(intro(), ch), b = channel(loop(), ch);
    // Sound is going on across both joins, so smoothness there means
    // something.
    EXPECT_GT(std::abs(b.back()) + std::abs(b.front()), 200) << ch;

    // The one-value rounding of each side may add up to 4 to a second
    // difference.
    Join loopToLoop = measureJoin(b, b, window);
    EXPECT_LE(loopToLoop.atSeam, loopToLoop.leadingUp + 4) << ch;
    Join introToLoop = measureJoin(a, b, window);
    EXPECT_LE(introToLoop.atSeam, introToLoop.leadingUp + 4) << ch;
    // The first step is an ordinary step too.
    EXPECT_LE(std::abs(b.front() - b.back()), 2 * std::abs(b[1] - b[0]) + 8) << ch;
    EXPECT_LE(std::abs(b.front() - a.back()), 2 * std::abs(b[1] - b[0]) + 8) << ch;

    // The measure does see a real click: the loop's end into the opening's
    // start.
    Join broken = measureJoin(b, a, window);
    EXPECT_GT(broken.atSeam, 4 * broken.leadingUp + 100) << ch;
  }
}

}  // namespace
}  // namespace velmo
