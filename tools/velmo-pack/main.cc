// velmo-pack: builds patch packs, embeds them into the patcher, lists them,
// and converts single LZMS buffers. Every failure is one line on stderr and
// exit status 1.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "common/utf8.h"
#include "pack/lzms_buffer.h"
#include "pack/pack_loader.h"
#include "patch/pa30.h"
#include "velmo-pack/pa30_create.h"
#include "velmo-pack/embed.h"
#include "velmo-pack/pack_builder.h"
#include "velmo-pack/pack_maker.h"
#include "velmo-pack/tool_io.h"

using namespace velmo;

namespace {

int fail(const std::string& line) {
  std::fprintf(stderr, "velmo-pack: %s\n", line.c_str());
  return 1;
}

int usage() {
  return fail(
      "usage: velmo-pack make XAPK GAME_FOLDER -o PACK [--asset NAME=FILE]... [--manifest-out FILE] [--jobs N]"
      " [--plain] | build MANIFEST.json -o PACK | embed PATCHER PACK -o OUT | list PACK|PATCHER"
      " | lzms-encode IN OUT | lzms-decode IN OUT | delta-create SRC TGT OUT | delta-apply SRC DELTA OUT");
}

const char* kindName(uint32_t kind) {
  switch (kind) {
    case PackFile: return "file";
    case ArchiveCopy: return "copy";
    case Asset: return "asset";
    case FileDelta: return "delta";
    case BundlePatch: return "bundle";
    default: return "other";
  }
}

int cmdBuild(const std::vector<std::string>& a) {
  if (a.size() != 4 || a[2] != "-o") return usage();
  Bytes pack;
  std::string error;
  if (!buildPackFromManifest(a[1], pack, error)) return fail(error);
  if (!writeFileBytes(a[3], pack)) return fail("cannot write " + a[3]);
  return 0;
}

// One line, rewritten in place: how far, the file, the time left.
void showProgress(const std::string& what, uint64_t done, uint64_t total) {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point start = Clock::now(), last;
  static uint64_t lastDone = 0;
  Clock::time_point now = Clock::now();
  if (done < lastDone) start = now;  // the next stage (the proof install) counts from its own start
  lastDone = done;
  if (now - last < std::chrono::milliseconds(100) && done < total) return;
  last = now;
  double elapsed = std::chrono::duration<double>(now - start).count();
  std::string left = "--:--";
  if (done > 0 && total >= done && elapsed > 1) {
    long s = long(elapsed * double(total - done) / double(done));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    left = buf;
  }
  std::string name = what.size() > 60 ? "..." + what.substr(what.size() - 57) : what;
  std::fprintf(stderr, "\r\033[K%3.0f%%  %s left  %s", total ? 100.0 * double(done) / double(total) : 0.0,
               left.c_str(), name.c_str());
  std::fflush(stderr);
}

void printSummary(const MakeSummary& s) {
  std::printf("%-8s %8s %14s\n", "kind", "records", "stored bytes");
  for (const auto& k : s.kinds) std::printf("%-8s %8zu %14llu\n", k.kind.c_str(), k.records, (unsigned long long)k.bytes);
  std::printf("pack: %llu bytes; an install re-encodes %llu bytes of bundle data; proven by %u install%s\n",
              (unsigned long long)s.packSize, (unsigned long long)s.reencodedBytes, s.proofInstalls,
              s.proofInstalls == 1 ? "" : "s");
  for (const auto& f : s.fallbacks) std::printf("fell back: %s\n", f.c_str());
}

int cmdMake(const std::vector<std::string>& a) {
  MakeOptions o;
  std::vector<std::string> positional;
  for (size_t i = 1; i < a.size(); ++i) {
    bool hasValue = i + 1 < a.size();
    if (a[i] == "-o" && hasValue) {
      o.packPath = a[++i];
    } else if (a[i] == "--asset" && hasValue) {
      const std::string& nameAndFile = a[++i];
      size_t eq = nameAndFile.find('=');
      if (eq == std::string::npos || eq == 0) return fail("--asset needs NAME=FILE, not " + nameAndFile);
      o.assets.push_back({nameAndFile.substr(0, eq), nameAndFile.substr(eq + 1)});
    } else if (a[i] == "--manifest-out" && hasValue) {
      o.manifestOut = a[++i];
    } else if (a[i] == "--jobs" && hasValue) {
      char* end = nullptr;
      long n = std::strtol(a[++i].c_str(), &end, 10);
      if (*end || n < 1 || n > 256) return fail("--jobs needs a number from 1 to 256");
      o.workers = unsigned(n);
    } else if (a[i] == "--plain") {
      o.plainItems = true;
    } else if (!a[i].empty() && a[i][0] != '-') {
      positional.push_back(a[i]);
    } else {
      return usage();
    }
  }
  if (positional.size() != 2 || o.packPath.empty()) return usage();
  o.xapkPath = positional[0];
  o.gameFolder = positional[1];
  bool terminal = ::isatty(STDERR_FILENO);
  if (terminal) o.progress = showProgress;
  MakeSummary summary;
  std::string error;
  bool ok = makePack(o, summary, error);
  if (terminal) std::fprintf(stderr, "\r\033[K");
  if (!ok) return fail(error);
  printSummary(summary);
  return 0;
}

int cmdEmbed(const std::vector<std::string>& a) {
  if (a.size() != 5 || a[3] != "-o") return usage();
  Bytes patcher, pack;
  if (!readFileBytes(a[1], patcher)) return fail("cannot read " + a[1]);
  if (!readFileBytes(a[2], pack)) return fail("cannot read " + a[2]);
  // A patcher that already carries a pack gets the new one instead.
  std::string error;
  if (!embedPack(patcher, pack, error)) return fail(a[1] + ": " + error);
  if (!writeFileBytes(a[4], patcher)) return fail("cannot write " + a[4]);
  struct stat st;
  if (::stat(a[1].c_str(), &st) == 0) ::chmod(a[4].c_str(), st.st_mode & 07777);
  return 0;
}

int cmdList(const std::vector<std::string>& a) {
  if (a.size() != 2) return usage();
  Bytes file;
  if (!readFileBytes(a[1], file)) return fail("cannot read " + a[1]);
  ByteView container = file, digest;
  Bytes ownDigest(32);
  bool embedded = findPatcherPack(file, container, digest);
  if (!embedded) {
    sha256(container, ownDigest.data());
    digest = ownDigest;
  }
  PatchPack pack;
  if (!loadPatchPackFrom(container, digest, pack)) {
    return fail(a[1] + (embedded ? ": the embedded pack is damaged" : ": not a valid patch pack"));
  }
  std::printf("%s pack: %zu bytes, format version %u, %zu records\n", embedded ? "embedded" : "plain",
              container.size(), readLe32(container.data() + 8), pack.entries.size());
  for (size_t i = 0; i < pack.entries.size(); ++i) {
    const PackEntry& e = pack.entries[i];
    std::printf("%5zu %-6s", i, kindName(e.kind));
    if (hasSourceLayout(e.kind)) {
      std::printf(" %s:%s -> %s size %llu", e.source == XapkArchive::Apk ? "apk" : "obb",
                  toUtf8(e.sourceName).c_str(), toUtf8(e.targetPath).c_str(), (unsigned long long)e.size);
      if (e.kind == ArchiveCopy) std::printf(" crc %08x", e.crc);
      if (e.kind == FileDelta) std::printf(" source-crc %08x crc %08x", e.sourceCrc, e.targetCrc);
      if (e.kind == BundlePatch) {
        std::printf(" crc %08x decoded %llu -> %llu segments %zu", e.bundleCrc,
                    (unsigned long long)e.sourceDecodedSize, (unsigned long long)e.targetDecodedSize,
                    e.segments.size());
      }
      if (e.kind != ArchiveCopy) {
        std::printf(" delta %llu%s", (unsigned long long)e.storedSize, e.compressed ? " lzms" : "");
      }
    } else {
      std::printf(" %s size %llu stored %llu%s crc %08x", toUtf8(e.name).c_str(), (unsigned long long)e.size,
                  (unsigned long long)e.storedSize, e.compressed ? " lzms" : "", e.crc);
    }
    std::printf("\n");
  }
  return 0;
}

int cmdLzms(const std::vector<std::string>& a, bool encode) {
  if (a.size() != 3) return usage();
  Bytes in, out;
  if (!readFileBytes(a[1], in)) return fail("cannot read " + a[1]);
  if (encode) {
    if (!lzmsEncodeBuffer(in, out)) return fail("the LZMS compressor could not be set up");
  } else {
    uint64_t size = 0;
    // A valid buffer never expands beyond its chunk records allow; bound the
    // claim before allocating from it.
    if (!lzmsBufferRawSize(in, size) || size > uint64_t(in.size()) * 65536) {
      return fail(a[1] + " is not a valid LZMS buffer");
    }
    out.resize(size_t(size));
    LzmsDecoder decoder;
    if (!lzmsDecodeBuffer(decoder, in, out)) return fail(a[1] + " is not a valid LZMS buffer");
  }
  if (!writeFileBytes(a[2], out)) return fail("cannot write " + a[2]);
  return 0;
}

int cmdDeltaCreate(const std::vector<std::string>& a) {
  if (a.size() != 4) return usage();
  Bytes source, target, delta;
  if (!readFileBytes(a[1], source)) return fail("cannot read " + a[1]);
  if (!readFileBytes(a[2], target)) return fail("cannot read " + a[2]);
  if (!pa30Create(source, target, Pa30CreateOptions(), delta)) return fail("could not create the delta");
  if (!writeFileBytes(a[3], delta)) return fail("cannot write " + a[3]);
  return 0;
}

int cmdDeltaApply(const std::vector<std::string>& a) {
  if (a.size() != 4) return usage();
  Bytes source, delta, target;
  if (!readFileBytes(a[1], source)) return fail("cannot read " + a[1]);
  if (!readFileBytes(a[2], delta)) return fail("cannot read " + a[2]);
  if (!pa30Apply(source, delta, uint64_t(1) << 32, target)) return fail(a[2] + " is not a delta that applies to " + a[1]);
  if (!writeFileBytes(a[3], target)) return fail("cannot write " + a[3]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.empty()) return usage();
  const std::string& cmd = a[0];
  if (cmd == "make") return cmdMake(a);
  if (cmd == "build") return cmdBuild(a);
  if (cmd == "embed") return cmdEmbed(a);
  if (cmd == "list") return cmdList(a);
  if (cmd == "lzms-encode") return cmdLzms(a, true);
  if (cmd == "lzms-decode") return cmdLzms(a, false);
  if (cmd == "delta-create") return cmdDeltaCreate(a);
  if (cmd == "delta-apply") return cmdDeltaApply(a);
  return usage();
}
