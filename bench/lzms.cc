// LZMS buffer throughput: encode and decode of one ~9 MB item of the size the
// largest pack item has, made of text-like and binary-like stretches. The
// same buffer is decoded by our decoder and by wimlib's, in turns, and the
// ratio of their speeds printed (above 1: ours is faster). Decode times are
// the thread's CPU time, best of several rounds, so that other work on the
// machine disturbs the comparison as little as it can.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "pack/lzms_buffer.h"

namespace {

using velmo::Bytes;

constexpr size_t kItemSize = 9152512;

void appendText(Bytes& out, size_t size, std::mt19937& rng) {
  static const char* const kWords[] = {
      "the", "player", "level", "score", "texture", "shader", "bundle", "asset", "load", "scene",
      "enemy", "spawn", "health", "damage", "audio", "music", "button", "menu", "options", "save",
      "error", "warning", "info", "frame", "render", "mesh", "material", "animation", "physics", "input"};
  size_t end = out.size() + size;
  while (out.size() < end) {
    switch (rng() % 4) {
      case 0: {  // a JSON-ish record
        std::string s = "{\"name\": \"" + std::string(kWords[rng() % 30]) + "_" + std::to_string(rng() % 500) +
                        "\", \"value\": " + std::to_string(rng() % 100000) + "},\n";
        out.insert(out.end(), s.begin(), s.end());
        break;
      }
      case 1: {  // a log line
        std::string s = "[" + std::to_string(1000 + rng() % 9000) + "] " + kWords[16 + rng() % 3] + ": ";
        for (int i = 0, n = 4 + rng() % 8; i < n; ++i) s += std::string(kWords[rng() % 30]) + " ";
        s += "\n";
        out.insert(out.end(), s.begin(), s.end());
        break;
      }
      default: {  // prose
        std::string s;
        for (int i = 0, n = 6 + rng() % 10; i < n; ++i) s += std::string(kWords[rng() % 30]) + " ";
        s += ". ";
        out.insert(out.end(), s.begin(), s.end());
      }
    }
  }
  out.resize(end);
}

void appendBinary(Bytes& out, size_t size, std::mt19937& rng) {
  size_t end = out.size() + size;
  while (out.size() < end) {
    switch (rng() % 4) {
      case 0: {  // vertex-like floats on a smooth curve
        float phase = float(rng() % 1000) / 100.0f;
        for (int i = 0; i < 2048; ++i) {
          float v = std::sin(phase + float(i) * 0.01f) * 10.0f;
          uint8_t b[4];
          std::memcpy(b, &v, 4);
          out.insert(out.end(), b, b + 4);
        }
        break;
      }
      case 1: {  // table of small ascending integers
        uint32_t v = rng() % 1000;
        for (int i = 0; i < 2048; ++i) {
          v += rng() % 16;
          velmo::appendLe32(out, v);
        }
        break;
      }
      case 2: {  // code-like: call and move instructions with near targets
        for (int i = 0; i < 1024; ++i) {
          out.push_back(0xE8);
          velmo::appendLe32(out, uint32_t(rng() % 4096) * 16);
          static const uint8_t kMov[] = {0x48, 0x89, 0x45, 0xF8, 0x8B, 0x45, 0xFC};
          out.insert(out.end(), kMov, kMov + 2 + rng() % 5);
        }
        break;
      }
      default: {  // an already-compressed stretch (noise)
        for (int i = 0; i < 4096; ++i) out.push_back(uint8_t(rng()));
      }
    }
  }
  out.resize(end);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

int main() {
  std::mt19937 rng(2024);
  Bytes item;
  item.reserve(kItemSize);
  while (item.size() < kItemSize) {
    size_t stretch = std::min<size_t>(kItemSize - item.size(), 200000 + rng() % 400000);
    if (rng() % 2) appendText(item, stretch, rng);
    else appendBinary(item, stretch, rng);
  }

  const int kEncodeRounds = 2, kDecodeRounds = 15;
  Bytes packed;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kEncodeRounds; ++i) {
    if (!velmo::lzmsEncodeBuffer(item, packed, velmo::LzmsCoder::Wimlib)) {
      std::fprintf(stderr, "encode failed\n");
      return 1;
    }
  }
  double encodeSeconds = secondsSince(start) / kEncodeRounds;

  // Rounds alternate between the decoders so that both see the same machine.
  velmo::LzmsDecoder own, wimlib;
  own.coder = velmo::LzmsCoder::Own;
  wimlib.coder = velmo::LzmsCoder::Wimlib;
  double seconds[2] = {1e9, 1e9};
  Bytes out(item.size());
  for (int i = 0; i < kDecodeRounds; ++i) {
    for (int which = 0; which < 2; ++which) {
      std::fill(out.begin(), out.end(), 0);
      double begin = threadSeconds();
      bool ok = velmo::lzmsDecodeBuffer(which == 0 ? own : wimlib, packed, out);
      seconds[which] = std::min(seconds[which], threadSeconds() - begin);
      if (!ok || out != item) {
        std::fprintf(stderr, "%s decoder: %s\n", which == 0 ? "our" : "wimlib's", ok ? "output differs" : "failed");
        return 1;
      }
    }
  }

  // Our own compressor, for the record (the writer under Wine).
  Bytes ownPacked;
  start = std::chrono::steady_clock::now();
  if (!velmo::lzmsEncodeBuffer(item, ownPacked, velmo::LzmsCoder::Own)) return 1;
  double ownEncodeSeconds = secondsSince(start);

  if (const char* keep = std::getenv("VELMO_BENCH_KEEP")) {
    FILE* f = std::fopen(keep, "wb");
    if (f) std::fwrite(packed.data(), 1, packed.size(), f), std::fclose(f);
  }
  double megabytes = double(item.size()) / 1e6;
  double ownRate = megabytes / seconds[0];
  double wimlibRate = megabytes / seconds[1];
  std::printf("item %zu bytes, packed by wimlib %zu bytes (%.1f%%), by ours %zu bytes (%.1f%%)\n", item.size(),
              packed.size(), 100.0 * double(packed.size()) / double(item.size()), ownPacked.size(),
              100.0 * double(ownPacked.size()) / double(item.size()));
  std::printf("encode wimlib %.1f MB/s, ours %.1f MB/s\n", megabytes / encodeSeconds, megabytes / ownEncodeSeconds);
  std::printf("decode (best of %d, CPU time) ours %.1f MB/s, wimlib %.1f MB/s, ratio %.3f\n", kDecodeRounds, ownRate,
              wimlibRate, ownRate / wimlibRate);
  return 0;
}
