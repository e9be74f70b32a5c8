#pragma once
// The three font families of the wizard, each the first installed family of
// its candidate list. The lists keep the Windows faces first and add the
// Linux stand-ins after them, because fontconfig silently substitutes a
// missing family and so cannot tell us by failing.
#include <string>
#include <vector>

namespace velmo {

constexpr char kFallbackFontFamily[] = "Arial";

struct FontFamilies {
  std::string title;     // title, "for Windows", "Patcher", screen headings
  std::string body;      // all other texts, buttons, the mute glyph
  std::string subtitle;  // the subtitle line (a face with Japanese glyphs)
};

std::vector<std::string> titleFontCandidates();
std::vector<std::string> bodyFontCandidates();
std::vector<std::string> subtitleFontCandidates();

// The first candidate found in installed (names compared without regard to
// case), else the fallback family, which the renderer can always substitute.
// Empty when nothing is installed at all: texts of that role are not drawn.
std::string firstAvailableFamily(const std::vector<std::string>& candidates,
                                 const std::vector<std::string>& installed);

// installed: the painter's installedFontFamilies().
FontFamilies chooseFontFamilies(const std::vector<std::string>& installed);

}  // namespace velmo
