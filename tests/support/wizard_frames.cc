#include "support/wizard_frames.h"

#include <cmath>

#include "install/install_state.h"
#include "platform/platform.h"
#include "support/png_encode.h"
#include "ui/draw.h"
#include "ui/wizard_controller.h"
#include "ui/wizard_paint.h"

namespace velmo::test {

// The start-up values a frame state may change.
struct FrameStartup {
  bool packOk = true;
  std::wstring packErrorText;
  bool packHasBundles = false;
};

struct WizardFrameInputs {
  WizardState state;
  InstallOptions options;
  InstallState install;
  FrameStartup startup;
  bool freeSpaceKnown = true;
  uint64_t freeBytes = 37ull << 30;
};

namespace {

constexpr uint32_t kFrameTick = 600471;  // the flake's arms lie off the bar's middle row
constexpr uint64_t kGameBytes = 1900ull << 20;

uint64_t plannedBytes(const InstallOptions& o) {
  return kGameBytes + (o.useStripArt ? 3ull << 20 : 0) + (o.createLauncher ? 2048 : 0);
}

#ifdef _WIN32
constexpr wchar_t kXapkPath[] = L"C:\\Users\\Player\\Downloads\\android\\backups\\Harrowmere_1.0.7_XAPK_by_store.xapk";
constexpr wchar_t kDestination[] = L"D:\\Games\\VELMO";
#else
constexpr wchar_t kXapkPath[] = L"/home/player/Downloads/android/backups/Harrowmere_1.0.7_XAPK_by_store.xapk";
constexpr wchar_t kDestination[] = L"/home/player/Games/VELMO";
#endif

// The free space the destination screen sees while a frame is drawn.
struct FrameFreeSpace {
  static inline bool known = true;
  static inline uint64_t bytes = 0;
  static bool query(const std::wstring&, uint64_t& out) {
    out = bytes;
    return known;
  }
  static std::wstring mountedAt(const std::wstring&) { return L"/home"; }
};

// Forwards every call and notes where text went.
class RecordingCanvas final : public Canvas {
 public:
  RecordingCanvas(Canvas& inner, std::vector<RectF>& textRects) : inner_(inner), textRects_(textRects) {}
  void copyImage(const CanvasImage& image) override { inner_.copyImage(image); }
  void drawImage(const CanvasImage& image, RectF dest) override { inner_.drawImage(image, dest); }
  void fillRoundedRect(RectF rect, float radius, Argb colour) override { inner_.fillRoundedRect(rect, radius, colour); }
  void fillRoundedRectGradient(RectF rect, float radius, const LinearGradient& gradient) override {
    inner_.fillRoundedRectGradient(rect, radius, gradient);
  }
  void strokeRoundedRect(RectF rect, float radius, Argb colour, float width) override {
    inner_.strokeRoundedRect(rect, radius, colour, width);
  }
  void drawLine(float x0, float y0, float x1, float y1, Argb colour, float width) override {
    inner_.drawLine(x0, y0, x1, y1, colour, width);
  }
  void fillCircle(float cx, float cy, float radius, Argb colour) override {
    inner_.fillCircle(cx, cy, radius, colour);
  }
  void drawText(const std::wstring& text, const std::string& family, float sizePx, int style, Argb colour,
                RectF rect, int align, TextFlow flow) override {
    if (!text.empty() && !family.empty()) {
      const float m = kTextRectMargin;
      textRects_.push_back({rect.x - m, rect.y - m, rect.w + 2 * m, rect.h + 2 * m});
    }
    inner_.drawText(text, family, sizePx, style, colour, rect, align, flow);
  }
  float measureTextWidth(const std::wstring& text, const std::string& family, float sizePx, int style) override {
    return inner_.measureTextWidth(text, family, sizePx, style);
  }

