#include "velmo-pack/source_records.h"

#include "common/crc32.h"
#include "common/utf8.h"
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

}  // namespace

bool addSourceRecord(PackBuilder& b, const json& r, const std::string& kind, const std::filesystem::path& base,
                     std::string& error) {
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
  if (kind == "delta" || kind == "bundle") {
    error = "kind \"" + kind + "\" is not supported by this version of the tool";
    return false;
  }
  error = "unknown kind \"" + kind + "\"";
  return false;
}

}  // namespace velmo
