// The whole install on a demo game (velmo-demo-game DIR --scale ...):
// time, bytes planned against the expected tree, and what flushing the
// staged files to disk costs.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/utf8.h"
#include "install/folder_ops.h"
#include "install/install_job.h"
#include "velmo-pack/tool_io.h"
#include "xapk/xapk_extract.h"

using namespace velmo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_install DEMO_DIR\n");
    return 2;
  }
  std::string demo = argv[1];
  Bytes container, digest(32);
  if (!readFileBytes(demo + "/pack.bin", container)) return 2;
  sha256(container, digest.data());
  PatchPack pack;
  if (!loadPatchPackFrom(container, digest, pack)) return 2;
  std::string work = "/tmp/velmo-bench-install";
  fs::remove_all(work);
  fs::create_directories(work);

  XapkSource source;
  std::wstring text;
  auto t0 = Clock::now();
  if (!openXapk(source, pack, fromUtf8(demo + "/harrowmere-1.0.7.xapk"), text) ||
      !verifyXapkFingerprint(source, pack, text)) {
    std::printf("%s\n", toUtf8(text).c_str());
    return 1;
  }
  double openS = std::chrono::duration<double>(Clock::now() - t0).count();
  InstallOptions options;
  options.destinationFolder = fromUtf8(work + "/game");
  InstallState state;
  InstallContext job{&pack, &source, &options, &state, L"", nullptr};
  t0 = Clock::now();
  bool ok = runInstallJob(job);
  double jobS = std::chrono::duration<double>(Clock::now() - t0).count();
  closeXapk(source);
  uint64_t expected = 0;
  size_t files = 0;
  for (auto& f : fs::recursive_directory_iterator(demo + "/expected"))
    if (f.is_regular_file()) expected += f.file_size(), ++files;
  std::printf("%s: %zu files, bytesTotal %llu, expected tree %llu bytes (%s)\n", ok ? "installed" : "FAILED", files,
              (unsigned long long)state.bytesTotal.load(), (unsigned long long)expected,
              state.bytesTotal.load() == expected ? "equal" : "DIFFERENT");
  if (!ok) std::printf("%s\n", toUtf8(copyErrorText(state)).c_str());
  std::printf("open + check %.2f s, install job %.1f s on %u cores\n", openS, jobS, std::thread::hardware_concurrency());

  // Flushing cost: the same tree written afresh, then flushed.
  std::system(("sync && cp -r " + demo + "/expected " + work + "/fresh").c_str());
  t0 = Clock::now();
  flushTree(fromUtf8(work + "/fresh"));
  double flushS = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("flushing %zu freshly written files: %.2f s (%.1f%% of the job)\n", files, flushS, flushS / jobS * 100);
  fs::remove_all(work);
  return ok ? 0 : 1;
}
