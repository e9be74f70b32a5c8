#pragma once
// Conversion between wide strings and UTF-8. wchar_t holds UTF-16 code units
// on Windows and code points elsewhere; both forms are handled. Malformed
// input (bad UTF-8, lone surrogates) becomes U+FFFD; empty gives empty.
#include <string>
#include <string_view>

namespace velmo {

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view bytes);

// File names on POSIX systems are bytes, not text. These map them into wide
// strings and back without loss: valid UTF-8 decodes as usual, and every
// byte that is not part of a valid sequence becomes the lone surrogate
// U+DC80..U+DCFF (U+DC00 + byte), which pathToBytes turns back into that
// byte. Every path handed to or taken from the system goes through them;
// text shown to people still goes through toUtf8 (and shows U+FFFD).
std::wstring pathFromBytes(std::string_view bytes);
std::string pathToBytes(std::wstring_view path);

}  // namespace velmo
