#include "ui/wizard_paint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/png_encode.h"
#include "ui/cairo/cairo_painter.h"
#include "ui/wizard_controller.h"

namespace velmo {
namespace {

constexpr uint64_t kGameBytes = 1900ull * 1048576;
constexpr uint64_t kStripArtBytes = 3ull * 1048576;
constexpr uint64_t kLauncherBytes = 2048;

uint64_t plannedBytes(const InstallOptions& o) {
  return kGameBytes + (o.useStripArt ? kStripArtBytes : 0) + (o.createLauncher ? kLauncherBytes : 0);
}

// Free space seen by the destination screen, swapped in per test.
struct FakeFreeSpace {
  static inline bool ok = true;
  static inline uint64_t bytes = 0;
  static inline std::wstring askedFor;
  static bool query(const std::wstring& path, uint64_t& out) {
    askedFor = path;
    if (!ok) return false;
    out = bytes;
    return true;
  }
  // A disk mounted at /media/usb; everything else on the root volume.
  static std::wstring mountedAt(const std::wstring& path) {
    return path.starts_with(L"/media/usb") ? L"/media/usb" : L"/";
  }
};

PlatformOps withFakeFreeSpace() {
  PlatformOps ops = platform();
  ops.freeSpace = FakeFreeSpace::query;
  ops.mountPoint = FakeFreeSpace::mountedAt;
  return ops;
}

using test::encodePng;

// A wintry dusk for the renders: sky, stars, moon, mountains, pines, a lit
// cabin, snow; the left edge fades out so the picture melts into the
// window's own gradient.
Bytes wintryScenePng() {
  const int w = 720, h = 960;
  std::unique_ptr<CanvasImage> image = cairoPainter().createImage(w, h);
  cairo_t* cr = cairo_create(cairoSurface(*image));
  applyDrawingModes(cr);

  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h);
  cairo_pattern_add_color_stop_rgb(sky, 0.0, 0.04, 0.06, 0.16);
  cairo_pattern_add_color_stop_rgb(sky, 0.45, 0.20, 0.17, 0.36);
  cairo_pattern_add_color_stop_rgb(sky, 0.70, 0.62, 0.40, 0.52);
  cairo_pattern_add_color_stop_rgb(sky, 1.0, 0.85, 0.62, 0.58);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);

  RandomDraw r = seededRandom(99);
  for (int i = 0; i < 140; ++i) {
    double x = r() % w, y = r() % 420, rad = 0.6 + (r() % 10) / 10.0;
    cairo_arc(cr, x, y, rad, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, 1, 1, 0.95, 0.4 + (r() % 60) / 100.0);
    cairo_fill(cr);
  }

