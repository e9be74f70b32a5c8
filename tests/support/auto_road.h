#pragma once
// The unattended road (runAutoMode) over the older install, for the fault
// sweeps: the log must hold the result whole, or be absent when the fault
// was the log's own. Header only: only what links the app's library may
// include it.
#include <filesystem>

#include "app/auto_mode.h"
#include "common/utf8.h"
#include "support/fault_sweep.h"
#include "support/pack_fixture.h"
#include "support/test_util.h"
#include "xapk/xapk_source.h"

namespace velmo::test {

struct AutoRoad {
  TempDir tmp;
  Bytes container, digest;
  Startup startup;
  OlderInstall older;
  SweepRoad road;

  bool make(const std::string& demo) {
    std::error_code ec;
    std::filesystem::create_directories(tmp / "temp", ec);
    std::filesystem::create_directories(tmp / "exe", ec);
    container = readBytes(demo + "/pack.bin");
    digest = digestOf(container);
    if (!loadPatchPackFrom(container, digest, startup.pack) || !older.make(demo, tmp.path())) return false;
    startup.exeDirectory = wide(tmp / "exe");
    startup.commandLine = {true, wide(demo + "/harrowmere-1.0.7.xapk"), wide(tmp / "game")};
    road.dest = tmp / "game";
    road.tempRoot = tmp / "temp";
    road.reset = [this] {
      older.restore(tmp / "game");
      std::error_code ignored;
      std::filesystem::remove(tmp / "exe/patcher-auto.txt", ignored);
    };
    road.run = [this] {
      InstallState state;
      return runAutoMode(startup, state);
    };
    road.check = [this](int code, const FaultCall& failed) {
      std::string log = tmp / "exe/patcher-auto.txt";
      if (!exists(log)) {
        if (toUtf8(failed.path).ends_with("patcher-auto.txt")) return std::string();
        return "exit code " + std::to_string(code) + " and no log";
      }
      std::string text = readText(log);
      if (!text.empty() && (code == 0) == (text == "OK")) return std::string();
      return "exit code " + std::to_string(code) + " with the log \"" + text + "\"";
    };
    road.nextStart = [] { removeStaleXapkTempFolders(); };
    return true;
  }
};

}  // namespace velmo::test
