// Making a pack from two releases: the recipe each file gets, the proof, the
// fingerprint, and what the tool refuses.
#include "velmo-pack/pack_maker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "common/utf8.h"
#include "install/install_driver.h"
#include "pack/pack_items.h"
#include "pack/pack_loader.h"
#include "patch/unityweb.h"
#include "platform/platform.h"
#include "support/demo_fixture.h"
#include "support/patch_fixture.h"
#include "support/test_util.h"
#include "support/xapk_fixture.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/source_records.h"

namespace velmo {
namespace {

using namespace velmo::test;
namespace fs = std::filesystem;

Bytes edited(Bytes b, size_t every) {
  for (size_t i = every / 2; i < b.size(); i += every) b[i] ^= 0x5A;
  return b;
}

// Two small releases: every recipe has a file that should get it.
struct Releases {
  TempDir dir;
  std::string xapk = dir / "game.xapk", game = dir / "win", pack = dir / "pack.bin";
  XapkLayout layout;

  Releases() {
    Bytes level0 = gameLikePayload(40000, 1), renamed = randomBytes(9000, 2), art = randomBytes(3000, 3);
    Bytes titlePayload = gameLikePayload(150000, 4), otherPayload = gameLikePayload(90000, 5);
    Bytes titleSource = unityWebBundleOf(titlePayload, foreignEncoderSettings());
    layout.apkEntries = {{"assets/bin/Data/level0", level0, false},
                         {"res/raw/renamed.bin", renamed, false},
                         {"assets/bin/Data/StreamingAssets/bg.png", art, true}};
    layout.obbEntries = {{"TITMN01A.unity3d", titleSource, true},
                         {"OTHER.unity3d", unityWebBundleOf(otherPayload, foreignEncoderSettings()), true}};
    EXPECT_TRUE(writeXapk(xapk, layout));

    // The title bundle as the patcher rebuilds it; the other one compressed
    // by someone else: with the patcher's header but other encoder settings.
    PackBuilder scratch;
    beginPack(scratch);
    PackEntry e;
    Bytes title;
    std::string error;
    EXPECT_TRUE(addBundleRecord(scratch, e, titleSource, edited(titlePayload, 7000), false, error, &title)) << error;
    LzmaEncoderSettings other;
    other.preset = 1, other.matchFinder = LzmaMatchFinder::Hc4, other.mode = LzmaMode::Fast;
    std::vector<std::pair<std::string, Bytes>> files = {
        {"VELMO.exe", randomBytes(20000, 6)},
        {"VELMO-1080p.bat", Bytes(100, 'x')},
        {"VELMO_Data/level0", edited(level0, 5000)},
        {"VELMO_Data/Managed/x.dll", renamed},
        {"VELMO_Data/StreamingAssets/bg.png", art},
        {"VELMO_Data/StreamingAssets/TITMN01A.unity3d", title},
        {"VELMO_Data/StreamingAssets/OTHER.unity3d", unityWebBundleOf(edited(otherPayload, 9000), other)},
    };
    for (auto& [path, bytes] : files) {
      fs::create_directories(fs::path(game + "/" + path).parent_path());
      EXPECT_TRUE(writeBytes(game + "/" + path, bytes));
    }
  }
  MakeOptions options() const {
    MakeOptions o;
    o.xapkPath = xapk, o.gameFolder = game, o.packPath = pack;
    return o;
  }
};

struct LoadedPack {
  Bytes container;
  PatchPack pack;
  explicit LoadedPack(const std::string& path) : container(readBytes(path)) {
    Bytes digest(32);
    sha256(container, digest.data());
    EXPECT_TRUE(loadPatchPackFrom(container, digest, pack));
  }
  const PackEntry* at(const std::wstring& path) const {
    for (const auto& e : pack.entries) {
      if ((e.kind == PackFile ? e.name : e.targetPath) == path) return &e;
    }
    return nullptr;
  }
};

TEST(PackMaker, GivesEachFileTheRecipeThatFitsAndInstallsExactly) {
  Releases r;
  MakeOptions o = r.options();
  o.manifestOut = r.dir / "chosen.json";
  MakeSummary summary;
  std::string error;
  ASSERT_TRUE(makePack(o, summary, error)) << error;
  LoadedPack made(r.pack);
  struct Want {
    const wchar_t* path;
    uint32_t kind;
    const wchar_t* source;
  };
  for (const Want& w : {Want{L"VELMO_Data\\Managed\\x.dll", ArchiveCopy, L"res/raw/renamed.bin"},
                        Want{L"VELMO_Data\\level0", FileDelta, L"assets/bin/Data/level0"},
                        Want{L"VELMO_Data\\StreamingAssets\\TITMN01A.unity3d", BundlePatch, L"TITMN01A.unity3d"},
                        Want{L"VELMO_Data\\StreamingAssets\\bg.png", PackFile, L""},
                        Want{L"VELMO-1080p.bat", PackFile, L""}, Want{L"VELMO.exe", PackFile, L""}}) {
    const PackEntry* e = made.at(w.path);
    ASSERT_NE(e, nullptr) << toUtf8(w.path);
    EXPECT_EQ(e->kind, w.kind) << toUtf8(w.path);
    EXPECT_EQ(e->sourceName, w.source) << toUtf8(w.path);
  }
  // Compressed with other settings: no bundle record, but still exact.
  ASSERT_NE(made.at(L"VELMO_Data\\StreamingAssets\\OTHER.unity3d"), nullptr);
  EXPECT_NE(made.at(L"VELMO_Data\\StreamingAssets\\OTHER.unity3d")->kind, BundlePatch);
  ASSERT_EQ(summary.fallbacks.size(), 1u);
  EXPECT_EQ(summary.fallbacks[0].rfind("VELMO_Data\\StreamingAssets\\OTHER.unity3d: ", 0), 0u) << summary.fallbacks[0];
  EXPECT_EQ(summary.packSize, made.container.size());
  Bytes fp = readAsset(made.pack, L"xapk_fingerprint"), info = readAsset(made.pack, L"xapk_info");
  std::string fingerprint(fp.begin(), fp.end());
  // Every entry the pack reads; the APK's copy of the strip art is not read.
  for (const char* line : {"1|assets/bin/Data/level0|", "1|res/raw/renamed.bin|", "2|TITMN01A.unity3d|"}) {
    EXPECT_NE(fingerprint.find(line), std::string::npos) << fingerprint;
  }
  EXPECT_EQ(std::count(fp.begin(), fp.end(), '\n'), 3 + (made.at(L"VELMO_Data\\StreamingAssets\\OTHER.unity3d")->kind != PackFile))
      << fingerprint;
  EXPECT_EQ(std::string(info.begin(), info.end()),
            "name=VELMO\nversion=1.0.7\napk_entry=" + r.layout.apkName + "\nobb_entry=" + r.layout.obbName + "\n");

  // The patcher's own road installs it to exactly the folder.
  XapkSource source;
  std::wstring text;
  ASSERT_TRUE(openAndCheckXapk(source, made.pack, wide(r.xapk), text)) << toUtf8(text);
  InstallOptions options;
  options.destinationFolder = wide(r.dir / "installed");
  InstallState state;
  InstallContext job;
  bindInstallJob(job, made.pack, source, options, state);
  ASSERT_TRUE(runInstallHere(job)) << toUtf8(copyErrorText(state));
  closeXapk(source);
  std::string difference;
  EXPECT_TRUE(sameTree(r.game, r.dir / "installed", difference)) << difference;

  // The same inputs give the same bytes, with one worker too, and so does
  // the manifest of what was chosen.
  Bytes first = made.container;
  o.workers = 1, o.manifestOut.clear();
  ASSERT_TRUE(makePack(o, summary, error)) << error;
  EXPECT_TRUE(readBytes(r.pack) == first);
  Bytes rebuilt;
  ASSERT_TRUE(buildPackFromManifest(r.dir / "chosen.json", rebuilt, error)) << error;
  EXPECT_TRUE(rebuilt == first);
  for (auto& f : fs::directory_iterator(r.dir.path())) {
    EXPECT_EQ(f.path().string().find(".part-"), std::string::npos) << f.path();
  }
}

// The proof install's writes of one file come out damaged while spoilsLeft
// is above zero.
std::atomic<int> spoilsLeft{0};
std::atomic<FileHandle> spoiled{kInvalidFile};
FileHandle createNoting(const std::wstring& path) {
  FileHandle f = nativePlatform().createFile(path);
  if (path.find(L"level0") != std::wstring::npos && spoilsLeft > 0) --spoilsLeft, spoiled = f;
  return f;
}
void closeNoting(FileHandle file) {
  if (file == spoiled) spoiled = kInvalidFile;  // its number may be reused
  nativePlatform().closeFile(file);
}
bool writeSpoiling(FileHandle file, const void* data, size_t size) {
  if (file != spoiled || size == 0) return nativePlatform().writeFile(file, data, size);
  Bytes copy(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  copy[0] ^= 1;
  return nativePlatform().writeFile(file, copy.data(), size);
}

TEST(PackMaker, AFileTheInstallGetsWrongTakesItsNextRecipeOrFails) {
  Releases r;
  PlatformOps ops = nativePlatform();
  ops.createFile = createNoting, ops.writeFile = writeSpoiling, ops.closeFile = closeNoting;
  ScopedPlatformOverride use(ops);
  MakeSummary summary;
  std::string error;
  spoilsLeft = 1;  // the first install only
  ASSERT_TRUE(makePack(r.options(), summary, error)) << error;
  EXPECT_EQ(summary.proofInstalls, 2u);
  EXPECT_NE(std::find(summary.fallbacks.begin(), summary.fallbacks.end(),
                      "VELMO_Data\\level0: the install did not reproduce its delta record"),
            summary.fallbacks.end());
  fs::remove(r.pack);
  spoilsLeft = 100;  // every install: no recipe helps
  EXPECT_FALSE(makePack(r.options(), summary, error));
  EXPECT_EQ(error, "VELMO_Data\\level0: no recipe reproduces it");
  EXPECT_FALSE(exists(r.pack));
  spoilsLeft = 0;
}

std::atomic<FileHandle> partFile{kInvalidFile};
FileHandle createPartNoting(const std::wstring& path) {
  FileHandle f = nativePlatform().createFile(path);
  if (path.find(L"pack.bin.part-") != std::wstring::npos) partFile = f;
  return f;
}
bool writeFullDisk(FileHandle file, const void* data, size_t size) {
  return file != partFile && nativePlatform().writeFile(file, data, size);
}

TEST(PackMaker, AFullDiskLeavesNoPack) {
  Releases r;
  PlatformOps ops = nativePlatform();
  ops.createFile = createPartNoting, ops.writeFile = writeFullDisk;
  ScopedPlatformOverride use(ops);
  MakeSummary summary;
  std::string error;
  EXPECT_FALSE(makePack(r.options(), summary, error));
  partFile = kInvalidFile;
  EXPECT_EQ(error, "cannot write " + r.pack + " (is the disk full?)");
  for (auto& f : fs::directory_iterator(r.dir.path())) {
    EXPECT_EQ(f.path().filename().string().rfind("pack.bin", 0), std::string::npos) << f.path();
  }
}

TEST(PackMaker, FingerprintRefusesAnXapkWithAnyReadEntryChanged) {
  Releases r;
  MakeSummary summary;
  std::string error;
  ASSERT_TRUE(makePack(r.options(), summary, error)) << error;
  LoadedPack made(r.pack);
  struct Change {
    bool apk;
    size_t index;
    const wchar_t* entry;
  };
  for (const Change& c : {Change{true, 0, L"assets/bin/Data/level0"}, Change{true, 1, L"res/raw/renamed.bin"},
                          Change{false, 0, L"TITMN01A.unity3d"}}) {
    XapkLayout changed = r.layout;
    Bytes& bytes = (c.apk ? changed.apkEntries : changed.obbEntries)[c.index].bytes;
    bytes[bytes.size() / 2] ^= 1;
    ASSERT_TRUE(writeXapk(r.dir / "changed.xapk", changed));
    XapkSource source;
    std::wstring text;
    EXPECT_FALSE(openAndCheckXapk(source, made.pack, wide(r.dir / "changed.xapk"), text));
    EXPECT_EQ(text, std::wstring(L"This is not the expected VELMO XAPK (entry ") + c.entry + L" failed its CRC).");
  }
}

TEST(PackMaker, RefusesBadInputsInOneLineAndWritesNothing) {
  Releases r;
  TempDir t;
  writeText(t / "not-a-zip", "plain text");
  ASSERT_TRUE(writeZip(t / "no-apk.xapk", {{"readme.txt", Bytes(10, 'a'), true}}));
  fs::create_directories(t / "empty");
  auto folderWith = [&](const std::string& name, const std::vector<std::string>& files) {
    std::string root = t / name;
    for (const auto& f : files) {
      fs::create_directories(fs::path(root + "/" + f).parent_path());
      writeText(root + "/" + f, "x");
    }
    return root;
  };
  std::string linked = folderWith("linked", {"VELMO.exe"});
  fs::create_symlink(r.game + "/VELMO.exe", linked + "/link.exe");
  std::string device = folderWith("device", {"VELMO.exe"});
  ASSERT_EQ(::mkfifo((device + "/pipe").c_str(), 0600), 0);
  struct Case {
    std::string xapk, game, pack, says;
  };
  std::string x = r.xapk, g = r.game, p = t / "out/pack.bin";
  fs::create_directories(t / "out");
  std::vector<Case> cases = {
      {t / "not-a-zip", g, p, "not a zip file"},
      {t / "no-apk.xapk", g, p, "does not contain an APK and an OBB"},
      {t / "missing.xapk", g, p, "missing"},
      {x, t / "nowhere", p, "no such folder"},
      {x, t / "empty", p, "holds no files"},
      {x, linked, p, "link.exe: a link"},
      {x, device, p, "pipe: not a file"},
      {x, folderWith("case", {"Data/a.txt", "data/b.txt"}), p, "only in letter case"},
      {x, folderWith("reserved", {"Data/nul.txt"}), p, "reserves for a device"},
      {x, folderWith("dot", {"Data./a"}), p, "ends in a dot or a space"},
      {x, folderWith("space", {"a "}), p, "ends in a dot or a space"},
      {x, folderWith("colon", {"a:b"}), p, "does not allow"},
      {x, g, t / "no/such/folder/pack.bin", "cannot write " + t / "no/such/folder/pack.bin"},
  };
  for (const Case& c : cases) {
    std::string command = shellQuote(buildPath("velmo-pack")) + " make " + shellQuote(c.xapk) + " " +
                          shellQuote(c.game) + " -o " + shellQuote(c.pack) + " 2>" + shellQuote(t / "err");
    EXPECT_EQ(runCommand(command), 1) << c.says;
    std::string err = readText(t / "err");
    EXPECT_EQ(err.rfind("velmo-pack: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(t / "out")) << c.says;
  }
}

TEST(PackMaker, TheDemoGamesPackIsTheMadeOne) {
  const std::string& demo = smallDemoGame();
  ASSERT_FALSE(demo.empty());
  TempDir t;
  std::string assets = demo + "/pack-src/assets/";
  ASSERT_EQ(runCommand(shellQuote(buildPath("velmo-pack")) + " make " + shellQuote(demo + "/harrowmere-1.0.7.xapk") +
                       " " + shellQuote(demo + "/expected") + " -o " + shellQuote(t / "pack.bin") + " --asset bg.png=" +
                       shellQuote(assets + "bg.png") + " >" + shellQuote(t / "summary")),
            0);
  EXPECT_TRUE(readBytes(t / "pack.bin") == readBytes(demo + "/pack.bin"));
  std::string summary = readText(t / "summary");
  for (const char* kind : {"copy ", "bundle ", "delta ", "file ", "asset "}) {
    EXPECT_NE(summary.find(std::string("\n") + kind), std::string::npos) << summary;
  }
}

}  // namespace
}  // namespace velmo