  cairo_pattern_t* glow = cairo_pattern_create_radial(520, 190, 30, 520, 190, 150);
  cairo_pattern_add_color_stop_rgba(glow, 0, 1, 0.95, 0.85, 0.35);
  cairo_pattern_add_color_stop_rgba(glow, 1, 1, 0.95, 0.85, 0);
  cairo_set_source(cr, glow);
  cairo_paint(cr);
  cairo_pattern_destroy(glow);
  // A crescent: the moon's disc with an offset disc cut out of it.
  cairo_push_group(cr);
  cairo_arc(cr, 520, 190, 44, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 0.98, 0.95, 0.86);
  cairo_fill(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_arc(cr, 542, 176, 40, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pop_group_to_source(cr);
  cairo_paint(cr);

  // Far range with snowy peaks.
  const double far[][2] = {{0, 640}, {90, 520}, {170, 580}, {280, 430}, {370, 540}, {470, 470},
                           {560, 560}, {650, 480}, {720, 540}, {720, 960}, {0, 960}};
  cairo_move_to(cr, far[0][0], far[0][1]);
  for (const auto& p : far) cairo_line_to(cr, p[0], p[1]);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0.30, 0.34, 0.52);
  cairo_fill(cr);
  const double caps[][6] = {{280, 430, 250, 475, 312, 472}, {470, 470, 445, 500, 497, 498},
                            {650, 480, 622, 510, 680, 512}, {90, 520, 70, 545, 112, 548}};
  for (const auto& c : caps) {
    cairo_move_to(cr, c[0], c[1]);
    cairo_line_to(cr, c[2], c[3]);
    cairo_line_to(cr, (c[0] + c[2]) / 2 + 6, c[3] - 8);
    cairo_line_to(cr, c[0] + 4, c[3] + 4);
    cairo_line_to(cr, c[4], c[5]);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.90, 0.92, 0.98);
    cairo_fill(cr);
  }
  // Nearer hills.
  cairo_move_to(cr, 0, 700);
  cairo_curve_to(cr, 160, 620, 300, 690, 420, 650);
  cairo_curve_to(cr, 540, 610, 640, 660, 720, 630);
  cairo_line_to(cr, 720, 960);
  cairo_line_to(cr, 0, 960);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0.17, 0.20, 0.34);
  cairo_fill(cr);

  // Snowfield.
  cairo_pattern_t* snow = cairo_pattern_create_linear(0, 760, 0, 960);
  cairo_pattern_add_color_stop_rgb(snow, 0, 0.80, 0.84, 0.95);
  cairo_pattern_add_color_stop_rgb(snow, 1, 0.55, 0.60, 0.80);
  cairo_move_to(cr, 0, 800);
  cairo_curve_to(cr, 200, 760, 420, 790, 720, 750);
  cairo_line_to(cr, 720, 960);
  cairo_line_to(cr, 0, 960);
  cairo_close_path(cr);
  cairo_set_source(cr, snow);
  cairo_fill(cr);
  cairo_pattern_destroy(snow);

  // Cabin with a lit window.
  cairo_rectangle(cr, 430, 730, 110, 70);
  cairo_set_source_rgb(cr, 0.22, 0.14, 0.12);
  cairo_fill(cr);
  cairo_move_to(cr, 418, 735);
  cairo_line_to(cr, 485, 688);
  cairo_line_to(cr, 552, 735);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0.93, 0.95, 1.0);
  cairo_fill(cr);
  cairo_pattern_t* lamp = cairo_pattern_create_radial(470, 760, 4, 470, 760, 60);
  cairo_pattern_add_color_stop_rgba(lamp, 0, 1, 0.8, 0.4, 0.5);
  cairo_pattern_add_color_stop_rgba(lamp, 1, 1, 0.8, 0.4, 0);
  cairo_set_source(cr, lamp);
  cairo_arc(cr, 470, 760, 60, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pattern_destroy(lamp);
  cairo_rectangle(cr, 458, 748, 24, 22);
  cairo_set_source_rgb(cr, 1.0, 0.82, 0.45);
  cairo_fill(cr);

  // Pines, far ones smaller and lighter.
  auto pine = [&](double x, double base, double height, double shade) {
    cairo_rectangle(cr, x - height * 0.04, base - height * 0.12, height * 0.08, height * 0.12);
    cairo_set_source_rgb(cr, 0.15 * shade, 0.10 * shade, 0.10 * shade);
    cairo_fill(cr);
    for (int tier = 0; tier < 4; ++tier) {
      double top = base - height + tier * height * 0.2;
      double half = height * (0.16 + tier * 0.07);
      double bottom = top + height * 0.38;
      cairo_move_to(cr, x, top);
      cairo_line_to(cr, x + half, bottom);
      cairo_line_to(cr, x - half, bottom);
      cairo_close_path(cr);
      cairo_set_source_rgb(cr, 0.06 * shade, 0.13 * shade, 0.16 * shade);
      cairo_fill(cr);
      cairo_move_to(cr, x, top);
      cairo_line_to(cr, x + half * 0.55, top + height * 0.2);
      cairo_line_to(cr, x - half * 0.3, top + height * 0.16);
      cairo_close_path(cr);
      cairo_set_source_rgba(cr, 0.92, 0.95, 1.0, 0.85);
      cairo_fill(cr);
    }
  };
  const double pines[][3] = {{250, 770, 110}, {330, 760, 90}, {600, 760, 130}, {680, 770, 150},
                             {200, 900, 260}, {640, 940, 300}, {370, 930, 200}};
  for (const auto& p : pines) pine(p[0], p[1], p[2], p[2] > 180 ? 0.7 : 1.4);

  // Fade the left edge out.
  cairo_pattern_t* fade = cairo_pattern_create_linear(0, 0, 220, 0);
  cairo_pattern_add_color_stop_rgba(fade, 0, 0, 0, 0, 0);
  cairo_pattern_add_color_stop_rgba(fade, 1, 0, 0, 0, 1);
  cairo_set_operator(cr, CAIRO_OPERATOR_DEST_IN);
  cairo_set_source(cr, fade);
  cairo_paint(cr);
  cairo_pattern_destroy(fade);

  cairo_destroy(cr);
  cairo_surface_flush(cairoSurface(*image));
  return encodePng(*image);
}

