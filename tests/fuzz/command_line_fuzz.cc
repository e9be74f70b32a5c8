// The command line (NUL-separated arguments) and the VELMO_CANCEL_MS value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "common/utf8.h"
#include "install/install_job.h"

using namespace velmo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::wstring> args;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(fromUtf8(std::string_view(all).substr(start, end - start)));
    start = end + 1;
  }
  CommandLine cl = parseCommandLine(args);
  // Auto mode needs its two values, so at least four arguments.
  if (cl.autoMode && args.size() < 4) std::abort();
  uint32_t wait = parseCancelAfter(args[0]);
  if (args[0].size() >= 32 && wait != 0) std::abort();
  return 0;
}
