#include "velmo-pack/pack_maker.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/crc32.h"
#include "common/utf8.h"
#include "install/install_driver.h"
#include "install/install_job.h"
#include "patch/lzma_raw.h"
#include "patch/unityweb.h"
#include "platform/folder_tree.h"
#include "platform/platform.h"
#include "velmo-pack/game_tree.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/release_xapk.h"
#include "velmo-pack/source_records.h"
#include "velmo-pack/tool_io.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Delta sources tried per file: the same path under the data folder, then
// entries of the same name.
constexpr size_t kMaxDeltaSources = 4;
// OBB bundles tried for a bundle that has no namesake in the OBB, nearest in
// size first.
constexpr size_t kMaxNamelessBundleSources = 2;
// A bundle record this much smaller than the file is not beaten by a delta
// of the compressed bytes or by LZMS over LZMA data; those are not tried.
constexpr uint64_t kBundleClearWinRatio = 8;
constexpr size_t kWriteChunk = size_t(1) << 20;

struct SourceEntry {
  XapkArchive archive = XapkArchive::Apk;
  std::string name;
  uint64_t size = 0;
  uint32_t crc = 0;
};

struct Recipe {
  uint32_t kind = PackFile;
  XapkArchive archive = XapkArchive::Apk;
  std::string source;
  bool compress = false;
  uint64_t cost = 0;  // bytes the record adds to the pack
};

struct FilePlan {
  std::vector<Recipe> ranked;  // every recipe that reproduced, smallest first
  size_t chosen = 0;
  PackBuilder built;  // the chosen recipe's record and stored bytes
  std::string fallback;  // why a bundle got another recipe
};

// The Windows bundle decoded and re-encoded once, for every source tried.
struct BundleTarget {
  Bytes payload;
  Bytes encoded;
};

struct Maker {
  explicit Maker(const MakeOptions& options) : o(options) {}
  const MakeOptions& o;
  XapkSource xapk;
  std::mutex readLock;  // the archive readers are not shared between threads
  std::vector<SourceEntry> sources;  // APK entries, then OBB entries
  std::vector<GameFile> files;
  std::vector<FilePlan> plans;
  std::mutex progressLock;
  uint64_t done = 0, total = 0;
};

struct AssetItem {
  std::string name;
  std::string file;  // empty for generated text
  Bytes bytes;
};

const char* archiveName(XapkArchive a) { return a == XapkArchive::Apk ? "apk" : "obb"; }

std::string baseName(const std::string& path, char separator) {
  size_t at = path.rfind(separator);
  return at == std::string::npos ? path : path.substr(at + 1);
}

// "VELMO_Data\Managed\x.dll" is "assets/bin/Data/Managed/x.dll" in the APK.
std::string dataFolderEntry(const std::string& outputPath) {
  size_t at = outputPath.find('\\');
  if (at == std::string::npos || at < 5 || outputPath.compare(at - 5, 5, "_Data") != 0) return "";
  std::string rest = outputPath.substr(at + 1);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return "assets/bin/Data/" + rest;
}

bool isAlwaysFile(const std::string& outputPath) {
  return outputPath == toUtf8(kStripArtName) || outputPath == toUtf8(kLauncherName);
}

bool readSource(Maker& m, XapkArchive archive, const std::string& name, Bytes& out, std::string& error) {
  std::lock_guard<std::mutex> lock(m.readLock);
  return readXapkEntry(m.xapk, archive, name, out, error);
}

uint64_t recordCost(const PackBuilder& b) {
  Bytes records;
  for (const auto& e : b.entries) writePackRecord(e, records);
  return b.data.size() - kPackDataStart + records.size();
}

// The same record with its item stored as an LZMS block stream.
bool compressedTwin(const PackBuilder& plain, PackBuilder& twin, std::string& error) {
  PackEntry e = plain.entries.at(0);
  Bytes stream;
  if (!encodeBlockStream(ByteView(plain.data).subspan(size_t(e.dataOffset), size_t(e.storedSize)), stream, error)) {
    return false;
  }
  beginPack(twin);
  e.compressed = true;
  e.storedSize = stream.size();
  e.dataOffset = addPackData(twin, stream);
  twin.entries.push_back(std::move(e));
  return true;
}

