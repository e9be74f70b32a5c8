#include "patch/pa30_header.h"

#include <cstring>

#include "patch/pa30_bits.h"
#include "patch/pa30_format.h"

namespace velmo {

bool pa30ReadHeader(ByteView delta, Pa30Header& header) {
  if (delta.size() < 12 || std::memcmp(delta.data(), kPa30Signature, 4) != 0) return false;
  header.fileTime = readLe64(delta.data() + 4);
  Pa30BitReader reader;
  if (!pa30OpenStream(delta.subspan(12), reader)) return false;
  if (!pa30ReadNumber64(reader, header.fileTypeSet) || !pa30ReadNumber64(reader, header.fileType) ||
      !pa30ReadNumber64(reader, header.flags) || !pa30ReadNumber64(reader, header.targetSize) ||
      !pa30ReadNumber32(reader, header.hashAlgId) || !pa30ReadBuffer(reader, header.hash) ||
      !pa30ReadBuffer(reader, header.preprocess) || !pa30ReadBuffer(reader, header.patch)) {
    return false;
  }
  // The patch buffer is the last thing in a delta; anything after it means
  // the data is not what it claims to be.
  return reader.pos == uint64_t(reader.size) * 8;
}

void pa30WriteHeader(const Pa30Header& header, Bytes& delta) {
  delta.assign(kPa30Signature, kPa30Signature + 4);
  appendLe64(delta, header.fileTime);
  Pa30BitWriter writer;
  writer.writeBits(0, 3);
  writer.writeNumber(uint64_t(header.fileTypeSet));
  writer.writeNumber(uint64_t(header.fileType));
  writer.writeNumber(uint64_t(header.flags));
  writer.writeNumber(uint64_t(header.targetSize));
  writer.writeNumber(header.hashAlgId);
  writer.writeBuffer(header.hash);
  writer.writeBuffer(header.preprocess);
  writer.writeBuffer(header.patch);
  Bytes stream = writer.finishStream();
  delta.insert(delta.end(), stream.begin(), stream.end());
}

}  // namespace velmo
