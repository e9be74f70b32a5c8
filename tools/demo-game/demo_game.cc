#include "demo_game.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "common/crc32.h"
#include "common/utf8.h"
#include "pack/pack_loader.h"
#include "patch/unityweb.h"
#include "demo_music.h"
#include "strip_art.h"
#include "velmo-pack/embed.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/pack_maker.h"
#include "velmo-pack/pe_resources.h"
#include "velmo-pack/source_records.h"
#include "velmo-pack/tool_io.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char kApkEntry[] = "com.velmo.harrowmere.apk";
const char kObbEntry[] = "Android/obb/com.velmo.harrowmere/main.107.com.velmo.harrowmere.obb";

struct Rng {
  uint64_t x;
  explicit Rng(uint64_t seed) : x(seed * 0x9E3779B97F4A7C15ull + 0x1234567) {}
  uint32_t next() {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    return uint32_t(x >> 16);
  }
  uint32_t below(uint32_t n) { return n ? next() % n : 0; }
};

// Game-like data: tables of small records, names and text, float-ish runs
// and a little noise, so it compresses the way real assets do.
Bytes gameData(size_t size, uint64_t seed) {
  static const char* words[] = {"frost", "ember", "tower", "vale", "lantern", "mere", "harrow", "dusk",
                                "wind", "shard", "keep", "hollow", "pine", "rook", "veil", "thorn"};
  Rng r(seed);
  Bytes out;
  out.reserve(size + 256);
  while (out.size() < size) {
    switch (r.below(4)) {
      case 0: {  // a record table
        uint32_t n = 8 + r.below(40), id = r.next() & 0xFFFF;
        for (uint32_t i = 0; i < n; ++i) {
          appendLe32(out, id + i);
          appendLe32(out, r.below(16) * 100);
          appendLe32(out, 0x3F800000u + (r.below(64) << 16));
          appendLe32(out, 0);
        }
        break;
      }
      case 1: {  // names and text
        uint32_t n = 4 + r.below(20);
        for (uint32_t i = 0; i < n; ++i) {
          std::string w = std::string(words[r.below(16)]) + "_" + words[r.below(16)] + (r.below(3) ? " " : "\n");
          out.insert(out.end(), w.begin(), w.end());
        }
        break;
      }
      case 2: {  // smooth vertex-like values
        uint32_t n = 16 + r.below(64);
        uint16_t v = uint16_t(r.next());
        for (uint32_t i = 0; i < n; ++i) appendLe16(out, v = uint16_t(v + r.below(9) - 4));
        break;
      }
      default: {  // noise
        uint32_t n = 8 + r.below(48);
        for (uint32_t i = 0; i < n; ++i) out.push_back(uint8_t(r.next()));
      }
    }
  }
  out.resize(size);
  return out;
}