bool decodeAndReencode(ByteView bundle, BundleTarget& t, std::string& why) {
  std::string error;
  if (!decodeBundlePayload(bundle, t.payload, error)) {
    why = "its LZMA data does not decode";
    return false;
  }
  if (!lzmaEncodeRaw(t.payload, t.encoded)) {
    why = "the LZMA encoder failed";
    return false;
  }
  return true;
}

// Builds one recipe's record into out. source holds the APK or OBB entry for
// the recipes that read one; a bundle recipe must rebuild exactly target.
bool buildRecipe(const GameFile& f, ByteView target, const Recipe& r, ByteView source, const BundleTarget* bundle,
                 PackBuilder& out, std::string& error) {
  beginPack(out);
  PackEntry e;
  if (r.kind == PackFile) {
    e.kind = PackFile;
    e.name = fromUtf8(f.outputPath);
    if (!addPackItem(out, e, target, r.compress, error)) return false;
    out.entries.push_back(std::move(e));
    return true;
  }
  e.source = r.archive;
  e.sourceName = fromUtf8(r.source);
  e.targetPath = fromUtf8(f.outputPath);
  if (r.kind == ArchiveCopy) {
    e.kind = ArchiveCopy;
    e.size = target.size();
    e.crc = crc32Update(0, target.data(), target.size());
    out.entries.push_back(std::move(e));
    return true;
  }
  if (r.kind == FileDelta) return addDeltaRecord(out, e, source, target, r.compress, error);
  BundleTarget own;
  if (!bundle) {
    if (!decodeAndReencode(target, own, error)) return false;
    bundle = &own;
  }
  Bytes rebuilt;
  if (!addBundleRecord(out, e, source, bundle->payload, r.compress, error, &rebuilt, &bundle->encoded)) return false;
  if (ByteView(rebuilt).size() != target.size() || !std::equal(rebuilt.begin(), rebuilt.end(), target.begin())) {
    error = "the rebuilt header differs";
    return false;
  }
  return true;
}

