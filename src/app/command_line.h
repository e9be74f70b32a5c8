#pragma once
#include <string>
#include <vector>

namespace velmo {

struct CommandLine {
  bool autoMode = false;
  std::wstring xapkPath;
  std::wstring destinationFolder;
};

// Scans args from index 1. Keywords match whole and case-sensitively;
// later arguments overwrite earlier ones; a value is taken literally.
CommandLine parseCommandLine(const std::vector<std::wstring>& args);

}  // namespace velmo
