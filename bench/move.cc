// Moving a finished tree into place: into an empty destination, over an
// earlier install (every file replaced and kept aside until the end), and
// into a linked folder on another file system (copied, flushed, renamed).
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "common/utf8.h"
#include "install/folder_ops.h"

using namespace velmo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Stages the tree at staging + sub, then moves staging into dest.
double timedMove(const std::string& tree, const std::string& staging, const std::string& sub,
                 const std::string& dest, bool& ok) {
  fs::create_directories(staging + sub);
  fs::copy(tree, staging + sub, fs::copy_options::recursive);
  auto t0 = Clock::now();
  ok = moveTreeInto(pathFromBytes(staging), pathFromBytes(dest));
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  fs::remove_all(staging);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_move TREE OTHER_VOLUME_FOLDER\n");
    return 2;
  }
  std::string tree = argv[1], other = std::string(argv[2]) + "/velmo-bench-move";
  std::string work = "/tmp/velmo-bench-move";
  fs::remove_all(work), fs::remove_all(other);
  fs::create_directories(work + "/dest"), fs::create_directories(other);
  size_t files = 0;
  uint64_t bytes = 0;
  for (auto& f : fs::recursive_directory_iterator(tree))
    if (f.is_regular_file()) ++files, bytes += f.file_size();
  std::printf("%zu files, %.1f MB\n", files, bytes / 1048576.0);

  bool ok = false;
  double fresh = timedMove(tree, work + "/dest/.staging", "", work + "/dest", ok);
  std::printf("into an empty folder: %.3f s%s\n", fresh, ok ? "" : " FAILED");
  double over = timedMove(tree, work + "/dest/.staging", "", work + "/dest", ok);
  std::printf("over the same tree:   %.3f s%s\n", over, ok ? "" : " FAILED");
  fs::create_directories(work + "/linked");
  fs::create_directory_symlink(other, work + "/linked/data");
  double across = timedMove(tree, work + "/linked/.staging", "/data", work + "/linked", ok);
  std::printf("into a linked folder on %s: %.3f s (%.0f MB/s)%s\n", argv[2], across, bytes / 1048576.0 / across,
              ok ? "" : " FAILED");
  fs::remove_all(work), fs::remove_all(other);
  return ok ? 0 : 1;
}
