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

// Decodes one UTF-8 sequence at bytes[i]; false when it is not a valid,
// shortest-form sequence of a scalar value. next is where decoding resumes
// after a bad sequence (one U+FFFD per broken prefix).
bool decodeOne(std::string_view bytes, size_t i, char32_t& c, size_t& next) {
  const size_t n = bytes.size();
  uint8_t b = uint8_t(bytes[i]);
  if (b < 0x80) {
    c = b;
    next = i + 1;
    return true;
  }
  int extra;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, c = b & 0x07, min = 0x10000;
  } else {
    next = i + 1;
    return false;
  }
  size_t j = i + 1;
  int got = 0;
  while (got < extra && j < n && (uint8_t(bytes[j]) & 0xC0) == 0x80) {
    c = (c << 6) | (uint8_t(bytes[j]) & 0x3F);
    ++j, ++got;
  }
  next = j;
  return got == extra && c >= min && c <= 0x10FFFF && !isSurrogate(c);
}

// The next code point of a wide string, joining UTF-16 surrogate pairs
// where wchar_t is 16 bits.
char32_t nextCodePoint(std::wstring_view text, size_t& i) {
  char32_t c = char32_t(uint32_t(text[i++]));
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size()) {
      char32_t low = char32_t(uint32_t(text[i]));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
  }
  return c;
}

constexpr char32_t kEscapeBase = 0xDC00;

// With escape, a byte that starts no valid sequence becomes U+DC00 + byte
// and decoding resumes at the next byte; without, a broken sequence
// becomes one U+FFFD.
std::wstring decodeUtf8(std::string_view bytes, bool escape) {
  std::wstring out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t c;
    size_t next;
    if (decodeOne(bytes, i, c, next)) {
      appendWide(out, c);
    } else if (escape) {
      out.push_back(wchar_t(kEscapeBase + uint8_t(bytes[i])));
      next = i + 1;
    } else {
      appendWide(out, kReplacement);
    }
    i = next;
  }
  return out;
}

// With unescape, U+DC80..U+DCFF become their bytes again; other surrogates
// and values beyond Unicode become U+FFFD.
std::string encodeUtf8(std::wstring_view text, bool unescape) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c = nextCodePoint(text, i);
    if (unescape && c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
      out.push_back(char(c - kEscapeBase));
      continue;
    }
    if (isSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    appendUtf8(out, c);
  }
  return out;
}

}  // namespace

std::string toUtf8(std::wstring_view text) { return encodeUtf8(text, false); }

std::wstring fromUtf8(std::string_view bytes) { return decodeUtf8(bytes, false); }

std::wstring pathFromBytes(std::string_view bytes) { return decodeUtf8(bytes, true); }

std::string pathToBytes(std::wstring_view path) { return encodeUtf8(path, true); }

}  // namespace velmo