// The start-up values a test may change.
struct StartupValues {
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;
};

struct Harness {
  WizardGraphics graphics;
  WizardState state;
  InstallOptions options;
  InstallState install;
  StartupValues startup;
  explicit Harness(bool withArt = false, bool withSnow = false) {
    Bytes art = withArt ? wintryScenePng() : Bytes{};
    initWizardGraphics(graphics, cairoPainter(), art, 2024u);
    if (!withSnow) graphics.snow.particles.clear();
  }
  cairo_surface_t* paint(float dt = 0, uint32_t tick = 0) {
    // What the controller shows before a frame, from the test's own values.
    state.shown.packOk = startup.packOk;
    state.shown.packErrorText = startup.packErrorText;
    state.shown.packHasBundles = startup.packHasBundles;
    state.shown.plannedBytes = plannedBytes(options);
    state.shown.freeSpace = queryFreeSpace(options.destinationFolder);
    showInstallProgress(state.shown, install);
    return cairoSurface(*paintWizard(graphics, state, options, dt, tick));
  }
};

std::vector<int32_t> buttonIds(const WizardState& s) {
  std::vector<int32_t> ids;
  for (const ButtonRegion& b : s.buttons) ids.push_back(b.id);
  return ids;
}

const ButtonRegion& button(const WizardState& s, WizardAction id) {
  for (const ButtonRegion& b : s.buttons)
    if (b.id == int32_t(id)) return b;
  static ButtonRegion none;
  ADD_FAILURE() << "no button " << int(id);
  return none;
}

void expectRect(const ButtonRegion& b, float x, float y, float w, float h) {
  EXPECT_EQ(b.x, x) << b.id;
  EXPECT_EQ(b.y, y) << b.id;
  EXPECT_EQ(b.w, w) << b.id;
  EXPECT_EQ(b.h, h) << b.id;
}

// --- hit regions ------------------------------------------------------------------------

TEST(Regions, ChooseXapkButtonsAndNextGuard) {
  Harness h;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{1, 2, 11, 10}));
  EXPECT_TRUE(h.state.toggles.empty());
  expectRect(button(h.state, WizardAction::BrowseXapk), 446, 294, 120, 36);
  expectRect(button(h.state, WizardAction::NextToDestination), 54, 540, 190, 44);
  EXPECT_EQ(button(h.state, WizardAction::BrowseXapk).label, L"Browse...");
  EXPECT_TRUE(button(h.state, WizardAction::BrowseXapk).enabled);
  EXPECT_FALSE(button(h.state, WizardAction::BrowseXapk).primary);
  EXPECT_TRUE(button(h.state, WizardAction::NextToDestination).primary);
  EXPECT_FALSE(button(h.state, WizardAction::NextToDestination).enabled);

  h.state.xapkValid = true;
  h.paint();
  EXPECT_TRUE(button(h.state, WizardAction::NextToDestination).enabled);
  h.startup.packOk = false;  // a damaged pack blocks even a valid XAPK
  h.paint();
  EXPECT_FALSE(button(h.state, WizardAction::NextToDestination).enabled);

  // Without music there is no mute region to hit.
  EXPECT_EQ(buttonAt(h.state, 920, 20), nullptr);
  EXPECT_EQ(buttonAt(h.state, 948, 10)->id, 11);

  // With music the mute cell comes first among the title-bar buttons.
  h.state.musicAvailable = true;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{1, 2, 12, 11, 10}));
  expectRect(button(h.state, WizardAction::ToggleMute), 908, 10, 34, 28);
  EXPECT_EQ(buttonAt(h.state, 920, 20)->id, 12);
  expectRect(button(h.state, WizardAction::Minimize), 948, 10, 34, 28);
  expectRect(button(h.state, WizardAction::CloseWindow), 988, 10, 34, 28);
  EXPECT_EQ(button(h.state, WizardAction::CloseWindow).label, L"");
}

