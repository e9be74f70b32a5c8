// applyFileDelta end to end. Input: a sized source entry, the expected
// size and CRC-32 of the result (u32 each), then the delta blob. The
// record's source CRC is the source's own unless the first size byte is odd,
// so both the early refusal and the delta itself get exercised.
#include <cstdint>
#include <cstdlib>

#include "common/crc32.h"
#include "common/utf8.h"
#include "fuzz/fuzz_support.h"
#include "patch/file_delta.h"
#include "platform/platform.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView rest(data, size);
  bool foreign = size > 0 && (data[0] & 1);
  ByteView sourceBytes = fuzz::takeSized(rest);
  if (rest.size() < 8) return 0;
  PackEntry e;
  e.kind = FileDelta, e.source = XapkArchive::Apk, e.sourceName = L"assets/bin/Data/a";
  e.targetPath = L"VELMO_Data\\a";
  e.size = readLe32(rest.data()) & 0xFFFFF;  // at most 1 MiB
  e.targetCrc = readLe32(rest.data() + 4);
  rest = rest.subspan(8);
  e.sourceCrc = crc32Update(0, sourceBytes.data(), sourceBytes.size()) ^ (foreign ? 1u : 0u);
  e.dataOffset = 0, e.storedSize = rest.size();

  XapkSource source;
  if (!fuzz::openInnerArchive(source, XapkArchive::Apk, "assets/bin/Data/a", sourceBytes)) return 0;
  PatchPack pack = fuzz::packOver(rest, {e});
  std::wstring out = fromUtf8(fuzz::scratchFolder() + "/out.bin"), message;
  bool ok = fuzz::buildFromArchive(pack, source, e, out, message);
  if (ok && foreign) std::abort();
  if (ok) {
    Bytes written;
    if (!readWholeFile(out, written) || written.size() != e.size ||
        crc32Update(0, written.data(), written.size()) != e.targetCrc) {
      std::abort();
    }
    platform().deleteFile(out);
  } else if (message.empty() || platform().pathExists(out)) {
    std::abort();
  }
  closeXapk(source);
  return 0;
}
