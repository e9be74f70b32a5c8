#include "support/patch_fixture.h"

#include <cstdlib>

#include "platform/platform.h"

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

}  // namespace velmo::test
