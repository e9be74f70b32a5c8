#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>

#include "common/utf8.h"
#include "install/entry_build.h"
#include "support/zip_builder.h"

namespace velmo::fuzz {

const std::string& scratchFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmo-fuzz-XXXXXX").string();
    std::string made = ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
    ::setenv("TMPDIR", made.c_str(), 1);
    return made;
  }();
  return folder;
}

bool openInnerArchive(XapkSource& source, XapkArchive archive, const std::string& name, ByteView bytes) {
  RawZipEntry entry;
  if (!makeRawZipEntry(name, Bytes(bytes.begin(), bytes.end()), true, entry)) return false;
  std::string path = scratchFolder() + (archive == XapkArchive::Apk ? "/inner.apk" : "/inner.obb");
  if (!writeRawZip(path, {entry}, false)) return false;
  ZipReader& reader = archive == XapkArchive::Apk ? source.apk : source.obb;
  if (!reader.open(fromUtf8(path))) return false;
  source.isOpen = true;
  return true;
}

PatchPack packOver(ByteView data, std::vector<PackEntry> entries) {
  PatchPack pack;
  pack.data = data.data();
  pack.dataSize = data.size();
  pack.entries = std::move(entries);
  return pack;
}

ByteView takeSized(ByteView& in) {
  if (in.size() < 4) {
    in = ByteView();
    return ByteView();
  }
  size_t n = readLe32(in.data());
  in = in.subspan(4);
  if (n > in.size()) n = in.size();
  ByteView out = in.first(n);
  in = in.subspan(n);
  return out;
}

bool buildFromArchive(const PatchPack& pack, XapkSource& source, const PackEntry& entry, const std::wstring& out,
                      std::wstring& message) {
  EntrySource from;
  return readEntrySource(source, entry, from, message) && buildPatchedEntry(pack, entry, from, out, {}, message);
}

}  // namespace velmo::fuzz
