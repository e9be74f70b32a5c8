// CRC-32 throughput on 64 MiB: ours against zlib's crc32.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "common/crc32.h"

int main() {
  const size_t n = 64u << 20;
  std::vector<unsigned char> data(n);
  uint32_t x = 1;
  for (auto& b : data) b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  velmo::crc32InitTable();
  auto time = [&](auto fn) {
    double best = 1e9;
    uint32_t r = 0;
    for (int i = 0; i < 5; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      r = fn();
      double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (s < best) best = s;
    }
    return std::pair<double, uint32_t>(double(n) / (1 << 20) / best, r);
  };
  auto ours = time([&] { return velmo::crc32Update(0, data.data(), n); });
  auto zlib = time([&] { return uint32_t(crc32(0, data.data(), uInt(n))); });
  std::printf("crc32Update: %.0f MB/s (crc %08x)\nzlib crc32:  %.0f MB/s (crc %08x)\n", ours.first, ours.second,
              zlib.first, zlib.second);
  return ours.second == zlib.second ? 0 : 1;
}
