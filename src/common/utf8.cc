#include "common/utf8.h"

#include <cstdint>

namespace velmo {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

void appendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(wchar_t(0xD800 + (c >> 10)));
      out.push_back(wchar_t(0xDC00 + (c & 0x3FF)));
      return;
    }
  }
  out.push_back(wchar_t(c));
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string toUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = char32_t(uint32_t(text[i]));
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        char32_t low = char32_t(uint32_t(text[i + 1]));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    appendUtf8(out, c);
  }
  return out;
}

std::wstring fromUtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    uint8_t b = uint8_t(bytes[i]);
    if (b < 0x80) {
      out.push_back(wchar_t(b));
      ++i;
      continue;
    }
    int extra;
    char32_t c;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      appendWide(out, kReplacement);
      ++i;
      continue;
    }
    // A truncated or broken sequence yields one U+FFFD for its valid prefix,
    // and decoding resumes at the first byte that does not continue it.
    size_t j = i + 1;
    int got = 0;
    while (got < extra && j < n && (uint8_t(bytes[j]) & 0xC0) == 0x80) {
      c = (c << 6) | (uint8_t(bytes[j]) & 0x3F);
      ++j, ++got;
    }
    if (got < extra || c < min || c > 0x10FFFF || isSurrogate(c)) {
      appendWide(out, kReplacement);
      i = (got < extra) ? j : i + 1 + extra;
      if (got == extra) i = j;
      continue;
    }
    appendWide(out, c);
    i = j;
  }
  return out;
}

}  // namespace velmo