TEST(Regions, DestinationTogglesAndInstallGuard) {
  Harness h;
  const PlatformOps ops = withFakeFreeSpace();
  ScopedPlatformOverride fake(ops);
  FakeFreeSpace::ok = true;
  FakeFreeSpace::bytes = 100ull << 30;
  h.state.screen = WizardScreen::ChooseDestination;
  h.state.xapkValid = true;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{4, 3, 5, 11, 10}));
  ASSERT_EQ(h.state.toggles.size(), 2u);
  EXPECT_EQ(h.state.toggles[0].id, 14);
  EXPECT_EQ(h.state.toggles[1].id, 15);
  EXPECT_EQ(h.state.toggles[0].label, L"Use the bundled strip art");
  EXPECT_EQ(h.state.toggles[1].label, L"Create the 1920x1080 launcher");
  EXPECT_EQ(h.state.toggles[1].w, 340);
  expectRect(button(h.state, WizardAction::BrowseDestination), 446, 294, 120, 36);
  expectRect(button(h.state, WizardAction::BackToXapk), 54, 540, 120, 44);
  expectRect(button(h.state, WizardAction::StartInstall), 190, 540, 190, 44);
  EXPECT_FALSE(button(h.state, WizardAction::StartInstall).enabled) << "no destination yet";

  h.options.destinationFolder = L"/srv/games/VELMO";
  h.paint();
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).enabled);
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).primary);

  // Toggle rows: the whole row of 300 / 340 pixels, box or label.
  EXPECT_EQ(toggleAt(h.state, 360, 400), nullptr);
  ASSERT_NE(toggleAt(h.state, 353, 411), nullptr);
  EXPECT_EQ(toggleAt(h.state, 353, 411)->id, 14);
  EXPECT_EQ(toggleAt(h.state, 54, 420)->id, 15);
  EXPECT_EQ(toggleAt(h.state, 393, 441)->id, 15);
  EXPECT_EQ(toggleAt(h.state, 394, 430), nullptr);
  EXPECT_EQ(toggleAt(h.state, 100, 442), nullptr);

  // Free space exactly at needed + margin is short.
  uint64_t needed = plannedBytes(InstallOptions{});
  FakeFreeSpace::bytes = needed + kFreeSpaceMargin;
  h.paint();
  EXPECT_FALSE(button(h.state, WizardAction::StartInstall).enabled);
  FakeFreeSpace::bytes = needed + kFreeSpaceMargin + 1;
  h.paint();
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).enabled);
  // Turning both options off lowers the need below the free space again.
  FakeFreeSpace::bytes = needed + kFreeSpaceMargin;
  h.options.useStripArt = false;
  h.options.createLauncher = false;
  h.paint();
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).enabled);
  // A failing query does not block.
  h.options.useStripArt = h.options.createLauncher = true;
  FakeFreeSpace::ok = false;
  h.paint();
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).enabled);
  // Without a valid XAPK nothing helps.
  h.state.xapkValid = false;
  h.paint();
  EXPECT_FALSE(button(h.state, WizardAction::StartInstall).enabled);
}

