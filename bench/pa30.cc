// PA30 codec throughput on a bundle-segment-sized pair: a 24 MiB payload
// and a copy with about 1% of it changed. Prints create time and delta
// size, apply throughput in MB/s of target, and peak memory of each phase.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "patch/pa30.h"
#include "velmo-pack/pa30_create.h"

using namespace velmo;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long peakRssKiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

// Asset-like payload: compressed blobs, text tables, smooth numeric arrays
// and zero padding, in runs of a few KiB to a few tens of KiB.
Bytes makePayload(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  static const char* kWords[] = {"name", "script", "texture", "object", "mesh", "enabled",
                                 "material", "colour", "shader", "clip", "snow", "lantern"};
  while (out.size() < size) {
    size_t chunk = 4096 + rng() % 60000;
    switch (rng() % 4) {
      case 0:
        for (size_t i = 0; i < chunk; ++i) out.push_back(uint8_t(rng()));
        break;
      case 1:
        for (size_t i = 0; i < chunk;) {
          const char* w = kWords[rng() % 12];
          size_t len = std::strlen(w);
          out.insert(out.end(), w, w + len);
          out.push_back(uint8_t(rng() % 3 == 0 ? '\n' : ' '));
          i += len + 1;
        }
        break;
      case 2: {
        float phase = float(rng() % 1000);
        for (size_t i = 0; i < chunk / 4; ++i) {
          float v = std::sin(phase + float(i) * 0.01f) * 100.0f;
          uint8_t bytes[4];
          std::memcpy(bytes, &v, 4);
          out.insert(out.end(), bytes, bytes + 4);
        }
        break;
      }
      default:
        out.insert(out.end(), chunk / 4, 0);
    }
  }
  out.resize(size);
  return out;
}

// About `fraction` of the bytes touched: overwrites, insertions, deletions
// of 1 to 64 bytes, and a few blocks moved elsewhere.
Bytes editPayload(const Bytes& in, double fraction, uint32_t seed) {
  std::mt19937 rng(seed);
  size_t edits = size_t(double(in.size()) * fraction / 32.5);
  std::vector<size_t> places(edits);
  for (auto& at : places) at = rng() % in.size();
  std::sort(places.begin(), places.end());
  Bytes out;
  out.reserve(in.size() + in.size() / 50);
  size_t pos = 0;
  for (size_t at : places) {
    if (at < pos) continue;
    out.insert(out.end(), in.begin() + long(pos), in.begin() + long(at));
    pos = at;
    size_t len = 1 + rng() % 64;
    switch (rng() % 4) {
      case 0:
      case 1:
        for (size_t k = 0; k < len && pos < in.size(); ++k, ++pos) out.push_back(uint8_t(rng()));
        break;
      case 2:
        for (size_t k = 0; k < len; ++k) out.push_back(uint8_t(rng()));
        break;
      default:
        pos = std::min(in.size(), pos + len);
    }
  }
  out.insert(out.end(), in.begin() + long(pos), in.end());
  for (int i = 0; i < 4; ++i) {
    size_t len = 64 * 1024;
    size_t from = rng() % (out.size() - len);
    Bytes block(out.begin() + long(from), out.begin() + long(from + len));
    out.erase(out.begin() + long(from), out.begin() + long(from + len));
    size_t to = rng() % out.size();
    out.insert(out.begin() + long(to), block.begin(), block.end());
  }
  return out;
}

void runPair(const char* name, const Bytes& source, const Bytes& target, int applyRounds) {
  Pa30CreateOptions options;
  options.hash = Pa30HashAlgorithm::Md5;
  Bytes delta;
  auto start = Clock::now();
  if (!pa30Create(source, target, options, delta)) {
    std::printf("%s: create failed\n", name);
    return;
  }
  double createSeconds = secondsSince(start);
  std::printf("%s: source %zu, target %zu bytes\n", name, source.size(), target.size());
  std::printf("  create: %.2f s (includes its own verifying apply), delta %zu bytes (%.2f%% of target)\n",
              createSeconds, delta.size(), 100.0 * double(delta.size()) / double(target.size()));
  std::printf("  peak RSS so far (inputs + create): %.1f MiB\n", double(peakRssKiB(RUSAGE_SELF)) / 1024);
  std::fflush(stdout);

  // Apply runs in a child so its peak memory is its own (plus the inputs
  // and delta it inherits).
  malloc_trim(0);
  pid_t child = fork();
  if (child == 0) {
    double best = 1e9, total = 0;
    Bytes out;
    for (int i = 0; i < applyRounds; ++i) {
      out.clear();
      out.shrink_to_fit();
      auto applyStart = Clock::now();
      bool ok = pa30Apply(source, delta, target.size(), out);
      double s = secondsSince(applyStart);
      if (!ok || out != target) {
        std::printf("  apply FAILED\n");
        _exit(1);
      }
      best = std::min(best, s);
      total += s;
    }
    double mb = double(target.size()) / 1e6;
    std::printf("  apply: best %.1f ms (%.0f MB/s), mean %.1f ms (%.0f MB/s) over %d runs, MD5 check included\n",
                best * 1e3, mb / best, total / applyRounds * 1e3, mb / (total / applyRounds), applyRounds);
    std::printf("  peak RSS of the apply process (inherited inputs and delta + output): %.1f MiB\n",
                double(peakRssKiB(RUSAGE_SELF)) / 1024);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace

int main() {
  const size_t kSegment = 24u << 20;
  Bytes source = makePayload(kSegment, 1);
  Bytes target = editPayload(source, 0.01, 2);
  runPair("24 MiB segment, ~1% changed", source, target, 5);

  // A literal-heavy case for the decoder: text against an empty source.
  Bytes text = makePayload(8u << 20, 3);
  for (auto& b : text) {
    if (b == 0) b = ' ';
  }
  std::mt19937 rng(4);
  for (size_t i = 0; i < text.size(); i += 1 + rng() % 8) text[i] = uint8_t('a' + rng() % 26);
  runPair("8 MiB of literal-heavy data, no source", Bytes(), text, 3);
  return 0;
}