// Every recipe that reproduces f, ranked by the bytes it adds.
bool chooseRecipes(Maker& m, size_t index, std::string& error) {
  const GameFile& f = m.files[index];
  FilePlan& plan = m.plans[index];
  Bytes target;
  if (!readFileBytes(f.nativePath, target)) {
    error = "cannot read " + f.nativePath;
    return false;
  }
  const bool twins = !m.o.plainItems;
  uint64_t bestCost = UINT64_MAX;
  auto offer = [&](const Recipe& r, PackBuilder& built) {
    Recipe ranked = r;
    ranked.cost = recordCost(built);
    plan.ranked.push_back(ranked);
    if (ranked.cost < bestCost) {
      bestCost = ranked.cost;
      plan.built = std::move(built);
    }
  };
  // The recipe as built, then stored compressed when that is allowed.
  auto offerBoth = [&](Recipe r, PackBuilder& built, bool tryTwin) {
    PackBuilder twin;
    bool haveTwin = tryTwin && twins && compressedTwin(built, twin, error);
    if (tryTwin && twins && !haveTwin) return false;
    offer(r, built);
    if (haveTwin) {
      r.compress = true;
      offer(r, twin);
    }
    return true;
  };

  bool bundleClearWin = false, copied = false;
  if (!isAlwaysFile(f.outputPath)) {
    uint32_t crc = crc32Update(0, target.data(), target.size());
    for (const SourceEntry& s : m.sources) {
      if (s.size != target.size() || s.crc != crc) continue;
      Bytes bytes;
      if (!readSource(m, s.archive, s.name, bytes, error)) return false;
      if (bytes != target) continue;
      Recipe r{ArchiveCopy, s.archive, s.name};
      PackBuilder built;
      if (!buildRecipe(f, target, r, {}, nullptr, built, error)) return false;
      offer(r, built);
      copied = true;
      break;
    }
    UnityWebHeader header;
    if (!copied && parseUnityWebHeader(target, header)) {
      BundleTarget bt;
      std::string why;
      std::vector<const SourceEntry*> candidates;
      if (header.dictionarySize != kRebuiltLzmaDictionarySize || header.lc != 3 || header.lp != 0 ||
          header.pb != 2) {
        why = "its LZMA settings are not the patcher's";
      } else if (decodeAndReencode(target, bt, why)) {
        ByteView data = unityWebLzmaData(target, header);
        if (bt.encoded.size() != data.size() || !std::equal(bt.encoded.begin(), bt.encoded.end(), data.begin())) {
          why = "the patcher's LZMA settings do not re-encode it to its bytes";
        } else {
          std::string name = baseName(f.outputPath, '\\');
          for (const SourceEntry& s : m.sources) {
            if (s.archive != XapkArchive::Apk && baseName(s.name, '/') == name) candidates.push_back(&s);
          }
          if (candidates.empty()) {
            for (const SourceEntry& s : m.sources) {
              if (s.archive != XapkArchive::Apk) candidates.push_back(&s);
            }
            auto distance = [&](const SourceEntry* s) {
              return s->size > target.size() ? s->size - target.size() : target.size() - s->size;
            };
            std::stable_sort(candidates.begin(), candidates.end(),
                             [&](auto* a, auto* b) { return distance(a) < distance(b); });
            if (candidates.size() > kMaxNamelessBundleSources) candidates.resize(kMaxNamelessBundleSources);
          }
          why = candidates.empty() ? "the OBB holds no bundle to patch" : "no OBB bundle rebuilds its header";
        }
      }
      bool reproduced = false;
      for (const SourceEntry* s : candidates) {
        Bytes source;
        if (!readSource(m, s->archive, s->name, source, error)) return false;
        Recipe r{BundlePatch, s->archive, s->name};
        PackBuilder built;
        std::string notThis;
        if (!buildRecipe(f, target, r, source, &bt, built, notThis)) continue;
        if (!offerBoth(r, built, true)) return false;
        reproduced = true;
      }
      if (!reproduced) plan.fallback = why;
      bundleClearWin = reproduced && bestCost <= target.size() / kBundleClearWinRatio;
    }
    if (!copied && !bundleClearWin) {
      std::vector<const SourceEntry*> candidates;
      std::string mapped = dataFolderEntry(f.outputPath), name = baseName(f.outputPath, '\\');
      for (int pass = 0; pass < 2; ++pass) {
        for (const SourceEntry& s : m.sources) {
          bool fits = pass == 0 ? !mapped.empty() && s.name == mapped : baseName(s.name, '/') == name;
          if (fits && std::find(candidates.begin(), candidates.end(), &s) == candidates.end() &&
              candidates.size() < kMaxDeltaSources) {
            candidates.push_back(&s);
          }
        }
      }
      for (const SourceEntry* s : candidates) {
        Bytes source;
        if (!readSource(m, s->archive, s->name, source, error)) return false;
        Recipe r{FileDelta, s->archive, s->name};
        PackBuilder built;
        std::string notThis;
        if (!buildRecipe(f, target, r, source, nullptr, built, notThis)) continue;
        if (!offerBoth(r, built, true)) return false;
      }
    }
  }
  // Storing the file always reproduces it: the last resort of every file.
  Recipe stored;  // a PackFile
  PackBuilder built;
  if (!buildRecipe(f, target, stored, {}, nullptr, built, error)) return false;
  if (!offerBoth(stored, built, !bundleClearWin)) return false;
  std::stable_sort(plan.ranked.begin(), plan.ranked.end(),
                   [](const Recipe& a, const Recipe& b) { return a.cost < b.cost; });
  plan.chosen = 0;
  return true;
}

