// The bundle pipeline as a whole: a BundlePatch record, the stored bundle
// and the delta blob go through patchBundle (header, decode, segments,
// re-encode, assemble). Input: a directory record, then a sized stored
// bundle, then the blob. Sizes the record claims are kept small so one run
// stays quick.
#include <cstdint>
#include <cstdlib>

#include "common/crc32.h"
#include "common/utf8.h"
#include "fuzz/fuzz_support.h"
#include "patch/bundle_patch.h"
#include "platform/platform.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader reader{ByteView(data, size), 0};
  PackEntry e;
  if (!parsePackRecord(reader, e)) return 0;
  constexpr uint64_t kSmall = 1 << 20;
  if (e.sourceDecodedSize > kSmall || e.targetDecodedSize > kSmall || e.size > kSmall) return 0;
  for (const auto& seg : e.segments) {
    if (seg.targetLength > kSmall) return 0;
  }
  ByteView rest(data + reader.pos, size - reader.pos);
  ByteView bundle = fuzz::takeSized(rest);
  e.kind = BundlePatch, e.source = XapkArchive::Obb, e.sourceName = L"A.unity3d";
  e.compressed = false, e.dataOffset = 0, e.storedSize = rest.size();

  XapkSource source;
  if (!fuzz::openInnerArchive(source, XapkArchive::Obb, "A.unity3d", bundle)) return 0;
  PatchPack pack = fuzz::packOver(rest, {e});
  std::wstring out = fromUtf8(fuzz::scratchFolder() + "/out.unity3d"), message;
  if (fuzz::buildFromArchive(pack, source, e, out, message)) {
    // Success means the file on disk is exactly what the record promises.
    Bytes written;
    if (!readWholeFile(out, written) || written.size() != e.size ||
        crc32Update(0, written.data(), written.size()) != e.bundleCrc || !message.empty()) {
      std::abort();
    }
    platform().deleteFile(out);
  } else if (message.empty() || platform().pathExists(out)) {
    std::abort();  // every failure says why and leaves no file
  }
  closeXapk(source);
  return 0;
}
