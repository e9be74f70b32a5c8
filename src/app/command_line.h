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
// A relative or drive-relative destination resolved once against the
// current folder, as the system resolves it; a full one stays as given.
void resolveDestination(CommandLine& cl);

}  // namespace velmo