// After the proof install: the file's next recipe.
bool rebuildChosen(Maker& m, size_t index, std::string& error) {
  const GameFile& f = m.files[index];
  FilePlan& plan = m.plans[index];
  const Recipe& r = plan.ranked[plan.chosen];
  Bytes target, source;
  if (!readFileBytes(f.nativePath, target)) {
    error = "cannot read " + f.nativePath;
    return false;
  }
  if ((r.kind == FileDelta || r.kind == BundlePatch) && !readSource(m, r.archive, r.source, source, error)) {
    return false;
  }
  if (!buildRecipe(f, target, r, source, nullptr, plan.built, error)) {
    error = f.outputPath + ": " + error;
    return false;
  }
  return true;
}

void report(Maker& m, const std::string& what, uint64_t add) {
  if (!m.o.progress) return;
  std::lock_guard<std::mutex> lock(m.progressLock);
  m.done += add;
  m.o.progress(what, m.done, m.total);
}

bool chooseAll(Maker& m, std::string& error) {
  std::vector<size_t> order(m.files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // The largest first, so no worker is left with a big file at the end.
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return m.files[a].size > m.files[b].size; });
  for (const auto& f : m.files) m.total += f.size;
  unsigned workers = m.o.workers ? m.o.workers : std::max(1u, std::thread::hardware_concurrency());
  workers = unsigned(std::min<size_t>(workers, order.size()));
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorLock;
  size_t firstFailure = SIZE_MAX;
  auto work = [&] {
    for (size_t k; !failed && (k = next++) < order.size();) {
      size_t i = order[k];
      report(m, m.files[i].outputPath, 0);
      std::string why;
      if (!chooseRecipes(m, i, why)) {
        std::lock_guard<std::mutex> lock(errorLock);
        // The same failure whatever the timing: the first file in order.
        if (i < firstFailure) firstFailure = i, error = why;
        failed = true;
      }
      report(m, m.files[i].outputPath, m.files[i].size);
    }
  };
  std::vector<std::thread> threads;
  for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();
  return !failed;
}

void appendRecords(PackBuilder& pack, const PackBuilder& part) {
  for (PackEntry e : part.entries) {
    if (e.kind != ArchiveCopy) {
      e.dataOffset = addPackData(pack, ByteView(part.data).subspan(size_t(e.dataOffset), size_t(e.storedSize)));
    }
    pack.entries.push_back(std::move(e));
  }
}

// The asset, compressed only where that is smaller.
bool buildAsset(const Maker& m, const AssetItem& a, PackBuilder& out, std::string& error) {
  PackBuilder plain, twin;
  beginPack(plain);
  PackEntry e;
  e.kind = Asset;
  e.name = fromUtf8("asset:" + a.name);
  if (!addPackItem(plain, e, a.bytes, false, error)) return false;
  plain.entries.push_back(e);
  if (!m.o.plainItems) {
    if (!compressedTwin(plain, twin, error)) return false;
    if (recordCost(twin) < recordCost(plain)) return out = std::move(twin), true;
  }
  out = std::move(plain);
  return true;
}

std::string fingerprintText(const Maker& m) {
  std::string text;
  std::vector<std::pair<XapkArchive, std::string>> listed;
  for (const FilePlan& plan : m.plans) {
    const Recipe& r = plan.ranked[plan.chosen];
    if (r.kind == PackFile) continue;
    std::pair<XapkArchive, std::string> key{r.archive, r.source};
    if (std::find(listed.begin(), listed.end(), key) != listed.end()) continue;
    listed.push_back(key);
    for (const SourceEntry& s : m.sources) {
      if (s.archive != r.archive || s.name != r.source) continue;
      char line[64];
      std::snprintf(line, sizeof line, "|%llu|%08X\n", (unsigned long long)s.size, s.crc);
      text += std::to_string(s.archive == XapkArchive::Apk ? 1 : 2) + "|" + s.name + line;
      break;
    }
  }
  return text;
}

