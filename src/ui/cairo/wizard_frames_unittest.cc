// Every frame state of the render comparison drawn with the Cairo painter,
// kept in the build folder (NAME.png and NAME.textmask) for the Windows
// build to set its own renders against.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/png_encode.h"
#include "support/test_util.h"
#include "support/wizard_frames.h"
#include "ui/cairo/cairo_painter.h"

namespace velmo {
namespace {

using namespace velmo::test;

TEST(WizardFrames, EveryStateRendersItsLayoutAndIsKept) {
  const std::string dir = std::string(VELMO_BINARY_DIR) + "/wizard-frames";
  std::filesystem::create_directories(dir);
  Argb artBackground = 0, plainBackground = 0;
  for (const WizardFrameState& state : wizardFrameStates()) {
    SCOPED_TRACE(state.name);
    WizardFrame frame = renderWizardFrame(cairoPainter(), state);
    ASSERT_TRUE(frame.image && frame.background);
    ASSERT_EQ(frame.image->width(), 1040);
    ASSERT_EQ(frame.image->height(), 640);
    for (int y = 0; y < 640; y += 20)
      for (int x = 0; x < 1040; x += 20) ASSERT_EQ(frame.image->pixel(x, y) >> 24, 0xFFu);
    // Away from text and widgets the frame is its background (snow is off) ...
    for (auto [x, y] : {std::pair{700, 450}, {20, 400}, {610, 530}}) {
      ASSERT_FALSE(inTextRect(frame, x, y));
      EXPECT_EQ(frame.image->pixel(x, y), frame.background->pixel(x, y)) << x << "," << y;
    }
    // ... and every labelled button of the layout is drawn where it stands.
    ASSERT_FALSE(frame.buttons.empty());
    for (const ButtonRegion& b : frame.buttons) {
      if (b.label.empty()) continue;
      int x = int(b.x) + 4, y = int(b.y + b.h / 2);
      EXPECT_NE(frame.image->pixel(x, y), frame.background->pixel(x, y)) << b.id;
    }
    EXPECT_GE(frame.textRects.size(), 6u) << "the title block alone has four texts with shadows";
    (state.stripArt ? artBackground : plainBackground) = frame.background->pixel(900, 200);
    ASSERT_TRUE(writeBytes(dir + "/" + state.name + ".png", encodePng(*frame.image)));
    ASSERT_TRUE(writeText(dir + "/" + state.name + ".textmask", textMaskText(frame)));
  }
  EXPECT_NE(artBackground, plainBackground) << "the synthetic strip art must show";
}

}  // namespace
}  // namespace velmo
