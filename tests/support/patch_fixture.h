#pragma once
// An opened XAPK and a pack built around it, for the delta and bundle tests.
#include <functional>
#include <string>
#include <vector>

#include "patch/lzma_raw.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"
#include "velmo-pack/pack_builder.h"
#include "xapk/xapk_source.h"

namespace velmo::test {

struct PatchFixture {
  TempDir tmp, dir;
  XapkLayout layout;
  PackBuilder builder;
  Bytes container;
  PatchPack pack;
  XapkSource source;

  PatchFixture();
  ~PatchFixture();
  // Writes the XAPK from layout, finishes the pack from builder, opens both.
  bool open();
  std::wstring output(const std::string& name) { return wide(dir / name); }
  // Reads the entry's source as the install job does, builds and writes it.
  bool build(const PackEntry& entry, const std::string& name, std::wstring& message);
};

// Bytes read from files while `run` runs (every file read goes through the
// platform's positional read).
uint64_t bytesReadDuring(const std::function<void()>& run);
// Compressible, game-like payload.
Bytes gameLikePayload(size_t size, uint32_t seed);
// Settings of "another tool" that compressed the Android bundles.
LzmaEncoderSettings foreignEncoderSettings();
// A UnityWeb bundle of the payload, encoded with the given settings.
Bytes unityWebBundleOf(ByteView payload, const LzmaEncoderSettings& settings);

}  // namespace velmo::test
