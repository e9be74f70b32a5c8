#include "ui/fonts.h"

#include <pango/pangocairo.h>

#include <strings.h>

namespace velmo {

std::vector<std::string> titleFontCandidates() {
  return {"Book Antiqua", "Georgia", "Times New Roman", "Liberation Serif", "DejaVu Serif"};
}

std::vector<std::string> bodyFontCandidates() {
  return {"Segoe UI", "Arial", "Liberation Sans", "DejaVu Sans"};
}

std::vector<std::string> subtitleFontCandidates() {
  return {"Yu Mincho", "MS Mincho", "MS Gothic", "Meiryo", "Noto Serif CJK JP", "Noto Sans CJK JP"};
}

std::vector<std::string> installedFontFamilies() {
  std::vector<std::string> names;
  PangoFontMap* map = pango_cairo_font_map_get_default();  // owned by pango
  if (!map) return names;
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(map, &families, &count);
  for (int i = 0; i < count; ++i) {
    const char* name = pango_font_family_get_name(families[i]);
    if (name) names.emplace_back(name);
  }
  g_free(families);
  return names;
}

std::string firstAvailableFamily(const std::vector<std::string>& candidates,
                                 const std::vector<std::string>& installed) {
  if (installed.empty()) return {};
  for (const std::string& want : candidates) {
    for (const std::string& have : installed) {
      if (strcasecmp(want.c_str(), have.c_str()) == 0) return have;
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

FontFamilies chooseFontFamilies() { return chooseFontFamilies(installedFontFamilies()); }

}  // namespace velmo