TEST(Regions, InstallingFinishedFailedAndUnknownScreens) {
  Harness h;
  h.state.screen = WizardScreen::Installing;
  h.install.jobRunning = true;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{6, 11, 10}));
  expectRect(button(h.state, WizardAction::CancelInstall), 54, 540, 150, 44);
  EXPECT_TRUE(button(h.state, WizardAction::CancelInstall).enabled);
  EXPECT_FALSE(button(h.state, WizardAction::CloseWindow).enabled) << "close is disabled during a job";
  EXPECT_TRUE(button(h.state, WizardAction::Minimize).enabled);
  h.install.cancelRequested = true;
  h.paint();
  EXPECT_FALSE(button(h.state, WizardAction::CancelInstall).enabled);
  // A disabled button still swallows a click above y 60.
  ASSERT_NE(buttonAt(h.state, 1000, 20), nullptr);
  EXPECT_EQ(buttonAt(h.state, 1000, 20)->id, 10);
  EXPECT_EQ(buttonAt(h.state, 1022, 20), nullptr);

  h.install.jobRunning = false;
  h.state.screen = WizardScreen::Finished;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{7, 8, 9, 110, 11, 10}));
  expectRect(button(h.state, WizardAction::PlayNow), 54, 470, 180, 44);
  expectRect(button(h.state, WizardAction::OpenFolder), 250, 470, 160, 44);
  expectRect(button(h.state, WizardAction::CreateShortcut), 54, 528, 356, 40);
  expectRect(button(h.state, WizardAction::CloseFinished), 426, 528, 120, 40);
  EXPECT_TRUE(button(h.state, WizardAction::PlayNow).primary);
  EXPECT_EQ(button(h.state, WizardAction::CreateShortcut).label, L"Create desktop shortcut");
  EXPECT_TRUE(button(h.state, WizardAction::CreateShortcut).enabled);
  EXPECT_TRUE(button(h.state, WizardAction::CloseWindow).enabled);
  h.state.shortcutCreated = true;
  h.paint();
  EXPECT_EQ(button(h.state, WizardAction::CreateShortcut).label, L"Desktop shortcut created");
  EXPECT_FALSE(button(h.state, WizardAction::CreateShortcut).enabled);

  h.state.screen = WizardScreen::Failed;
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{13, 11, 10}));
  expectRect(button(h.state, WizardAction::BackToDestination), 54, 540, 160, 44);
  EXPECT_TRUE(button(h.state, WizardAction::BackToDestination).primary);

  h.state.screen = WizardScreen(7);
  h.paint();
  EXPECT_EQ(buttonIds(h.state), (std::vector<int32_t>{11, 10}));
  EXPECT_TRUE(h.state.toggles.empty());
}

// --- the space line ------------------------------------------------------------------------------------

