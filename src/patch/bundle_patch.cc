#include "patch/bundle_patch.h"

#include <algorithm>

#include "common/crc32.h"
#include "pack/pack_items.h"
#include "patch/pa30.h"
#include "patch/unityweb.h"

namespace velmo {

bool patchBundle(const PatchPack& pack, const PackEntry& entry, ByteView bundle, Bytes& rebuilt,
                 std::wstring& message, const ProgressFn& progress) {
  auto fail = [&](const std::wstring& text) {
    message = text;
    return false;
  };
  const std::wstring& sourceName = entry.sourceName;
  const std::wstring& targetPath = entry.targetPath;

  rebuilt.clear();
  UnityWebHeader header;
  if (!parseUnityWebHeader(bundle, header)) {
    return fail(L"The XAPK bundle header is not supported (" + sourceName + L").");
  }
  if (header.headerSize != entry.headerSize || header.fileInfoHeaderSize != entry.fileInfoHeaderSize) {
    return fail(L"The XAPK bundle layout does not match (" + sourceName + L").");
  }

  // Decoding stops as soon as the payload outgrows what the record expects,
  // so a crafted stream cannot exhaust memory.
  Bytes decoded;
  switch (lzmaDecodeRaw(unityWebLzmaData(bundle, header), header.dictionarySize, header.lc, header.lp, header.pb,
                        entry.sourceDecodedSize, decoded, progress)) {
    case LzmaDecodeResult::Stopped:
      return fail(kCancelledText);
    case LzmaDecodeResult::Failed:
      return fail(L"Could not decompress the XAPK bundle (" + sourceName + L").");
    case LzmaDecodeResult::TooLarge:
      return fail(L"The XAPK bundle does not match the expected payload (" + sourceName + L").");
    case LzmaDecodeResult::Ok:
      break;
  }
  if (decoded.size() != entry.sourceDecodedSize ||
      crc32Update(0, decoded.data(), decoded.size()) != entry.sourceDecodedCrc) {
    return fail(L"The XAPK bundle does not match the expected payload (" + sourceName + L").");
  }

  Bytes blob;
  if (!readDeltaBlob(pack, entry, blob)) return fail(L"The delta data is damaged (" + targetPath + L").");

  Bytes patched;
  patched.reserve(size_t(std::min<uint64_t>(entry.targetDecodedSize, kMaxDeltaBlobSize)));
  uint64_t consumed = 0;
  for (const BundleSegment& seg : entry.segments) {
    if (!keepGoing(progress, 0)) return fail(kCancelledText);
    uint64_t length = decoded.size();
    if (seg.sourceOffset > length || seg.sourceLength > length - seg.sourceOffset ||
        seg.targetOffset != patched.size() || consumed > blob.size() || seg.deltaLength > blob.size() - consumed) {
      return fail(L"The bundle delta is damaged (" + targetPath + L").");
    }
    Bytes out;
    ByteView sourceRange = ByteView(decoded).subspan(size_t(seg.sourceOffset), size_t(seg.sourceLength));
    ByteView deltaRange = ByteView(blob).subspan(size_t(consumed), size_t(seg.deltaLength));
    // Polled only: the units of a bundle are its decoded and re-encoded bytes.
    auto poll = [&](uint64_t) { return keepGoing(progress, 0); };
    if (!pa30Apply(sourceRange, deltaRange, seg.targetLength, out, poll) || out.size() != seg.targetLength) {
      if (!keepGoing(progress, 0)) return fail(kCancelledText);
      return fail(L"Could not apply the bundle delta for " + targetPath + L".");
    }
    patched.insert(patched.end(), out.begin(), out.end());
    consumed += seg.deltaLength;
  }
  if (consumed != blob.size() || patched.size() != entry.targetDecodedSize ||
      crc32Update(0, patched.data(), patched.size()) != entry.targetDecodedCrc) {
    return fail(L"The patched bundle did not match (" + targetPath + L").");
  }
  decoded = Bytes();
  blob = Bytes();

  Bytes encoded;
  bool stopped = false;
  auto encodeProgress = [&](uint64_t n) { return !(stopped = !keepGoing(progress, n)); };
  if (!lzmaEncodeRaw(patched, encoded, encodeProgress)) {
    return fail(stopped ? std::wstring(kCancelledText) : L"Could not re-encode the bundle (" + targetPath + L").");
  }
  patched = Bytes();

  UnityWebTarget target{entry.headerSize, entry.fileInfoHeaderSize, entry.targetDecodedSize};
  if (!assembleUnityWebBundle(bundle, header, target, encoded, rebuilt) || rebuilt.size() != entry.size ||
      crc32Update(0, rebuilt.data(), rebuilt.size()) != entry.bundleCrc) {
    rebuilt.clear();
    return fail(L"The rebuilt bundle did not match (" + targetPath + L").");
  }
  return true;
}

}  // namespace velmo
