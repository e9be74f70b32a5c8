// velmo-demo-game OUTDIR [--scale small|medium|full] [--music] [--plain] [--patcher PATH]
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "demo_game.h"

int main(int argc, char** argv) {
  velmo::DemoOptions o;
  auto usage = [] {
    std::fprintf(stderr, "usage: velmo-demo-game OUTDIR [--scale small|medium|full] [--music] [--plain] [--patcher PATH]\n");
    return 1;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--scale" && i + 1 < argc) {
      std::string s = argv[++i];
      if (s == "small") o.scale = velmo::DemoScale::Small;
      else if (s == "medium") o.scale = velmo::DemoScale::Medium;
      else if (s == "full") o.scale = velmo::DemoScale::Full;
      else return usage();
    } else if (a == "--music") {
      o.music = true;
    } else if (a == "--plain") {
      o.plainItems = true;
    } else if (a == "--patcher" && i + 1 < argc) {
      o.patcherPath = argv[++i];
    } else if (o.outDir.empty() && a[0] != '-') {
      o.outDir = a;
    } else {
      return usage();
    }
  }
  if (o.outDir.empty()) return usage();
  if (o.patcherPath.empty()) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) o.patcherPath = (self.parent_path() / "velmo-patcher").string();
  }
  std::string error;
  if (!velmo::makeDemoGame(o, error)) {
    std::fprintf(stderr, "velmo-demo-game: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