TEST(SpaceLine, TextRootAndSufficiency) {
  const PlatformOps ops = withFakeFreeSpace();
  ScopedPlatformOverride fake(ops);
  FakeFreeSpace::ok = true;
  FakeFreeSpace::bytes = 5ull << 30;

  SpaceLine none = spaceLine(kTemporaryReserve, queryFreeSpace(L""));
  EXPECT_EQ(none.text, L"Space needed: 220 MB  (+ 220 MB temporary)");
  EXPECT_TRUE(none.sufficient);

  FakeFreeSpace::askedFor.clear();
  SpaceLine line = spaceLine(980ull * 1048576, queryFreeSpace(L"/srv/games/VELMO"));
  EXPECT_EQ(FakeFreeSpace::askedFor, volumeRoot(L"/srv/games/VELMO"));
  EXPECT_EQ(line.text, L"Space needed: 980 MB  (+ 220 MB temporary)     Free on " +
                           volumeLabel(volumeRoot(L"/srv/games/VELMO")) + L" 5.0 GB");
  EXPECT_TRUE(line.sufficient);
#ifdef _WIN32
  EXPECT_EQ(volumeRoot(L"D:\\Games\\VELMO"), L"D:\\");
  EXPECT_EQ(volumeLabel(L"D:\\"), L"D:");
  EXPECT_EQ(volumeRoot(L"D:"), L"D:");
#else
  // The label names the mount point whose free bytes are shown.
  EXPECT_EQ(volumeLabel(volumeRoot(L"/srv/games/VELMO")), L"/");
  EXPECT_EQ(volumeLabel(L"/"), L"/");
  EXPECT_EQ(spaceLine(1000, queryFreeSpace(L"/media/usb/Games/VELMO")).text,
            L"Space needed: 1 KB  (+ 220 MB temporary)     Free on /media/usb 5.0 GB");
#endif

  FakeFreeSpace::bytes = 1000 + kFreeSpaceMargin;
  EXPECT_FALSE(spaceLine(1000, queryFreeSpace(L"/x")).sufficient);
  FakeFreeSpace::bytes = 1001 + kFreeSpaceMargin;
  EXPECT_TRUE(spaceLine(1000, queryFreeSpace(L"/x")).sufficient);
  FakeFreeSpace::bytes = 10;  // less than the margin alone
  EXPECT_FALSE(spaceLine(0, queryFreeSpace(L"/x")).sufficient);

  FakeFreeSpace::ok = false;
  SpaceLine failed = spaceLine(1000, queryFreeSpace(L"//server/share"));
  EXPECT_EQ(failed.text.find(L"Free on"), std::wstring::npos);
  EXPECT_TRUE(failed.sufficient);
}

// A frame is drawn from the wizard's state and options alone: a platform
// whose free-space query (or volume lookup, or clock) is reached fails.
bool freeSpaceNotToBeAsked(const std::wstring& path, uint64_t&) {
  ADD_FAILURE() << "painting asked for the free space of " << std::string(path.begin(), path.end());
  return false;
}
std::wstring mountPointNotToBeAsked(const std::wstring&) {
  ADD_FAILURE() << "painting looked up a volume";
  return L"";
}
uint32_t clockNotToBeRead() {
  ADD_FAILURE() << "painting read the clock";
  return 0;
}

TEST(SpaceLine, PaintingMakesNoPlatformCall) {
  Harness h;
  h.options.destinationFolder = L"/srv/games/VELMO";
  h.state.xapkValid = true;
  h.state.shown.plannedBytes = 1000;
  h.state.shown.freeSpace = {true, 5ull << 30, L"/srv"};
  PlatformOps ops = platform();
  ops.freeSpace = freeSpaceNotToBeAsked;
  ops.mountPoint = mountPointNotToBeAsked;
  ops.tickCount = clockNotToBeRead;
  ScopedPlatformOverride strict(ops);
  for (int screen = 0; screen <= 4; ++screen) {
    h.state.screen = WizardScreen(screen);
    ASSERT_NE(paintWizard(h.graphics, h.state, h.options, 0.033f, 1000u + screen), nullptr);
  }
  // The destination screen's "Install" follows the figure it was given.
  h.state.screen = WizardScreen::ChooseDestination;
  paintWizard(h.graphics, h.state, h.options, 0, 2000);
  EXPECT_TRUE(button(h.state, WizardAction::StartInstall).enabled);
  h.state.shown.freeSpace.bytes = kFreeSpaceMargin;
  paintWizard(h.graphics, h.state, h.options, 0, 2000);
  EXPECT_FALSE(button(h.state, WizardAction::StartInstall).enabled);
}

// --- pixels of whole frames --------------------------------------------------------------------------

