#include "velmo-pack/release_xapk.h"

#include "common/utf8.h"
#include "xapk/xapk_extract.h"

namespace velmo {

std::string oneLine(const std::wstring& text) {
  std::string line = toUtf8(text);
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line;
}

bool openReleaseXapk(XapkSource& source, const std::string& path, std::string& error) {
  // No pack yet: no xapk_info, so the APK and OBB are found by their suffix.
  static const PatchPack kNoPack;
  std::wstring text;
  if (openXapk(source, kNoPack, fromUtf8(path), text)) return true;
  closeXapk(source);
  error = path + ": " + oneLine(text);
  return false;
}

bool readXapkEntry(XapkSource& source, XapkArchive archive, const std::string& entry, Bytes& out, std::string& error) {
  std::wstring text;
  if (extractEntryToMemory(source, archive, fromUtf8(entry), out, text)) return true;
  error = oneLine(text);
  return false;
}

}  // namespace velmo
