#pragma once
// Conversion between wide strings and UTF-8. wchar_t holds UTF-16 code units
// on Windows and code points elsewhere; both forms are handled. Malformed
// input (bad UTF-8, lone surrogates) becomes U+FFFD; empty gives empty.
#include <string>
#include <string_view>

namespace velmo {

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view bytes);

}  // namespace velmo