std::vector<AssetItem> packAssets(const Maker& m, const std::vector<AssetItem>& given) {
  std::string info = "name=VELMO\nversion=1.0.7\napk_entry=" + toUtf8(m.xapk.apkEntry) +
                     "\nobb_entry=" + toUtf8(m.xapk.obbEntry) + "\n";
  std::string fingerprint = fingerprintText(m);
  std::vector<AssetItem> assets;
  // The strip art first, then what describes the XAPK, then the rest.
  for (const auto& a : given) {
    if (a.name == "bg.png") assets.push_back(a);
  }
  assets.push_back({"xapk_info", "", Bytes(info.begin(), info.end())});
  assets.push_back({"xapk_fingerprint", "", Bytes(fingerprint.begin(), fingerprint.end())});
  for (const auto& a : given) {
    if (a.name != "bg.png") assets.push_back(a);
  }
  return assets;
}

bool assemble(const Maker& m, const std::vector<AssetItem>& assets, Bytes& container, json* manifest,
              std::string& error) {
  PackBuilder pack;
  beginPack(pack);
  json records = json::array();
  for (const AssetItem& a : assets) {
    PackBuilder part;
    if (!buildAsset(m, a, part, error)) return false;
    appendRecords(pack, part);
    json r = {{"kind", "asset"}, {"name", a.name}, {"compress", part.entries[0].compressed}};
    if (a.file.empty()) {
      r["text"] = std::string(a.bytes.begin(), a.bytes.end());
    } else {
      r["file"] = fs::absolute(a.file).string();
    }
    records.push_back(r);
  }
  for (size_t i = 0; i < m.files.size(); ++i) {
    const FilePlan& plan = m.plans[i];
    const Recipe& r = plan.ranked[plan.chosen];
    appendRecords(pack, plan.built);
    std::string file = fs::absolute(m.files[i].nativePath).string();
    const std::string& path = m.files[i].outputPath;
    if (r.kind == PackFile) {
      records.push_back({{"kind", "file"}, {"path", path}, {"file", file}, {"compress", r.compress}});
      continue;
    }
    json rec = {{"archive", archiveName(r.archive)}, {"source", r.source}, {"target", path}};
    if (r.kind == ArchiveCopy) {
      rec["kind"] = "copy", rec["file"] = file;
    } else {
      rec["kind"] = r.kind == FileDelta ? "delta" : "bundle";
      rec["targetFile"] = file, rec["compress"] = r.compress;
    }
    records.push_back(rec);
  }
  container = finishPack(pack);
  if (manifest) {
    *manifest = {{"formatVersion", pack.formatVersion},
                 {"xapk", fs::absolute(m.o.xapkPath).string()},
                 {"records", records}};
  }
  return true;
}

std::wstring makePrivateTempFolder() {
  const PlatformOps& os = platform();
  std::wstring base = os.tempFolder();
  if (base.empty()) return L"";
  for (uint32_t attempt = 0; attempt < 64; ++attempt) {
    std::wstring path = joinPath(base, L"velmo-pack-" + std::to_wstring(os.processId()) + L"-" +
                                           std::to_wstring((os.tickCount() + attempt * 7919u) % 1000000u));
    if (os.createPrivateDirectory(path)) return path;
  }
  return L"";
}

bool sameFileBytes(const std::string& a, const std::string& b) {
  Bytes x, y;
  return readFileBytes(a, x) && readFileBytes(b, y) && x == y;
}