// The Windows build of a file: the Android bytes with scattered edits, a few
// insertions and a changed tail.
Bytes windowsVariant(const Bytes& android, uint64_t seed) {
  Rng r(seed);
  Bytes out;
  out.reserve(android.size() + 1024);
  size_t pos = 0;
  while (pos < android.size()) {
    size_t run = std::min<size_t>(android.size() - pos, 2048 + r.below(30000));
    out.insert(out.end(), android.begin() + long(pos), android.begin() + long(pos + run));
    pos += run;
    switch (r.below(3)) {
      case 0:  // a few changed bytes
        for (int k = 0; k < 4 && !out.empty(); ++k) out[out.size() - 1 - r.below(uint32_t(std::min<size_t>(out.size(), 64)))] ^= 0x5A;
        break;
      case 1:  // an inserted field
        for (int k = 0; k < 12; ++k) out.push_back(uint8_t(r.next()));
        break;
      default:  // a dropped field
        pos = std::min(android.size(), pos + 8);
    }
  }
  std::string tail = "win64 build\n";
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::string hexName(uint64_t i) {
  Rng r(i + 99);
  char buf[33];
  for (int k = 0; k < 4; ++k) std::snprintf(buf + k * 8, 9, "%08x", r.next());
  return buf;
}

std::string packToNative(const std::string& packPath) {
  std::string s = packPath;
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool writeZip(const std::string& path, const std::vector<std::pair<std::string, const Bytes*>>& entries, bool deflate) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) return false;
  for (const auto& [name, bytes] : entries) {
    zip_source_t* src = zip_source_buffer(z, bytes->data(), bytes->size(), 0);
    zip_int64_t idx = zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8);
    if (idx < 0 || zip_set_file_compression(z, uint64_t(idx), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0) {
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

struct Plan {
  std::vector<std::pair<std::string, size_t>> packFiles;  // output path, size
  std::vector<std::pair<std::string, size_t>> deltas;      // apk entry name under assets/bin/Data/, size
  std::vector<std::pair<std::string, size_t>> bundles;     // bundle name, decoded size
};

Plan makePlan(DemoScale scale) {
  Plan p;
  const size_t kFull[] = {622, 205, 9152512, 472576, 2495488, 58196, 17259, 1605, 60453, 27626, 2618, 11686,
                          311984, 1691, 25817, 2086912, 3970517, 0, 178176};
  const char* names[] = {"VELMO-1080p.bat", "VELMO.bat", "VELMO.exe", "VELMO_Data\\Managed\\UnityEngine.dll",
                         "VELMO_Data\\Managed\\mscorlib.dll",
                         "VELMO_Data\\Mono\\etc\\mono\\1.0\\DefaultWsdlHelpGenerator.aspx",
                         "VELMO_Data\\Mono\\etc\\mono\\1.0\\machine.config",
                         "VELMO_Data\\Mono\\etc\\mono\\2.0\\Browsers\\Compat.browser",
                         "VELMO_Data\\Mono\\etc\\mono\\2.0\\DefaultWsdlHelpGenerator.aspx",
                         "VELMO_Data\\Mono\\etc\\mono\\2.0\\machine.config", "VELMO_Data\\Mono\\etc\\mono\\2.0\\settings.map",
                         "VELMO_Data\\Mono\\etc\\mono\\2.0\\web.config", "VELMO_Data\\Mono\\etc\\mono\\browscap.ini",
                         "VELMO_Data\\Mono\\etc\\mono\\config", "VELMO_Data\\Mono\\etc\\mono\\mconfig\\config.xml",
                         "VELMO_Data\\Mono\\mono.dll", "VELMO_Data\\Resources\\unity default resources",
                         "VELMO_Data\\StreamingAssets\\bg.png", "version.dll"};
  size_t fileCount = scale == DemoScale::Small ? 0 : 19;
  if (scale == DemoScale::Small) {
    p.packFiles = {{"VELMO-1080p.bat", 622}, {"VELMO.bat", 205}, {"VELMO.exe", 150000},
                   {"VELMO_Data\\Managed\\UnityEngine.dll", 40000}, {"VELMO_Data\\StreamingAssets\\bg.png", 0},
                   {"version.dll", 9000}};
  }
  for (size_t i = 0; i < fileCount; ++i) p.packFiles.push_back({names[i], kFull[i]});

  Rng r(7);
  size_t deltaCount = scale == DemoScale::Small ? 6 : scale == DemoScale::Medium ? 60 : 209;
  p.deltas.push_back({"mainData", 39008});
  p.deltas.push_back({"level0", 4640});
  for (size_t i = 2; i < deltaCount; ++i) {
    size_t size = scale == DemoScale::Small ? 500 + r.below(20000) : 28 + r.below(r.below(4) ? 60000 : 1500000);
    p.deltas.push_back({hexName(i), size});
  }
  if (scale == DemoScale::Full) p.deltas[5].second = 5049720;

  p.bundles.push_back({"TITMN01A.unity3d", scale == DemoScale::Small ? 120000 : 2500000});
  p.bundles.push_back({"AC001_01A_Face.unity3d", scale == DemoScale::Small ? 60000 : 808644});
  size_t bundleCount = scale == DemoScale::Small ? 4 : scale == DemoScale::Medium ? 40 : 255;
  for (size_t i = p.bundles.size(); i < bundleCount; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "CHR%03zu_%02uA.unity3d", i, r.below(40));
    size_t size = scale == DemoScale::Small ? 20000 + r.below(200000)
                  : scale == DemoScale::Medium ? 2000000 + r.below(14000000)
                                               : 100000 + r.below(r.below(3) ? 800000 : 3000000);
    p.bundles.push_back({name, size});
  }
  if (scale == DemoScale::Full) {  // the large ones that need two segments
    for (size_t i = 0; i < 7; ++i) p.bundles[10 + i * 30].second = 26000000 + i * 2500000;
    p.bundles[10].first = "COMBG01A.unity3d";
    p.bundles[10].second = 41948696;
  }
  return p;
}

}  // namespace

bool makeDemoGame(const DemoOptions& o, std::string& error) {
  const fs::path out = o.outDir;
  std::error_code ec;
  fs::remove_all(out / "expected", ec);
  fs::remove_all(out / "pack-src", ec);
  fs::create_directories(out / "expected", ec);
  fs::create_directories(out / "pack-src", ec);
  if (ec) {
    error = "cannot create " + out.string();
    return false;
  }
  crc32InitTable();
  Plan plan = makePlan(o.scale);
  const fs::path src = out / "pack-src";
  auto save = [&](const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path(), ec);
    if (!writeFileBytes(path.string(), bytes)) {
      error = "cannot write " + path.string();
      return false;
    }
    return true;
  };

  // What the Windows tree holds, by output path; sorted at the end.
  std::map<std::string, json> records;
  PackBuilder builder;
  beginPack(builder);
  std::map<std::string, PackEntry> entriesByPath;
  auto keep = [&](const std::string& path, json record) {
    records[path] = std::move(record);
    entriesByPath[path] = builder.entries.back();
    builder.entries.pop_back();
  };

  Bytes png = drawStripArtPng(420, 640);
  uint64_t seed = 1;
  for (auto& [path, size] : plan.packFiles) {
    Bytes bytes;
    bool compress = !o.plainItems;
    if (path == "VELMO_Data\\StreamingAssets\\bg.png") {
      bytes = png, compress = false;
    } else if (path == "VELMO.bat") {
      std::string t = "@echo off\r\nrem Starts Harrowmere (Windows build)\r\nstart \"\" \"%~dp0VELMO.exe\" %*\r\n";
      t.resize(size, ' ');
      bytes.assign(t.begin(), t.end()), compress = false;
    } else if (path == "VELMO-1080p.bat") {
      std::string t = "@echo off\r\nrem Starts Harrowmere at 1920x1080\r\nstart \"\" \"%~dp0VELMO.exe\" "
                      "-screen-width 1920 -screen-height 1080 -screen-fullscreen 1\r\n";
      t.resize(size, ' ');
      bytes.assign(t.begin(), t.end());
    } else {
      bytes = gameData(size, seed++);
    }
    std::string file = "win/" + packToNative(path);
    if (!save(out / "expected" / packToNative(path), bytes) || !save(src / file, bytes)) return false;
    PackEntry e;
    e.kind = PackFile;
    e.name = fromUtf8(path);
    if (!addPackItem(builder, e, bytes, compress, error)) return false;
    builder.entries.push_back(e);
    keep(path, {{"kind", "file"}, {"path", path}, {"file", file}, {"compress", compress}});
  }

  // The APK: files the deltas start from, two copied unchanged, and others.
  std::vector<std::pair<std::string, Bytes>> apk;
  Bytes systemCore = gameData(o.scale == DemoScale::Small ? 30000 : 268288, 900);
  Bytes monoSecurity = gameData(o.scale == DemoScale::Small ? 12000 : 290304, 901);
  apk.push_back({"AndroidManifest.xml", gameData(3000, 902)});
  apk.push_back({"classes.dex", gameData(o.scale == DemoScale::Small ? 20000 : 900000, 903)});
  apk.push_back({"assets/bin/Data/Managed/System.Core.dll", systemCore});
  apk.push_back({"assets/bin/Data/Managed/Mono.Security.dll", monoSecurity});
  for (auto [name, target] : {std::pair{"System.Core.dll", &systemCore}, std::pair{"Mono.Security.dll", &monoSecurity}}) {
    std::string path = std::string("VELMO_Data\\Managed\\") + name;
    std::string file = "win/" + packToNative(path);
    if (!save(out / "expected" / packToNative(path), *target) || !save(src / file, *target)) return false;
    PackEntry e;
    e.kind = ArchiveCopy;
    e.source = XapkArchive::Apk;
    e.sourceName = fromUtf8(std::string("assets/bin/Data/Managed/") + name);
    e.targetPath = fromUtf8(path);
    e.size = target->size();
    e.crc = crc32Update(0, target->data(), target->size());
    builder.entries.push_back(e);
    keep(path, {{"kind", "copy"}, {"archive", "apk"}, {"source", toUtf8(e.sourceName)}, {"target", path}, {"file", file}});
  }
  for (size_t i = 0; i < plan.deltas.size(); ++i) {
    auto& [name, size] = plan.deltas[i];
    Bytes android = gameData(size, 2000 + i);
    Bytes windows = windowsVariant(android, 3000 + i);
    std::string entry = "assets/bin/Data/" + name;
    std::string path = "VELMO_Data\\" + name;
    apk.push_back({entry, android});
    if (!save(out / "expected" / packToNative(path), windows) || !save(src / ("apk/" + name), android) ||
        !save(src / ("win/" + packToNative(path)), windows)) {
      return false;
    }
    bool compress = i == 2 && !o.plainItems;  // one compressed blob, as in the shipped pack
    PackEntry e;
    e.source = XapkArchive::Apk;
    e.sourceName = fromUtf8(entry);
    e.targetPath = fromUtf8(path);
    if (!addDeltaRecord(builder, e, android, windows, compress, error)) return false;
    keep(path, {{"kind", "delta"}, {"archive", "apk"}, {"source", entry}, {"target", path},
                {"sourceFile", "apk/" + name}, {"targetFile", "win/" + packToNative(path)}, {"compress", compress}});
  }

  // The OBB: bundles compressed with settings other than ours.
  std::vector<std::pair<std::string, Bytes>> obb;
  LzmaEncoderSettings theirs;
  theirs.preset = 1, theirs.dictionarySize = 1 << 20, theirs.niceLength = 64;
  theirs.matchFinder = LzmaMatchFinder::Hc4, theirs.mode = LzmaMode::Fast;
  for (size_t i = 0; i < plan.bundles.size(); ++i) {
    auto& [name, size] = plan.bundles[i];
    Bytes payload = gameData(size, 5000 + i);
    Bytes targetPayload = windowsVariant(payload, 6000 + i);
    UnityWebBuildOptions bo;
    bo.encoder = theirs;
    Bytes sourceBundle;
    if (!buildUnityWebBundle(payload, bo, sourceBundle)) {
      error = "cannot build bundle " + name;
      return false;
    }
    payload = Bytes();
    std::string path = "VELMO_Data\\StreamingAssets\\" + name;
    PackEntry e;
    e.source = XapkArchive::Obb;
    e.sourceName = fromUtf8(name);
    e.targetPath = fromUtf8(path);
    Bytes rebuilt;
    bool compress = i == 1 && !o.plainItems;
    if (!addBundleRecord(builder, e, sourceBundle, targetPayload, compress, error, &rebuilt)) return false;
    if (!save(out / "expected" / packToNative(path), rebuilt) || !save(src / ("obb/" + name), sourceBundle) ||
        !save(src / ("payload/" + name + ".bin"), targetPayload)) {
      return false;
    }
    keep(path, {{"kind", "bundle"}, {"archive", "obb"}, {"source", name}, {"target", path},
                {"sourceFile", "obb/" + name}, {"targetPayload", "payload/" + name + ".bin"}, {"compress", compress}});
    obb.push_back({name, std::move(sourceBundle)});
  }

  // Assets first, then every other record in byte-wise order of output path.
  std::string info = std::string("name=VELMO\nversion=1.0.7\napk_entry=") + kApkEntry + "\nobb_entry=" + kObbEntry + "\n";
  auto findApk = [&](const std::string& n) -> const Bytes& {
    for (auto& [k, v] : apk)
      if (k == n) return v;
    return apk[0].second;
  };
  auto line = [](int archive, const std::string& name, const Bytes& b) {
    char buf[300];
    std::snprintf(buf, sizeof buf, "%d|%s|%zu|%08X\n", archive, name.c_str(), b.size(), crc32Update(0, b.data(), b.size()));
    return std::string(buf);
  };
  std::string fingerprint = line(1, "assets/bin/Data/mainData", findApk("assets/bin/Data/mainData")) +
                            line(1, "assets/bin/Data/Managed/System.Core.dll", systemCore) +
                            line(1, "assets/bin/Data/level0", findApk("assets/bin/Data/level0")) +
                            line(2, "TITMN01A.unity3d", obb[0].second);
  std::vector<std::tuple<std::string, Bytes, bool>> assets = {
      {"bg.png", png, false}, {"xapk_info", Bytes(info.begin(), info.end()), true},
      {"xapk_fingerprint", Bytes(fingerprint.begin(), fingerprint.end()), false}};
  if (o.music) {
    Bytes intro, loop;
    composeDemoMusic(intro, loop);
    assets.push_back({"music_a.pcm", intro, true});
    assets.push_back({"music_b.pcm", loop, true});
  }
  json manifest = {{"formatVersion", 2}, {"records", json::array()}};
  for (auto& [name, bytes, compress] : assets) {
    compress = compress && !o.plainItems;
    if (!save(src / ("assets/" + name), bytes)) return false;
    manifest["records"].push_back({{"kind", "asset"}, {"name", name}, {"file", "assets/" + name}, {"compress", compress}});
  }
  // The hand-made road: a manifest naming every record, kept beside the
  // inputs it names for comparison with the pack that make chooses.
  for (auto& [path, record] : records) manifest["records"].push_back(record);
  builder = PackBuilder();
  entriesByPath.clear();
  if (!writeFileBytes((src / "hand-manifest.json").string(), [&] {
        std::string t = manifest.dump(1);
        return Bytes(t.begin(), t.end());
      }())) {
    error = "cannot write the manifest";
    return false;
  }

  // The XAPK: the APK deflated, the OBB's bundles stored, both stored in the XAPK.
  std::vector<std::pair<std::string, const Bytes*>> apkList, obbList;
  for (auto& [n, b] : apk) apkList.push_back({n, &b});
  for (auto& [n, b] : obb) obbList.push_back({n, &b});
  std::string apkZip = (out / "apk.tmp").string(), obbZip = (out / "obb.tmp").string();
  if (!writeZip(apkZip, apkList, true) || !writeZip(obbZip, obbList, false)) {
    error = "cannot write the inner archives";
    return false;
  }
  obb.clear();
  Bytes apkBytes, obbBytes;
  readFileBytes(apkZip, apkBytes);
  readFileBytes(obbZip, obbBytes);
  std::string manifestJson = "{\"package_name\": \"com.velmo.harrowmere\", \"version_name\": \"1.0.7\"}";
  Bytes xapkManifest(manifestJson.begin(), manifestJson.end());
  if (!writeZip((out / "harrowmere-1.0.7.xapk").string(),
                {{"manifest.json", &xapkManifest}, {"icon.png", &png}, {kApkEntry, &apkBytes}, {kObbEntry, &obbBytes}},
                false)) {
    error = "cannot write the XAPK";
    return false;
  }
  fs::remove(apkZip, ec), fs::remove(obbZip, ec);

  // The pack comes from the two releases, as a pack maker makes it.
  MakeOptions make;
  make.xapkPath = (out / "harrowmere-1.0.7.xapk").string();
  make.gameFolder = (out / "expected").string();
  make.packPath = (out / "pack.bin").string();
  make.manifestOut = (src / "manifest.json").string();
  make.plainItems = o.plainItems;
  for (auto& [name, bytes, compress] : assets) {
    if (name != "xapk_info" && name != "xapk_fingerprint") make.assets.push_back({name, (src / ("assets/" + name)).string()});
  }
  MakeSummary made;
  Bytes pack;
  if (!makePack(make, made, error) || !readFileBytes(make.packPath, pack)) {
    error = "making the pack: " + (error.empty() ? "cannot read " + make.packPath : error);
    return false;
  }

  if (!o.patcherPath.empty()) {
    Bytes patcher;
    if (!readFileBytes(o.patcherPath, patcher)) {
      error = "cannot read the patcher " + o.patcherPath;
      return false;
    }
    if (!embedPack(patcher, pack, error)) {
      error = o.patcherPath + ": " + error;
      return false;
    }
    fs::path exe = out / (isPeImage(patcher) ? "VELMO Patcher.exe" : "velmo-patcher");
    if (!save(exe, patcher)) return false;
    fs::permissions(exe, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec, ec);
  }
  return true;
}

}  // namespace velmo
