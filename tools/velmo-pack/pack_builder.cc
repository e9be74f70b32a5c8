#include "velmo-pack/pack_builder.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "common/crc32.h"
#include "common/utf8.h"
#include "velmo-pack/release_xapk.h"
#include "velmo-pack/source_records.h"
#include "velmo-pack/tool_io.h"

namespace velmo {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

bool getString(const json& record, const char* key, std::string& out, std::string& error) {
  auto it = record.find(key);
  if (it == record.end() || !it->is_string()) {
    error = std::string("record needs a string \"") + key + "\"";
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool getBool(const json& record, const char* key, bool fallback, bool& out, std::string& error) {
  auto it = record.find(key);
  if (it == record.end()) {
    out = fallback;
    return true;
  }
  if (!it->is_boolean()) {
    error = std::string("\"") + key + "\" must be true or false";
    return false;
  }
  out = it->get<bool>();
  return true;
}

bool readInput(const fs::path& base, const std::string& name, Bytes& out, std::string& error) {
  fs::path p = base / name;
  if (!readFileBytes(p.string(), out)) {
    error = "cannot read " + p.string();
    return false;
  }
  return true;
}

bool addItemRecord(PackBuilder& b, const json& r, uint32_t kind, const fs::path& base, std::string& error) {
  std::string name, file;
  bool compress;
  if (!getString(r, kind == Asset ? "name" : (kind == PackFile ? "path" : "name"), name, error)) return false;
  if (!getBool(r, "compress", false, compress, error)) return false;
  Bytes raw;
  if (r.contains("text")) {  // small generated items, written in place
    std::string text;
    if (!getString(r, "text", text, error)) return false;
    raw.assign(text.begin(), text.end());
  } else if (!getString(r, "file", file, error) || !readInput(base, file, raw, error)) {
    return false;
  }
  PackEntry e;
  e.kind = kind;
  e.name = fromUtf8(kind == Asset ? "asset:" + name : name);
  if (!addPackItem(b, e, raw, compress, error)) return false;
  b.entries.push_back(std::move(e));
  return true;
}

}  // namespace

void beginPack(PackBuilder& b) {
  b.data.assign(kPackDataStart, 0);
  b.entries.clear();
}

uint64_t addPackData(PackBuilder& b, ByteView stored) {
  uint64_t offset = b.data.size();
  b.data.insert(b.data.end(), stored.begin(), stored.end());
  return offset;
}

bool addPackItem(PackBuilder& b, PackEntry& e, ByteView raw, bool compress, std::string& error) {
  e.compressed = compress;
  e.size = raw.size();
  e.crc = crc32Update(0, raw.data(), raw.size());
  if (!compress) {
    e.storedSize = raw.size();
    e.dataOffset = addPackData(b, raw);
    return true;
  }
  Bytes stream;
  if (!encodeBlockStream(raw, stream, error)) return false;
  e.storedSize = stream.size();
  e.dataOffset = addPackData(b, stream);
  return true;
}

Bytes finishPack(PackBuilder& b) {
  Bytes out = b.data;
  uint64_t directoryOffset = out.size();
  for (const auto& e : b.entries) writePackRecord(e, out);
  std::copy(kPackMagic, kPackMagic + 8, out.begin());
  Bytes fields;
  appendLe32(fields, b.formatVersion);
  appendLe32(fields, uint32_t(b.entries.size()));
  appendLe64(fields, directoryOffset);
  std::copy(fields.begin(), fields.end(), out.begin() + 8);
  return out;
}

bool buildPackFromManifest(const std::string& manifestPath, Bytes& pack, std::string& error) {
  std::ifstream in(manifestPath, std::ios::binary);
  if (!in) {
    error = "cannot read manifest " + manifestPath;
    return false;
  }
  json manifest;
  try {
    manifest = json::parse(in);
  } catch (const json::exception& ex) {
    error = "manifest " + manifestPath + " is not valid JSON: " + ex.what();
    return false;
  }
  if (!manifest.is_object() || !manifest.contains("records") || !manifest["records"].is_array()) {
    error = "manifest needs an object with a \"records\" array";
    return false;
  }
  PackBuilder b;
  beginPack(b);
  if (manifest.contains("formatVersion")) {
    if (!manifest["formatVersion"].is_number_unsigned()) {
      error = "\"formatVersion\" must be a whole number";
      return false;
    }
    b.formatVersion = manifest["formatVersion"].get<uint32_t>();
  }
  fs::path base = fs::path(manifestPath).parent_path();
  // Records without a "sourceFile" read their source from this XAPK.
  XapkSource xapk;
  SourceEntryReader fromXapk;
  if (manifest.contains("xapk")) {
    if (!manifest["xapk"].is_string()) {
      error = "\"xapk\" must be a path";
      return false;
    }
    std::string xapkPath = (base / manifest["xapk"].get<std::string>()).string();
    if (!openReleaseXapk(xapk, xapkPath, error)) return false;
    fromXapk = [&xapk](XapkArchive archive, const std::string& entry, Bytes& out, std::string& why) {
      return readXapkEntry(xapk, archive, entry, out, why);
    };
  }
  size_t index = 0;
  for (const auto& r : manifest["records"]) {
    std::string where = "record " + std::to_string(index++) + ": ";
    if (!r.is_object() || !r.contains("kind")) {
      error = where + "needs a \"kind\"";
      return false;
    }
    const json& kind = r["kind"];
    bool ok;
    if (kind.is_number_unsigned()) {
      uint64_t k = kind.get<uint64_t>();
      if (k > 255) {
        error = where + "a numeric kind must be 0 to 255";
        return false;
      }
      ok = addItemRecord(b, r, uint32_t(k), base, error);
    } else if (kind == "asset") {
      ok = addItemRecord(b, r, Asset, base, error);
    } else if (kind == "file") {
      ok = addItemRecord(b, r, PackFile, base, error);
    } else if (kind.is_string()) {
      std::string name = kind.get<std::string>();
      ok = addSourceRecord(b, r, name, base, fromXapk, error);
    } else {
      error = "\"kind\" must be a name or a number";
      ok = false;
    }
    if (!ok) {
      error = where + error;
      closeXapk(xapk);
      return false;
    }
  }
  closeXapk(xapk);
  pack = finishPack(b);
  return true;
}

}  // namespace velmo
