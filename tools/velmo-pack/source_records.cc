#include "velmo-pack/source_records.h"

#include "common/crc32.h"
#include "common/utf8.h"
#include "patch/lzma_raw.h"
#include "patch/pa30.h"
#include "velmo-pack/pa30_create.h"
#include "patch/unityweb.h"
#include "velmo-pack/tool_io.h"

namespace velmo {
namespace {

using nlohmann::json;

bool field(const json& r, const char* key, std::string& out, std::string& error) {
  auto it = r.find(key);
  if (it == r.end() || !it->is_string()) {
    error = std::string("record needs a string \"") + key + "\"";
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool sourceFields(const json& r, PackEntry& e, std::string& error) {
  std::string archive, source, target;
  if (!field(r, "archive", archive, error) || !field(r, "source", source, error) ||
      !field(r, "target", target, error)) {
    return false;
  }
  if (archive == "apk") {
    e.source = XapkArchive::Apk;
  } else if (archive == "obb") {
    e.source = XapkArchive::Obb;
  } else {
    error = "\"archive\" must be \"apk\" or \"obb\"";
    return false;
  }
  e.sourceName = fromUtf8(source);
  e.targetPath = fromUtf8(target);
  return true;
}

bool boolField(const json& r, const char* key, bool& out, std::string& error) {
  auto it = r.find(key);
  if (it == r.end()) return true;
  if (!it->is_boolean()) {
    error = std::string("\"") + key + "\" must be true or false";
    return false;
  }
  out = it->get<bool>();
  return true;
}

bool storeBlob(PackBuilder& b, PackEntry& e, ByteView blob, bool compress, std::string& error) {
  e.compressed = compress;
  if (!compress) {
    e.storedSize = blob.size();
    e.dataOffset = addPackData(b, blob);
    return true;
  }
  Bytes stream;
  if (!encodeBlockStream(blob, stream, error)) return false;
  e.storedSize = stream.size();
  e.dataOffset = addPackData(b, stream);
  return true;
}

bool readNamed(const json& r, const char* key, const std::filesystem::path& base, Bytes& out, std::string& error) {
  std::string name;
  if (!field(r, key, name, error)) return false;
  std::string path = (base / name).string();
  if (!readFileBytes(path, out)) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// The record's source: its "sourceFile", or else the entry itself.
bool readSource(const json& r, const PackEntry& e, const std::filesystem::path& base,
                const SourceEntryReader& fromXapk, Bytes& out, std::string& error) {
  if (r.contains("sourceFile") || !fromXapk) return readNamed(r, "sourceFile", base, out, error);
  return fromXapk(e.source, toUtf8(e.sourceName), out, error);
}

}  // namespace

bool decodeBundlePayload(ByteView bundle, Bytes& payload, std::string& error) {
  UnityWebHeader header;
  if (!parseUnityWebHeader(bundle, header)) {
    error = "not a supported UnityWeb bundle";
    return false;
  }
  // A valid LZMA stream expands by well under this ratio on real data; the
  // bound keeps a damaged file from taking all memory.
  uint64_t cap = uint64_t(bundle.size()) * 1024 + (1u << 20);
  if (lzmaDecodeRaw(unityWebLzmaData(bundle, header), header.dictionarySize, header.lc, header.lp, header.pb, cap,
                    payload) != LzmaDecodeResult::Ok) {
    error = "the bundle's LZMA data does not decode";
    return false;
  }
  return true;
}

bool addBundleRecord(PackBuilder& b, PackEntry& e, ByteView sourceBundle, ByteView targetPayload, bool compress,
                     std::string& error, Bytes* rebuiltOut, const Bytes* encodedTarget) {
  e.kind = BundlePatch;
  UnityWebHeader header;
  Bytes sourcePayload;
  if (!parseUnityWebHeader(sourceBundle, header) || !decodeBundlePayload(sourceBundle, sourcePayload, error)) {
    error = "sourceFile: " + (error.empty() ? std::string("not a supported UnityWeb bundle") : error);
    return false;
  }
  const uint64_t srcLen = sourcePayload.size(), tgtLen = targetPayload.size();
  uint64_t count = std::max<uint64_t>(1, (tgtLen + kBundleSegmentSize - 1) / kBundleSegmentSize);
  if (count > kMaxBundleSegments) {
    error = "the target payload needs more than 16 segments";
    return false;
  }
  Bytes blob;
  for (uint64_t i = 0; i < count; ++i) {
    bool last = i + 1 == count;
    BundleSegment s;
    s.targetOffset = i * kBundleSegmentSize;
    s.targetLength = last ? tgtLen - s.targetOffset : kBundleSegmentSize;
    s.sourceOffset = std::min(i * kBundleSegmentSize, srcLen);
    s.sourceLength = last ? srcLen - s.sourceOffset : std::min<uint64_t>(kBundleSegmentSize, srcLen - s.sourceOffset);
    Bytes delta;
    if (!pa30Create(ByteView(sourcePayload).subspan(size_t(s.sourceOffset), size_t(s.sourceLength)),
                    targetPayload.subspan(size_t(s.targetOffset), size_t(s.targetLength)), Pa30CreateOptions(),
                    delta)) {
      error = "could not create a delta for " + toUtf8(e.targetPath);
      return false;
    }
    s.deltaLength = delta.size();
    blob.insert(blob.end(), delta.begin(), delta.end());
    e.segments.push_back(s);
  }
  Bytes ownEncoded, rebuilt;
  UnityWebTarget target{header.headerSize, header.fileInfoHeaderSize, tgtLen};
  if ((!encodedTarget && !lzmaEncodeRaw(targetPayload, ownEncoded)) ||
      !assembleUnityWebBundle(sourceBundle, header, target, encodedTarget ? *encodedTarget : ownEncoded, rebuilt)) {
    error = "could not rebuild the bundle for " + toUtf8(e.targetPath);
    return false;
  }
  e.size = rebuilt.size();
  e.sourceDecodedSize = srcLen;
  e.targetDecodedSize = tgtLen;
  e.sourceDecodedCrc = crc32Update(0, sourcePayload.data(), sourcePayload.size());
  e.targetDecodedCrc = crc32Update(0, targetPayload.data(), targetPayload.size());
  e.bundleCrc = crc32Update(0, rebuilt.data(), rebuilt.size());
  e.headerSize = header.headerSize;
  e.fileInfoHeaderSize = header.fileInfoHeaderSize;
  if (!storeBlob(b, e, blob, compress, error)) return false;
  if (rebuiltOut) *rebuiltOut = std::move(rebuilt);
  b.entries.push_back(std::move(e));
  return true;
}

bool addDeltaRecord(PackBuilder& b, PackEntry& e, ByteView source, ByteView target, bool compress,
                    std::string& error) {
  e.kind = FileDelta;
  Bytes delta;
  if (!pa30Create(source, target, Pa30CreateOptions(), delta)) {
    error = "could not create a delta for " + toUtf8(e.targetPath);
    return false;
  }
  e.size = target.size();
  e.sourceCrc = crc32Update(0, source.data(), source.size());
  e.targetCrc = crc32Update(0, target.data(), target.size());
  if (!storeBlob(b, e, delta, compress, error)) return false;
  b.entries.push_back(std::move(e));
  return true;
}

bool addSourceRecord(PackBuilder& b, const json& r, const std::string& kind, const std::filesystem::path& base,
                     const SourceEntryReader& fromXapk, std::string& error) {
  PackEntry e;
  if (kind == "copy") {
    e.kind = ArchiveCopy;
    Bytes bytes;
    if (!sourceFields(r, e, error) || !readNamed(r, "file", base, bytes, error)) return false;
    e.size = bytes.size();
    e.crc = crc32Update(0, bytes.data(), bytes.size());
    b.entries.push_back(std::move(e));
    return true;
  }
  if (kind == "delta") {
    e.kind = FileDelta;
    Bytes source, target;
    bool compress = false;
    if (!sourceFields(r, e, error) || !readSource(r, e, base, fromXapk, source, error) ||
        !readNamed(r, "targetFile", base, target, error) || !boolField(r, "compress", compress, error)) {
      return false;
    }
    return addDeltaRecord(b, e, source, target, compress, error);
  }
  if (kind == "bundle") {
    e.kind = BundlePatch;
    Bytes sourceBundle, targetPayload;
    bool compress = false;
    if (!sourceFields(r, e, error) || !readSource(r, e, base, fromXapk, sourceBundle, error) ||
        !boolField(r, "compress", compress, error)) {
      return false;
    }
    if (r.contains("targetPayload")) {
      if (!readNamed(r, "targetPayload", base, targetPayload, error)) return false;
    } else {
      Bytes targetBundle;
      if (!readNamed(r, "targetFile", base, targetBundle, error)) return false;
      if (!decodeBundlePayload(targetBundle, targetPayload, error)) {
        error = "targetFile: " + error;
        return false;
      }
    }
    return addBundleRecord(b, e, sourceBundle, targetPayload, compress, error);
  }
  error = "unknown kind \"" + kind + "\"";
  return false;
}

}  // namespace velmo
