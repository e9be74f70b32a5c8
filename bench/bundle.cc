// The bundle pipeline stage by stage for a ~40 MB decoded payload: read,
// decode, patch, encode, assemble, write; and liblzma's encode throughput.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/crc32.h"
#include "patch/lzma_raw.h"
#include "patch/pa30.h"
#include "velmo-pack/pa30_create.h"
#include "patch/unityweb.h"
#include "velmo-pack/source_records.h"
#include "velmo-pack/tool_io.h"

using namespace velmo;
using Clock = std::chrono::steady_clock;

static double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Game-like payload: record tables, text and smooth values with some noise.
static Bytes payload(size_t size) {
  Bytes out;
  uint32_t x = 11;
  auto rnd = [&] { return x = x * 1664525u + 1013904223u; };
  while (out.size() < size) {
    switch (rnd() >> 30) {
      case 0:
        for (int i = 0; i < 32; ++i) appendLe32(out, (rnd() >> 24) * 100);
        break;
      case 1: {
        std::string t = "frost_keep lantern_vale tower_" + std::to_string(rnd() % 500) + "\n";
        out.insert(out.end(), t.begin(), t.end());
        break;
      }
      case 2: {
        uint16_t v = uint16_t(rnd());
        for (int i = 0; i < 64; ++i) appendLe16(out, v = uint16_t(v + (rnd() >> 29) - 4));
        break;
      }
      default:
        for (int i = 0; i < 24; ++i) out.push_back(uint8_t(rnd() >> 24));
    }
  }
  out.resize(size);
  return out;
}

int main() {
  const size_t size = 41948696;
  Bytes source = payload(size), target = source;
  for (size_t i = 0; i < target.size(); i += 20000) target[i] ^= 0x20;
  UnityWebBuildOptions theirs;
  theirs.encoder.preset = 1, theirs.encoder.matchFinder = LzmaMatchFinder::Hc4, theirs.encoder.mode = LzmaMode::Fast;
  Bytes sourceBundle;
  buildUnityWebBundle(source, theirs, sourceBundle);
  std::string path = "/tmp/velmo-bench-bundle.unity3d";
  writeFileBytes(path, sourceBundle);
  Bytes blob;
  std::vector<std::pair<size_t, size_t>> segs;  // offset, length
  for (size_t off = 0; off < size; off += kBundleSegmentSize) segs.push_back({off, std::min<size_t>(kBundleSegmentSize, size - off)});
  std::vector<size_t> deltaLengths;
  for (auto [off, len] : segs) {
    Bytes d;
    pa30Create(ByteView(source).subspan(off, len), ByteView(target).subspan(off, len), {}, d);
    deltaLengths.push_back(d.size());
    blob.insert(blob.end(), d.begin(), d.end());
  }

  auto t = Clock::now();
  Bytes bundle;
  readFileBytes(path, bundle);
  double read = since(t);
  t = Clock::now();
  UnityWebHeader h;
  parseUnityWebHeader(bundle, h);
  Bytes decoded;
  lzmaDecodeRaw(unityWebLzmaData(bundle, h), h.dictionarySize, h.lc, h.lp, h.pb, size, decoded);
  crc32Update(0, decoded.data(), decoded.size());
  double decode = since(t);
  t = Clock::now();
  Bytes patched;
  patched.reserve(size);
  size_t consumed = 0;
  for (size_t i = 0; i < segs.size(); ++i) {
    Bytes out;
    pa30Apply(ByteView(decoded).subspan(segs[i].first, segs[i].second), ByteView(blob).subspan(consumed, deltaLengths[i]),
              segs[i].second + 4096, out);
    patched.insert(patched.end(), out.begin(), out.end());
    consumed += deltaLengths[i];
  }
  crc32Update(0, patched.data(), patched.size());
  double patch = since(t);
  t = Clock::now();
  Bytes encoded;
  lzmaEncodeRaw(patched, encoded);
  double encode = since(t);
  t = Clock::now();
  Bytes rebuilt;
  assembleUnityWebBundle(bundle, h, {60, 64, patched.size()}, encoded, rebuilt);
  crc32Update(0, rebuilt.data(), rebuilt.size());
  double assemble = since(t);
  t = Clock::now();
  writeFileBytes(path + ".out", rebuilt);
  double write = since(t);
  std::remove(path.c_str());
  std::remove((path + ".out").c_str());
  std::printf("payload %.1f MB -> bundle %.1f MB (%zu segments, delta %zu bytes)\n", size / 1e6, rebuilt.size() / 1e6,
              segs.size(), blob.size());
  std::printf("read %.3f s, decode %.3f s, patch %.3f s, encode %.2f s, assemble %.3f s, write %.3f s\n", read, decode,
              patch, encode, assemble, write);
  std::printf("liblzma encode: %.1f MB/s of payload\n", size / 1e6 / encode);
  return patched == target ? 0 : 1;
}
