#include "velmo-pack/tool_io.h"

#include <fstream>
#include <iterator>

namespace velmo {

bool readFileBytes(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0);
  out.resize(size_t(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(out.data()), size)) return false;
  return true;
}

bool writeFileBytes(const std::string& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  return bool(out);
}

}  // namespace velmo
