// Times raw LZMA1 decoding and re-encoding with the fixed bundle settings on a
// payload shaped like one of the game's largest bundles (about 40 MiB decoded):
// mesh and index buffers, serialized text, audio samples, compressed textures
// and some plain noise.
//
//   bench_lzma [MiB]     (default 40)
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "common/crc32.h"
#include "patch/lzma_raw.h"

namespace {

using velmo::Bytes;

void appendFloat(Bytes& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  velmo::appendLe32(out, bits);
}

// Vertices on a smooth surface (position, normal, uv) followed by an index
// buffer of triangle strips: highly structured, moderately compressible.
void appendMesh(Bytes& out, std::mt19937& rng) {
  const uint32_t rows = 8 + rng() % 24, cols = 8 + rng() % 24;
  const float scale = 0.1f + float(rng() % 100) / 50.0f;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      const float x = float(c) * scale, z = float(r) * scale;
      const float y = std::sin(x * 0.7f) * std::cos(z * 0.3f);
      appendFloat(out, x);
      appendFloat(out, y);
      appendFloat(out, z);
      appendFloat(out, 0.0f);
      appendFloat(out, 1.0f);
      appendFloat(out, 0.0f);
      appendFloat(out, float(c) / float(cols));
      appendFloat(out, float(r) / float(rows));
    }
  }
  for (uint32_t r = 0; r + 1 < rows; ++r) {
    for (uint32_t c = 0; c + 1 < cols; ++c) {
      const uint16_t a = uint16_t(r * cols + c), b = uint16_t(a + cols);
      for (uint16_t i : {a, b, uint16_t(a + 1), uint16_t(a + 1), b, uint16_t(b + 1)}) {
        velmo::appendLe16(out, i);
      }
    }
  }
}

// Serialized object text: repeated keys, varying names and numbers.
void appendText(Bytes& out, std::mt19937& rng) {
  static const char* kKeys[] = {"m_Name", "m_Enabled", "m_Materials", "m_LocalPosition",
                                "m_LocalRotation", "m_Shader", "m_TexEnvs", "m_Floats",
                                "m_Colors", "m_GameObject", "m_Script", "m_Layer"};
  static const char* kNames[] = {"Body", "Face", "Hair", "Cloak", "Sword", "Shield", "Tree",
                                 "Rock", "Wall", "Door", "Torch", "Banner", "Cart", "Well"};
  char line[160];
  for (uint32_t i = 0, n = 40 + rng() % 200; i < n; ++i) {
    const int len = std::snprintf(line, sizeof line, "  %s: {fileID: %u, name: %s_%02u, value: %.3f}\n",
                                  kKeys[rng() % 12], unsigned(rng() % 100000),
                                  kNames[rng() % 14], unsigned(rng() % 40),
                                  double(rng() % 20000) / 1000.0);
    out.insert(out.end(), line, line + len);
  }
}

// 16-bit PCM: a few sine partials plus a little noise.
void appendAudio(Bytes& out, std::mt19937& rng) {
  const uint32_t samples = 4096 + rng() % 16384;
  const float f1 = 0.01f + float(rng() % 100) / 4000.0f, f2 = f1 * 2.01f;
  for (uint32_t i = 0; i < samples; ++i) {
    const float v = 9000.0f * std::sin(f1 * float(i)) + 3000.0f * std::sin(f2 * float(i)) +
                    float(int(rng() % 64) - 32);
    velmo::appendLe16(out, uint16_t(int16_t(v)));
  }
}

// Block-compressed texture: 8-byte blocks whose end-point colours drift
// slowly and whose selectors mostly come from a small per-texture set, as in
// flat or tiled art, with some one-off detail blocks.
void appendTexture(Bytes& out, std::mt19937& rng) {
  const uint32_t blocks = 1024 + rng() % 8192;
  uint32_t selectors[16];
  for (auto& s : selectors) s = uint32_t(rng());
  uint16_t c0 = uint16_t(rng()), c1 = uint16_t(rng());
  for (uint32_t i = 0; i < blocks; ++i) {
    if (rng() % 8 == 0) c0 = uint16_t(c0 + (rng() % 16) - 8);
    if (rng() % 8 == 0) c1 = uint16_t(c1 + (rng() % 16) - 8);
    velmo::appendLe16(out, c0);
    velmo::appendLe16(out, c1);
    velmo::appendLe32(out, rng() % 6 == 0 ? uint32_t(rng()) : selectors[rng() % 16]);
  }
}

void appendNoise(Bytes& out, std::mt19937& rng) {
  for (uint32_t i = 0, n = 2048 + rng() % 16384; i < n; ++i) out.push_back(uint8_t(rng()));
}

Bytes makeGamePayload(size_t size) {
  std::mt19937 rng(20240613);
  Bytes out;
  out.reserve(size + (1 << 20));
  while (out.size() < size) {
    const uint32_t pick = rng() % 100;
    if (pick < 35) {
      appendMesh(out, rng);
    } else if (pick < 55) {
      appendText(out, rng);
    } else if (pick < 70) {
      appendAudio(out, rng);
    } else if (pick < 95) {
      appendTexture(out, rng);
    } else {
      appendNoise(out, rng);
    }
  }
  out.resize(size);
  return out;
}

struct Timer {
  std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  double wall() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  }
  double cpu() const { return double(std::clock() - cpuStart) / CLOCKS_PER_SEC; }
};

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? size_t(std::strtoul(argv[1], nullptr, 10)) : 40;
  if (mib == 0) {
    std::fprintf(stderr, "usage: %s [MiB]\n", argv[0]);
    return 2;
  }
  const Bytes payload = makeGamePayload(mib << 20);
  const double payloadMib = double(payload.size()) / 1048576.0;

  Bytes encoded;
  const Timer encodeTimer;
  if (!velmo::lzmaEncodeRaw(payload, encoded)) {
    std::fprintf(stderr, "encode failed\n");
    return 1;
  }
  const double encodeWall = encodeTimer.wall(), encodeCpu = encodeTimer.cpu();

  Bytes decoded;
  const Timer decodeTimer;
  const velmo::LzmaDecodeResult result =
      velmo::lzmaDecodeRaw(encoded, 0x00800000, 3, 0, 2, payload.size(), decoded);
  const double decodeWall = decodeTimer.wall(), decodeCpu = decodeTimer.cpu();
  if (result != velmo::LzmaDecodeResult::Ok || decoded != payload) {
    std::fprintf(stderr, "decode failed or differs\n");
    return 1;
  }

  std::printf("payload   %.1f MiB (CRC-32 %08x), encoded %.2f MiB, ratio %.3f\n", payloadMib,
              velmo::crc32Update(0, payload.data(), payload.size()),
              double(encoded.size()) / 1048576.0, double(encoded.size()) / double(payload.size()));
  // CPU time is the steadier figure on a shared machine.
  std::printf("encode    %.2f s wall (%.2f MiB/s), %.2f s CPU (%.2f MiB/s)\n", encodeWall,
              payloadMib / encodeWall, encodeCpu, payloadMib / encodeCpu);
  std::printf("decode    %.2f s wall (%.1f MiB/s), %.2f s CPU (%.1f MiB/s)\n", decodeWall,
              payloadMib / decodeWall, decodeCpu, payloadMib / decodeCpu);
  return 0;
}
