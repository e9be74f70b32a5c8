// Unpack throughput: a 64 MiB plain item and a ~9 MB LZMS item written to a
// temporary file, with the peak memory of the plain path.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/crc32.h"
#include "pack/pack_items.h"
#include "velmo-pack/pack_builder.h"

using namespace velmo;

// Peak resident set (VmHWM) since the last resetPeak(), in KiB.
static long peakKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f && std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmHWM: %ld", &kb) == 1) break;
  }
  if (f) std::fclose(f);
  return kb;
}
static long currentKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f && std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
  }
  if (f) std::fclose(f);
  return kb;
}
static void resetPeak() {
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

static double unpackSeconds(const PatchPack& pack, const PackEntry& e, const std::wstring& path) {
  auto t0 = std::chrono::steady_clock::now();
  FileHandle f = platform().createFile(path);
  UnpackSink sink{0, f, {}};
  bool ok = unpackToFile(pack, e, sink);
  platform().closeFile(f);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!ok || sink.crc != e.crc) std::printf("UNPACK FAILED\n");
  return s;
}

int main() {
  crc32InitTable();
  Bytes plain(64u << 20);
  uint32_t x = 7;
  for (auto& b : plain) b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  // Game-like compressible data: repeated records with varying fields.
  Bytes mixed;
  for (int i = 0; mixed.size() < 9152512; ++i) {
    std::string rec = "<entry id=\"" + std::to_string(i) + "\" name=\"asset_" + std::to_string(i * 31 % 977) +
                      "\" size=\"" + std::to_string(i * 7919 % 100000) + "\"/>\n";
    mixed.insert(mixed.end(), rec.begin(), rec.end());
    for (int k = 0; k < 24; ++k) mixed.push_back(uint8_t((x = x * 1664525u + 1013904223u) >> 29));
  }
  mixed.resize(9152512);

  PackBuilder b;
  beginPack(b);
  std::string error;
  PackEntry p, c;
  p.kind = c.kind = PackFile;
  p.name = L"plain", c.name = L"lzms";
  auto t0 = std::chrono::steady_clock::now();
  if (!addPackItem(b, p, plain, false, error) || !addPackItem(b, c, mixed, true, error)) return 1;
  double packSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  b.entries = {p, c};
  Bytes container = finishPack(b);
  Bytes digest(32);
  sha256(container, digest.data());
  PatchPack pack;
  if (!loadPatchPackFrom(container, digest, pack)) return 1;
  plain.clear(), plain.shrink_to_fit();
  resetPeak();
  long before = currentKb();
  std::wstring out = platform().tempFolder() + L"/velmo-bench-unpack.bin";
  double sp = unpackSeconds(pack, pack.entries[0], out);
  long afterPlain = peakKb();
  double sc = unpackSeconds(pack, pack.entries[1], out);
  platform().deleteFile(out);
  std::printf("plain 64 MiB:  %.0f MB/s (peak RSS %ld KiB above the start)\n", 64.0 / sp, afterPlain - before);
  std::printf("lzms %.1f MB (stored %.1f MB, packed in %.1f s): %.0f MB/s\n", mixed.size() / 1e6,
              pack.entries[1].storedSize / 1e6, packSeconds, mixed.size() / 1048576.0 / sc);
  return 0;
}
