#pragma once
// The Windows build folder a pack is made from: every file under it, with
// the path a pack record gives it (relative, backslashes).
#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

struct GameFile {
  std::string outputPath;  // relative to the folder, backslash-separated, UTF-8
  std::string nativePath;  // where it is read from
  uint64_t size = 0;
};

// Why Windows or a pack cannot hold this relative path (components split at
// "/"): a reserved device name, a trailing dot or space, a character Windows
// refuses, bytes that are not UTF-8, or a length a record cannot carry.
// Empty when it can.
std::string windowsPathProblem(const std::string& relativePath);

// Lists every file under folder in byte-wise order of output path. Refuses,
// naming the path, links, devices and other non-files, names that
// windowsPathProblem refuses and two paths that differ only in letter case;
// also a missing folder or one without files.
bool listGameFolder(const std::string& folder, std::vector<GameFile>& files, std::string& error);

}  // namespace velmo
