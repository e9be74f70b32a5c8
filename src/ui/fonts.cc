#include "ui/fonts.h"

#include <algorithm>

namespace velmo {

#ifdef _WIN32
std::vector<std::string> titleFontCandidates() { return {"Book Antiqua", "Georgia", "Times New Roman"}; }

std::vector<std::string> bodyFontCandidates() { return {"Segoe UI", "Arial"}; }

std::vector<std::string> subtitleFontCandidates() { return {"Yu Mincho", "MS Mincho", "MS Gothic", "Meiryo"}; }
#else
std::vector<std::string> titleFontCandidates() {
  return {"Book Antiqua", "Georgia", "Times New Roman", "Liberation Serif", "DejaVu Serif"};
}

std::vector<std::string> bodyFontCandidates() {
  return {"Segoe UI", "Arial", "Liberation Sans", "DejaVu Sans"};
}

std::vector<std::string> subtitleFontCandidates() {
  return {"Yu Mincho", "MS Mincho", "MS Gothic", "Meiryo", "Noto Serif CJK JP", "Noto Sans CJK JP"};
}
#endif

namespace {

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string firstAvailableFamily(const std::vector<std::string>& candidates,
                                 const std::vector<std::string>& installed) {
  if (installed.empty()) return {};
  for (const std::string& want : candidates) {
    for (const std::string& have : installed) {
      if (sameNameIgnoringCase(want, have)) return have;
    }
  }
  return kFallbackFontFamily;
}

FontFamilies chooseFontFamilies(const std::vector<std::string>& installed) {
  FontFamilies f;
  f.title = firstAvailableFamily(titleFontCandidates(), installed);
  f.body = firstAvailableFamily(bodyFontCandidates(), installed);
  f.subtitle = firstAvailableFamily(subtitleFontCandidates(), installed);
  return f;
}

FontFamilies chooseFontFamilies(const FontFamilyTest& has, const std::string& lastResort) {
  auto first = [&](const std::vector<std::string>& candidates) {
    for (const std::string& want : candidates) {
      if (has(want)) return want;
    }
    return has(kFallbackFontFamily) ? std::string(kFallbackFontFamily) : lastResort;
  };
  FontFamilies f;
  f.title = first(titleFontCandidates());
  f.body = first(bodyFontCandidates());
  f.subtitle = first(subtitleFontCandidates());
  return f;
}

}  // namespace velmo
