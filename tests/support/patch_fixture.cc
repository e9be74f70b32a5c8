#include "support/patch_fixture.h"

#include <cstdlib>

#include "platform/platform.h"
#include "install/entry_build.h"
#include "patch/unityweb.h"

namespace velmo::test {

PatchFixture::PatchFixture() {
  useTempFolder(tmp.path());
  beginPack(builder);
}

PatchFixture::~PatchFixture() {
  closeXapk(source);
  restoreTempFolder();
}

bool PatchFixture::open() {
  if (!writeXapk(dir / "game.xapk", layout)) return false;
  container = finishPack(builder);
  Bytes digest(32);
  sha256(container, digest.data());
  pack = PatchPack();
  if (!loadPatchPackFrom(container, digest, pack)) return false;
  std::wstring error;
  return openXapk(source, pack, wide(dir / "game.xapk"), error);
}

namespace {
uint64_t gBytesRead = 0;
bool countingRead(FileHandle file, uint64_t offset, void* data, size_t size, size_t& got) {
  bool ok = nativePlatform().readFileAt(file, offset, data, size, got);
  gBytesRead += got;
  return ok;
}
}  // namespace

uint64_t bytesReadDuring(const std::function<void()>& run) {
  PlatformOps ops = platform();
  ops.readFileAt = countingRead;
  ScopedPlatformOverride seam(ops);
  gBytesRead = 0;
  run();
  return gBytesRead;
}

bool PatchFixture::build(const PackEntry& entry, const std::string& name, std::wstring& message) {
  EntrySource from;
  return readEntrySource(source, entry, from, message) &&
         buildPatchedEntry(pack, entry, from, output(name), {}, message);
}

Bytes gameLikePayload(size_t size, uint32_t seed) {
  Bytes b = randomBytes(size / 8 + 1, seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    for (size_t i = 0; i < b.size() && out.size() < size; ++i) {
      out.push_back(b[i] & 0x0F);
      if (i % 97 == 0) out.insert(out.end(), {'f', 'r', 'o', 's', 't'});
    }
  }
  out.resize(size);
  return out;
}

LzmaEncoderSettings foreignEncoderSettings() {
  LzmaEncoderSettings s;
  s.preset = 1, s.dictionarySize = 1 << 20, s.matchFinder = LzmaMatchFinder::Hc4, s.mode = LzmaMode::Fast;
  s.niceLength = 32;
  return s;
}

Bytes unityWebBundleOf(ByteView payload, const LzmaEncoderSettings& settings) {
  UnityWebBuildOptions o;
  o.encoder = settings;
  Bytes out;
  if (!buildUnityWebBundle(payload, o, out)) out.clear();
  return out;
}

}  // namespace velmo::test