// Installs from the XAPK with the pack through the patcher's own install
// code into a private folder and compares the result with the game folder.
// bad receives the files that did not come out right; false when the
// install cannot tell (no file to blame).
bool proveInstall(Maker& m, ByteView container, std::vector<size_t>& bad, std::string& error) {
  Bytes digest(32);
  PatchPack pack;
  if (!sha256(container, digest.data()) || !loadPatchPackFrom(container, digest, pack)) {
    error = "the made pack does not load";
    return false;
  }
  std::wstring temp = makePrivateTempFolder();
  if (temp.empty()) {
    error = "cannot create a temporary folder for the proof install";
    return false;
  }
  struct RemoveAfter {
    std::wstring path;
    ~RemoveAfter() { removeTree(path); }
  } removeAfter{temp};
  XapkSource source;
  std::wstring text;
  if (!openAndCheckXapk(source, pack, fromUtf8(m.o.xapkPath), text)) {
    error = "the proof install refuses the XAPK: " + oneLine(text);
    return false;
  }
  InstallOptions options;
  options.destinationFolder = joinPath(temp, L"game");
  InstallState state;
  InstallContext job;
  bindInstallJob(job, pack, source, options, state);
  std::atomic<bool> finished{false};
  bool ok = false;
  std::thread installer([&] {
    ok = runInstallHere(job);
    finished = true;
  });
  while (!finished) {
    if (m.o.progress) {
      m.o.progress("proof install: " + toUtf8(copyCurrentFile(state)), state.bytesDone, state.bytesTotal);
    }
    platform().sleepMs(100);
  }
  installer.join();
  closeXapk(source);
  if (!ok) {
    std::string failedAt = toUtf8(copyCurrentFile(state));
    for (size_t i = 0; i < m.files.size(); ++i) {
      if (m.files[i].outputPath == failedAt) {
        bad.push_back(i);
        return true;
      }
    }
    error = "the proof install failed: " + oneLine(copyErrorText(state));
    return false;
  }
  std::string game = toUtf8(options.destinationFolder);
  size_t installed = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(game, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) ++installed;
  }
  if (ec || installed != m.files.size()) {
    error = "the proof install made other files than the game folder holds";
    return false;
  }
  for (size_t i = 0; i < m.files.size(); ++i) {
    std::string rel = m.files[i].outputPath;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (!sameFileBytes(game + "/" + rel, m.files[i].nativePath)) bad.push_back(i);
  }
  return true;
}

const char* kindName(uint32_t kind) {
  switch (kind) {
    case ArchiveCopy: return "copy";
    case BundlePatch: return "bundle";
    case FileDelta: return "delta";
    case Asset: return "asset";
    default: return "file";
  }
}

void summarize(const Maker& m, ByteView container, MakeSummary& s) {
  s.kinds.clear();
  for (const char* k : {"copy", "bundle", "delta", "file", "asset"}) s.kinds.push_back({k});
  PatchPack pack;
  Bytes digest(32);
  sha256(container, digest.data());
  loadPatchPackFrom(container, digest, pack);
  for (const PackEntry& e : pack.entries) {
    for (auto& k : s.kinds) {
      if (k.kind != kindName(e.kind)) continue;
      ++k.records;
      if (e.kind != ArchiveCopy) k.bytes += e.storedSize;
    }
    if (e.kind == BundlePatch) s.reencodedBytes += e.targetDecodedSize;
  }
  s.packSize = container.size();
  for (size_t i = 0; i < m.files.size(); ++i) {
    if (!m.plans[i].fallback.empty()) s.fallbacks.push_back(m.files[i].outputPath + ": " + m.plans[i].fallback);
  }
}

// Fills the file beside path that is renamed into place once all is written.
bool writePart(const std::string& path, const std::string& part, ByteView bytes, std::string& error) {
  const PlatformOps& os = platform();
  FileHandle f = os.createFile(fromUtf8(part));
  bool ok = f != kInvalidFile;
  for (size_t at = 0; ok && at < bytes.size(); at += kWriteChunk) {
    ok = os.writeFile(f, bytes.data() + at, std::min(kWriteChunk, bytes.size() - at));
  }
  ok = ok && os.flushFile(f);
  if (f != kInvalidFile) os.closeFile(f);
  if (!ok) error = "cannot write " + path + " (is the disk full?)";
  return ok;
}

bool renamePart(const std::string& path, const std::string& part, std::string& error) {
  std::error_code ec;
  fs::rename(part, path, ec);
  if (ec) {
    error = "cannot write " + path + " (" + ec.message() + ")";
    return false;
  }
  return true;
}

