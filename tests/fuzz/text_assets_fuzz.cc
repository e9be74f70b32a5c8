// The two text assets the XAPK check reads: xapk_info and xapk_fingerprint.
#include <cstdint>
#include <string>

#include "xapk/xapk_extract.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XapkInfo info;
  parseXapkInfo(ByteView(data, size), info);
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    FingerprintLine line;
    parseFingerprintLine(all.substr(start, end - start), line);
    start = end + 1;
  }
  return 0;
}
