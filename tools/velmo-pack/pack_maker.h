#pragma once
// Making a pack from the two releases: the Android XAPK and the Windows
// build folder. Each Windows file gets the recipe that makes the pack
// smallest among those the patcher reproduces, and the whole pack is proven
// by a real install before it is written.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velmo {

struct MakeOptions {
  std::string xapkPath;
  std::string gameFolder;
  std::string packPath;
  std::string manifestOut;  // empty: no manifest
  std::vector<std::pair<std::string, std::string>> assets;  // asset name, file
  unsigned workers = 0;     // 0: one per core
  bool plainItems = false;  // store nothing LZMS-compressed
  // Told of the file being worked on and of the bytes done of all there are.
  std::function<void(const std::string& what, uint64_t done, uint64_t total)> progress;
};

struct MakeKindTotal {
  std::string kind;  // "copy", "bundle", "delta", "file", "asset"
  size_t records = 0;
  uint64_t bytes = 0;  // bytes the records' items take in the data area
};

struct MakeSummary {
  std::vector<MakeKindTotal> kinds;
  uint64_t packSize = 0;
  uint64_t reencodedBytes = 0;         // decoded bundle bytes an install re-encodes
  std::vector<std::string> fallbacks;  // output path: why it got another recipe
  unsigned proofInstalls = 0;
};

// Writes PACK (and the manifest) only after the proof install matched the
// folder; on failure nothing is written and error is one line.
bool makePack(const MakeOptions& options, MakeSummary& summary, std::string& error);

}  // namespace velmo