bool readGivenAssets(const MakeOptions& o, std::vector<AssetItem>& assets, std::string& error) {
  for (const auto& [name, file] : o.assets) {
    if (name.empty() || name == "xapk_info" || name == "xapk_fingerprint") {
      error = "--asset " + name + "=" + file + ": the tool writes that asset itself";
      return false;
    }
    for (const auto& a : assets) {
      if (a.name == name) {
        error = "--asset " + name + " is given twice";
        return false;
      }
    }
    AssetItem a{name, file, {}};
    if (!readFileBytes(file, a.bytes)) {
      error = "cannot read " + file;
      return false;
    }
    assets.push_back(std::move(a));
  }
  return true;
}

}  // namespace

bool makePack(const MakeOptions& o, MakeSummary& summary, std::string& error) {
  crc32InitTable();
  summary = MakeSummary();
  Maker m(o);
  std::vector<AssetItem> given;
  if (!listGameFolder(o.gameFolder, m.files, error) || !readGivenAssets(o, given, error)) return false;

  // Proves PACK can be written before any work; the name is only ours.
  const std::string suffix = ".part-" + std::to_string(platform().processId());
  const std::string packPart = o.packPath + suffix, manifestPart = o.manifestOut + suffix;
  struct RemoveParts {
    std::vector<std::string> paths;  // made by this run
    ~RemoveParts() {
      std::error_code ec;
      for (const auto& p : paths) fs::remove(p, ec);
    }
  } removeParts;
  for (const std::string& part : {packPart, o.manifestOut.empty() ? std::string() : manifestPart}) {
    if (part.empty()) continue;
    FileHandle f = platform().createNewFile(fromUtf8(part));
    if (f == kInvalidFile) {
      error = "cannot write " + part.substr(0, part.size() - suffix.size());
      return false;
    }
    platform().closeFile(f);
    removeParts.paths.push_back(part);
  }

  if (!openReleaseXapk(m.xapk, o.xapkPath, error)) return false;
  struct CloseAfter {
    XapkSource& s;
    ~CloseAfter() { closeXapk(s); }
  } closeAfter{m.xapk};
  for (XapkArchive archive : {XapkArchive::Apk, XapkArchive::Obb}) {
    ZipReader& reader = innerArchive(m.xapk, archive);
    for (uint64_t i = 0, n = reader.entryCount(); i < n; ++i) {
      ZipEntryStat st;
      if (!reader.stat(i, st) || st.name.empty() || st.name.back() == '/') continue;
      m.sources.push_back({archive, st.name, st.uncompressedSize, st.crc32});
    }
  }
  m.plans.resize(m.files.size());
  if (!chooseAll(m, error)) return false;

  std::vector<AssetItem> assets;
  Bytes container;
  json manifest;
  for (;;) {
    assets = packAssets(m, given);
    if (!assemble(m, assets, container, &manifest, error)) return false;
    std::vector<size_t> bad;
    if (!proveInstall(m, container, bad, error)) return false;
    ++summary.proofInstalls;
    if (bad.empty()) break;
    for (size_t i : bad) {
      FilePlan& plan = m.plans[i];
      const char* was = kindName(plan.ranked[plan.chosen].kind);
      if (++plan.chosen >= plan.ranked.size()) {
        error = m.files[i].outputPath + ": no recipe reproduces it";
        return false;
      }
      plan.fallback = std::string("the install did not reproduce its ") + was + " record";
      if (!rebuildChosen(m, i, error)) return false;
    }
  }
  std::string text = manifest.dump(1);
  ByteView manifestBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (!writePart(o.packPath, packPart, container, error)) return false;
  if (!o.manifestOut.empty() && (!writePart(o.manifestOut, manifestPart, manifestBytes, error) ||
                                 !renamePart(o.manifestOut, manifestPart, error))) {
    return false;
  }
  if (!renamePart(o.packPath, packPart, error)) return false;
  summarize(m, container, summary);
  return true;
}

}  // namespace velmo
