#pragma once
// The Android release as the pack tool reads it: opened with the patcher's
// own XAPK reader (which finds the APK and OBB as the patcher does), its
// entries read whole, every failure one line of text.
#include <string>

#include "common/bytes.h"
#include "xapk/xapk_source.h"

namespace velmo {

bool openReleaseXapk(XapkSource& source, const std::string& path, std::string& error);
bool readXapkEntry(XapkSource& source, XapkArchive archive, const std::string& entry, Bytes& out, std::string& error);
// A message of the patcher's as one line.
std::string oneLine(const std::wstring& text);

}  // namespace velmo
