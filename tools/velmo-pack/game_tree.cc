#include "velmo-pack/game_tree.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <map>

#include "common/utf8.h"

namespace velmo {
namespace {

namespace fs = std::filesystem;

std::string upperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return s;
}

bool reservedDeviceName(const std::string& component) {
  // The device names stay reserved with any extension ("NUL.txt") and with
  // blanks before it.
  std::string stem = upperAscii(component.substr(0, component.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices) {
    if (stem == d) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

// Windows compares names without case, letter by letter.
std::wstring foldCase(const std::string& path) {
  std::wstring w = fromUtf8(path);
  for (wchar_t& c : w) c = wchar_t(std::towupper(wint_t(c)));
  return w;
}

}  // namespace

std::string windowsPathProblem(const std::string& relativePath) {
  if (relativePath.size() > 65535) return "too long for a pack record";
  if (toUtf8(fromUtf8(relativePath)) != relativePath) return "a name that is not UTF-8";
  size_t start = 0;
  while (start <= relativePath.size()) {
    size_t end = std::min(relativePath.find('/', start), relativePath.size());
    std::string c = relativePath.substr(start, end - start);
    if (c.empty()) return "an empty name";
    for (unsigned char ch : c) {
      if (ch < 0x20 || std::string_view("<>:\"\\|?*").find(char(ch)) != std::string_view::npos) {
        return "a character Windows does not allow in a name";
      }
    }
    if (c.back() == '.' || c.back() == ' ') return "a name that ends in a dot or a space";
    if (reservedDeviceName(c)) return "a name Windows reserves for a device";
    start = end + 1;
  }
  return "";
}

bool listGameFolder(const std::string& folder, std::vector<GameFile>& files, std::string& error) {
  files.clear();
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec)) && !fs::is_directory(fs::status(folder, ec))) {
    error = folder + ": no such folder";
    return false;
  }
  std::map<std::wstring, std::string> folded;  // every path, by its case-folded form
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    // Lexical: a link is named as found, never resolved.
    std::string rel = entry.path().lexically_relative(folder).generic_string();
    std::string shown = folder + "/" + rel;
    fs::file_status st = entry.symlink_status(ec);
    if (ec) break;
    if (fs::is_symlink(st)) {
      error = shown + ": a link; a pack holds only files and folders";
      return false;
    }
    if (!fs::is_regular_file(st) && !fs::is_directory(st)) {
      error = shown + ": not a file or a folder";
      return false;
    }
    std::string problem = windowsPathProblem(rel);
    if (!problem.empty()) {
      error = shown + ": " + problem;
      return false;
    }
    auto [at, added] = folded.emplace(foldCase(rel), rel);
    if (!added) {
      error = shown + ": differs from " + folder + "/" + at->second + " only in letter case";
      return false;
    }
    if (fs::is_regular_file(st)) {
      GameFile f;
      f.outputPath = rel;
      std::replace(f.outputPath.begin(), f.outputPath.end(), '/', '\\');
      f.nativePath = entry.path().string();
      f.size = entry.file_size(ec);
      if (ec) break;
      files.push_back(std::move(f));
    }
  }
  if (ec) {
    error = folder + ": cannot be read (" + ec.message() + ")";
    return false;
  }
  if (files.empty()) {
    error = folder + ": holds no files";
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const GameFile& a, const GameFile& b) { return a.outputPath < b.outputPath; });
  return true;
}

}  // namespace velmo
