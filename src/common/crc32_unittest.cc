#include "common/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/test_util.h"

namespace velmo {
namespace {

TEST(Crc32, MatchesTheZipCheckValueAndZlibAtEveryAlignment) {
  EXPECT_EQ(crc32Update(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32Update(0, "", 0), 0u);
  Bytes data = test::randomBytes(4096 + 17, 7);
  for (size_t start = 0; start < 9; ++start) {
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 63u, 4096u}) {
      uLong expected = crc32(0, data.data() + start, uInt(len));
      EXPECT_EQ(crc32Update(0, data.data() + start, len), uint32_t(expected)) << start << " " << len;
    }
  }
}

TEST(Crc32, ChunkedEqualsWhole) {
  Bytes data = test::randomBytes(100000, 3);
  uint32_t whole = crc32Update(0, data.data(), data.size());
  uint32_t c = 0;
  size_t pos = 0, step = 1;
  while (pos < data.size()) {
    size_t n = std::min(step, data.size() - pos);
    c = crc32Update(c, data.data() + pos, n);
    pos += n;
    step = step * 3 + 1;
  }
  EXPECT_EQ(c, whole);
}

}  // namespace
}  // namespace velmo
