#include "common/crc32.h"

#include <zlib.h>

namespace velmo {

// zlib's routine already folds several bytes per step with its own tables and
// is several times faster than a byte table; its tables are static data, so
// nothing is built at start-up and every thread may call it at once.
void crc32InitTable() { get_crc_table(); }

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) {
  if (length == 0) return crc;
  return uint32_t(crc32_z(crc, static_cast<const Bytef*>(data), z_size_t(length)));
}

}  // namespace velmo
