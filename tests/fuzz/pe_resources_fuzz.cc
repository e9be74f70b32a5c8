// Reads resources out of arbitrary bytes taken as a Windows executable and,
// where the headers allow it, writes a resource section and must find it
// again byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "velmo-pack/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmo;
  ByteView image(data, size);
  ByteView found;
  for (uint16_t id : {uint16_t(101), uint16_t(102)}) {
    if (peFindResource(image, 10, id, found) && (found.data() < data || found.data() + found.size() > data + size)) {
      std::abort();
    }
  }
  if (size > (1u << 20)) return 0;
  Bytes copy(data, data + size);
  const uint8_t payload[] = {1, 2, 3, 4, 5, 6, 7};
  std::string error;
  if (peSetResources(copy, {{10, 101, ByteView(payload, sizeof payload)}}, error)) {
    if (!peFindResource(copy, 10, 101, found) || found.size() != sizeof payload ||
        std::memcmp(found.data(), payload, sizeof payload) != 0) {
      std::abort();
    }
  }
  return 0;
}
