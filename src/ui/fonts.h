#pragma once
// The three font families of the wizard, each the first available family of
// its candidate list. The Windows build lists Windows faces only and asks
// GDI+ to create each one: enumerated names come back localised on some
// Windows (游明朝 for "Yu Mincho" on Japanese Windows), names a family is
// created by never do. Elsewhere the lists keep the Windows faces first and
// add the Linux stand-ins after them, compared with the enumerated families,
// because fontconfig silently substitutes a missing family and so cannot tell
// us by failing.
#include <functional>
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

// Whether the renderer can create a family of that name.
using FontFamilyTest = std::function<bool(const std::string& name)>;

// Each role's first candidate that `has` accepts, else the fallback family
// when it does, else lastResort (the renderer's own default family; empty:
// texts of that role are not drawn).
FontFamilies chooseFontFamilies(const FontFamilyTest& has, const std::string& lastResort);

}  // namespace velmo