 private:
  Canvas& inner_;
  std::vector<RectF>& textRects_;
};

void onDestination(WizardFrameInputs& in) {
  in.state.screen = WizardScreen::ChooseDestination;
  in.state.xapkValid = true;
  in.state.xapkPath = kXapkPath;
  in.options.destinationFolder = kDestination;
}

void installing(WizardFrameInputs& in) {
  onDestination(in);
  in.state.screen = WizardScreen::Installing;
  in.install.jobRunning = true;
  in.install.bytesTotal = 1993ull << 20;
  in.install.bytesDone = 797ull << 20;  // 40%
  in.install.startTick = kFrameTick - 61000;
  setCurrentFile(in.install, L"VELMO_Data\\StreamingAssets\\Bundles\\world_winter.unity3d");
}

}  // namespace

std::vector<WizardFrameState> wizardFrameStates() {
  return {
      {"choose_xapk_empty", false, [](WizardFrameInputs& in) { in.state.musicAvailable = true; }},
      {"choose_xapk_ok", true,
       [](WizardFrameInputs& in) {
         in.state.xapkPath = kXapkPath;
         in.state.xapkValid = true;
         in.state.xapkMessage = L"Harrowmere 1.0.7 found. The XAPK matches.";
         in.state.musicAvailable = true;
         in.state.mouseX = 120, in.state.mouseY = 560;  // on "Next"
       }},
      {"choose_xapk_wrong", false,
       [](WizardFrameInputs& in) {
         in.state.xapkPath = L"other.xapk";
         in.state.xapkMessage = L"This XAPK is not Harrowmere 1.0.7 (com.example.other 2.1.0).";
         in.state.musicAvailable = true;
         in.state.muted = true;
         in.state.mouseX = 920, in.state.mouseY = 20;  // on the mute cell
       }},
      {"choose_xapk_pack_damaged", true,
       [](WizardFrameInputs& in) {
         in.state.xapkValid = true;
         in.startup.packOk = false;
         in.startup.packErrorText =
             L"The patcher's embedded patch data is missing or damaged.\nDownload VELMO Patcher.exe again.";
       }},
      {"destination_ready", true,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.state.mouseX = 480, in.state.mouseY = 310;  // on "Browse..."
       }},
      {"destination_short_toggles_off", false,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.options.useStripArt = false;
         in.options.createLauncher = false;
         in.freeBytes = 900ull << 20;
         in.state.mouseX = 250, in.state.mouseY = 560;  // on the disabled "Install"
       }},
      {"destination_empty", false,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.options.destinationFolder.clear();
         in.options.createLauncher = false;
       }},
      {"installing_40_hover_cancel", true,
       [](WizardFrameInputs& in) {
         installing(in);
         in.state.mouseX = 100, in.state.mouseY = 560;
       }},
      {"installing_cancelling_hover_close", false,
       [](WizardFrameInputs& in) {
         installing(in);
         in.startup.packHasBundles = true;
         in.install.cancelRequested = true;
         in.state.musicAvailable = true;
         in.state.mouseX = 1000, in.state.mouseY = 20;  // the close cell lights up while disabled
       }},
      {"finished", true,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.state.screen = WizardScreen::Finished;
         in.state.mouseX = 100, in.state.mouseY = 490;  // on "Play now"
       }},
      {"finished_shortcut_created", false,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.state.screen = WizardScreen::Finished;
         in.state.shortcutCreated = true;
         in.state.mouseX = 960, in.state.mouseY = 20;  // on the minimise cell
       }},
      {"failed", true,
       [](WizardFrameInputs& in) {
         onDestination(in);
         in.state.screen = WizardScreen::Failed;
         setErrorText(in.install, L"Not enough free space on the destination drive.\nNeeded: 2.2 GB, free: 900 MB.");
         in.state.mouseX = 100, in.state.mouseY = 560;  // on "Back"
       }},
  };
}

Bytes syntheticStripArtPng(const Painter& painter) {
  std::unique_ptr<CanvasImage> art = painter.createImage(300, 480);
  if (!art) return {};
  {
    std::unique_ptr<Canvas> c = painter.beginDrawing(*art);
    c->fillRoundedRectGradient({0, 0, 300, 480}, 0, {0, 0, 0, 480, 0xFF101A3C, 0xFFD8A090, false});
    c->fillCircle(210, 110, 34, 0xFFF8F0DC);
    c->fillCircle(60, 700, 330, 0xFF2C3458);
    c->fillCircle(300, 760, 360, 0xFFC8D2EC);
    for (int i = 0; i < 6; ++i) {
      float x = 30 + i * 48.0f;
      c->drawLine(x, 470, x, 330 + (i % 3) * 30.0f, 0xFF142024, 9);
    }
    c->fillRoundedRect({120, 300, 60, 46}, 4, 0xFF3A2420);
    c->fillRoundedRect({138, 314, 22, 18}, 0, 0xFFFFD070);
  }
  return encodePng(*art);
}

WizardFrame renderWizardFrame(const Painter& painter, const WizardFrameState& frameState) {
  WizardFrameInputs in;
  if (frameState.setup) frameState.setup(in);

  PlatformOps ops = platform();
  FrameFreeSpace::known = in.freeSpaceKnown;
  FrameFreeSpace::bytes = in.freeBytes;
  ops.freeSpace = FrameFreeSpace::query;
  ops.mountPoint = FrameFreeSpace::mountedAt;
  ScopedPlatformOverride fixedDisk(ops);
  // What the controller shows before a frame, from the state's own values.
  WizardShown& shown = in.state.shown;
  shown.packOk = in.startup.packOk;
  shown.packErrorText = in.startup.packErrorText;
  shown.packHasBundles = in.startup.packHasBundles;
  shown.plannedBytes = plannedBytes(in.options);
  shown.freeSpace = queryFreeSpace(in.options.destinationFolder);
  showInstallProgress(shown, in.install);

  WizardGraphics graphics;
  initWizardGraphics(graphics, painter, frameState.stripArt ? syntheticStripArtPng(painter) : Bytes{}, 1);
  graphics.snow.particles.clear();
  graphics.backBuffer = painter.createImage(kWindowWidth, kWindowHeight);
  WizardFrame frame;
  if (!graphics.backBuffer) return frame;
  {
    std::unique_ptr<Canvas> canvas = painter.beginDrawing(*graphics.backBuffer);
    RecordingCanvas recording(*canvas, frame.textRects);
    drawWizardFrame(recording, graphics, in.state, in.options, 0, kFrameTick);
  }
  frame.image = std::move(graphics.backBuffer);
  frame.background = std::move(graphics.background);
  frame.buttons = in.state.buttons;
  frame.toggles = in.state.toggles;
  return frame;
}

bool inTextRect(const WizardFrame& frame, int x, int y) {
  for (const RectF& r : frame.textRects) {
    if (x + 1 > r.x && x < r.x + r.w && y + 1 > r.y && y < r.y + r.h) return true;
  }
  return false;
}

std::string textMaskText(const WizardFrame& frame) {
  std::string out;
  for (const RectF& r : frame.textRects) {
    int x0 = int(std::floor(r.x)), y0 = int(std::floor(r.y));
    int x1 = int(std::ceil(r.x + r.w)), y1 = int(std::ceil(r.y + r.h));
    out += std::to_string(x0) + " " + std::to_string(y0) + " " + std::to_string(x1 - x0) + " " +
           std::to_string(y1 - y0) + "\n";
  }
  return out;
}

}  // namespace velmo::test
