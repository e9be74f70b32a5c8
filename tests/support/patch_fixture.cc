#include "support/patch_fixture.h"

#include <cstdlib>

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

}  // namespace velmo::test
