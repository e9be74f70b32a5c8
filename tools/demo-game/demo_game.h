#pragma once
// A synthetic "Harrowmere" 1.0.7 with the real one's shape: the two releases
// (the Android XAPK of APK + OBB of UnityWeb bundles, and the Windows tree it
// must become), the pack made from them, a hand-made manifest for the same
// game, and a patcher with the pack embedded.
#include <string>

namespace velmo {

enum class DemoScale { Small, Medium, Full };

struct DemoOptions {
  std::string outDir;
  DemoScale scale = DemoScale::Small;
  std::string patcherPath;  // the bare patcher to embed the pack into
  bool music = false;       // add the two music assets
  // Every item stored plain, for a Compression API without LZMS (Wine).
  bool plainItems = false;
};

// Writes OUTDIR/harrowmere-1.0.7.xapk, OUTDIR/expected/ (the Windows tree),
// OUTDIR/pack.bin (made from those two), OUTDIR/pack-src/ (manifest.json,
// what make chose; hand-manifest.json and the inputs it names) and
// OUTDIR/velmo-patcher (OUTDIR/VELMO Patcher.exe for a Windows patcher). False with a one-line reason in error.
bool makeDemoGame(const DemoOptions& options, std::string& error);

}  // namespace velmo