int ch(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

TEST(Frame, ButtonStatesAndHoverShowInThePixels) {
  Harness h;
  // Left part of the "Next" button, clear of its label.
  auto nextFill = [&]() { return readPixel(h.paint(), 60, 562); };
  Argb disabled = nextFill();
  h.state.xapkValid = true;
  Argb enabled = nextFill();
  h.state.mouseX = 100, h.state.mouseY = 560;
  Argb hovered = nextFill();
  // Primary accent is blue; hovering makes it stronger; disabled is a faint grey.
  EXPECT_GT(ch(enabled, 0), ch(disabled, 0) + 60);
  EXPECT_GT(ch(hovered, 0), ch(enabled, 0));
  Argb ground = readPixel(cairoSurface(*h.graphics.background), 60, 562);
  Argb faint = 0x1EFFFFFF;
  for (int s : {0, 8, 16}) {
    int expected = int(std::lround(ch(faint, s) * 0x1E / 255.0 + ch(ground, s) * (1 - 0x1E / 255.0)));
    EXPECT_NEAR(ch(disabled, s), expected, 2);
  }

  // A disabled button does not react to the mouse.
  h.state.xapkValid = false;
  EXPECT_EQ(nextFill(), disabled);

  // Title-bar hover, also on the disabled close button during a job.
  h.state.screen = WizardScreen::Installing;
  h.install.jobRunning = true;
  h.state.mouseX = -1, h.state.mouseY = -1;
  Argb idle = readPixel(h.paint(), 991, 12);
  h.state.mouseX = 1000, h.state.mouseY = 20;
  Argb lit = readPixel(h.paint(), 991, 12);
  EXPECT_GT(ch(lit, 16), ch(idle, 16) + 30);
}

TEST(Frame, SeparatorTitleAndOpaqueFrame) {
  Harness h;
  cairo_surface_t* f = h.paint();
  // The separator is one crisp row at y 205 from x 54 to 550.
  Argb on = readPixel(f, 300, 205), above = readPixel(f, 300, 204), below = readPixel(f, 300, 206);
  EXPECT_GT(ch(on, 8), ch(above, 8) + 40);
  EXPECT_LT(std::abs(ch(above, 8) - ch(below, 8)), 3);
  EXPECT_LT(std::abs(ch(readPixel(f, 560, 205), 8) - ch(above, 8)), 3);
  // The title leaves bright ink in its rectangle.
  int titleInk = 0;
  for (int y = 30; y < 90; ++y)
    for (int x = 54; x < 614; x += 2) titleInk += ch(readPixel(f, x, y), 8) > 0xC0;
  EXPECT_GT(titleInk, 300);
  for (int y = 0; y < 640; y += 23)
    for (int x = 0; x < 1040; x += 29) ASSERT_EQ(readPixel(f, x, y) >> 24, 0xFFu);
}

TEST(Frame, ProgressOnTheInstallingScreen) {
  Harness h;
  h.state.screen = WizardScreen::Installing;
  h.install.bytesTotal = 1000;
  // The bar is at (54, 288, 470): find the fill's end on row 295, away from
  // the flake, for a few fractions.
  for (uint64_t done : {250u, 600u}) {
    h.install.bytesDone = done;
    cairo_surface_t* f = h.paint(0, 471);
    double end = 54 + 470 * done / 1000.0;
    Argb fill = readPixel(f, int(end) - 15, 295), track = readPixel(f, int(end) + 15, 295);
    EXPECT_GT(ch(fill, 0), 0xC0) << done;   // the light-blue gradient
    EXPECT_LT(ch(track, 0), 0x40) << done;  // the dark track
  }
}

// --- renders to look at --------------------------------------------------------------------------------

TEST(Screens, RenderEveryScreen) {
  const char* dir = std::getenv("VELMO_SCREENS_DIR");
  const PlatformOps ops = withFakeFreeSpace();
  ScopedPlatformOverride fake(ops);
  FakeFreeSpace::ok = true;
  FakeFreeSpace::bytes = 37ull << 30;

  Harness h(true, true);
  ASSERT_TRUE(h.graphics.stripArt) << "the test picture must decode";
  // Let the snow settle into motion.
  for (int i = 0; i < 20; ++i) h.paint(0.033f, 1000 + i * 33);

  struct Shot {
    const char* name;
    void (*setup)(Harness&);
  };
  const Shot shots[] = {
      {"0_choose_xapk", [](Harness& x) {}},
      {"0_choose_xapk_valid",
       [](Harness& x) {
         x.state.xapkPath = L"/home/player/Downloads/android/backups/Harrowmere_1.0.7_XAPK_by_store.xapk";
         x.state.xapkValid = true;
         x.state.xapkMessage = L"Harrowmere 1.0.7 found. The XAPK matches.";
         x.state.mouseX = 120, x.state.mouseY = 560;
       }},
      {"0_choose_xapk_wrong",
       [](Harness& x) {
         x.state.xapkValid = false;
         x.state.xapkMessage = L"This XAPK is not Harrowmere 1.0.7 (com.example.other 2.1.0).";
         x.state.mouseX = -1, x.state.mouseY = -1;
       }},
      {"0_choose_xapk_pack_damaged",
       [](Harness& x) {
         x.startup.packOk = false;
         x.startup.packErrorText =
             L"The patcher's embedded patch data is missing or damaged.\nDownload VELMO Patcher.exe again.";
       }},
      {"1_choose_destination",
       [](Harness& x) {
         x.startup.packOk = true;
         x.state.xapkValid = true;
         x.state.screen = WizardScreen::ChooseDestination;
         x.options.destinationFolder = L"/home/player/Games/VELMO";
         x.options.useStripArt = true;
         x.options.createLauncher = false;
         x.state.musicAvailable = true;
         x.state.mouseX = 480, x.state.mouseY = 310;
       }},
      {"1_choose_destination_short",
       [](Harness& x) {
         FakeFreeSpace::bytes = 900ull << 20;
         x.state.muted = true;
         x.state.mouseX = 920, x.state.mouseY = 20;
       }},
      {"2_installing",
       [](Harness& x) {
         FakeFreeSpace::bytes = 37ull << 30;
         x.state.screen = WizardScreen::Installing;
         x.install.jobRunning = true;
         x.install.bytesTotal = 1993ull * 1048576;
         x.install.bytesDone = 812ull * 1048576;
         x.startup.packHasBundles = true;
         setCurrentFile(x.install, L"VELMO_Data\\StreamingAssets\\Bundles\\world_winter.unity3d");
         x.state.mouseX = -1, x.state.mouseY = -1;
       }},
      {"2_installing_cancelling",
       [](Harness& x) {
         x.install.cancelRequested = true;
         x.install.bytesDone = 20ull * 1048576;
         x.startup.packHasBundles = false;
       }},
      {"3_finished",
       [](Harness& x) {
         x.install.jobRunning = false;
         x.state.screen = WizardScreen::Finished;
         x.state.mouseX = 300, x.state.mouseY = 490;
       }},
      {"3_finished_shortcut", [](Harness& x) { x.state.shortcutCreated = true; }},
      {"4_failed",
       [](Harness& x) {
         x.state.screen = WizardScreen::Failed;
         setErrorText(x.install,
                      L"Not enough free space on the destination drive.\nNeeded: 2.2 GB, free: 900 MB.");
       }},
  };
  int written = 0;
  uint32_t tick = 2000;
  for (const Shot& shot : shots) {
    shot.setup(h);
    cairo_surface_t* frame = h.paint(0.033f, tick += 1700);
    ASSERT_EQ(cairo_surface_status(frame), CAIRO_STATUS_SUCCESS);
    for (int y = 0; y < 640; y += 40)
      for (int x = 0; x < 1040; x += 40) ASSERT_EQ(readPixel(frame, x, y) >> 24, 0xFFu) << shot.name;
    if (dir && *dir) {
      std::string path = std::string(dir) + "/" + shot.name + ".png";
      EXPECT_EQ(cairo_surface_write_to_png(frame, path.c_str()), CAIRO_STATUS_SUCCESS) << path;
      ++written;
    }
  }
  if (dir && *dir) {
    Harness plain(false, true);
    std::string path = std::string(dir) + "/5_no_strip_art.png";
    EXPECT_EQ(cairo_surface_write_to_png(plain.paint(0.033f, 5000), path.c_str()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(written, int(std::size(shots)));
  }
}

}  // namespace
}  // namespace velmo
