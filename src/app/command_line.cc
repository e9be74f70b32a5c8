#include "app/command_line.h"

#include "platform/platform.h"

namespace velmo {

CommandLine parseCommandLine(const std::vector<std::wstring>& args) {
  CommandLine cl;
  const size_t argc = args.size();
  size_t j = 1;
  while (j < argc) {
    const std::wstring& a = args[j];
    if ((a == L"/auto" || a == L"--auto") && j + 2 < argc) {
      cl.autoMode = true;
      cl.xapkPath = args[j + 1];
      cl.destinationFolder = args[j + 2];
      j += 3;
    } else if (a == L"/xapk" && j + 1 < argc) {
      cl.xapkPath = args[j + 1];
      j += 2;
    } else if (a == L"/dest" && j + 1 < argc) {
      cl.destinationFolder = args[j + 1];
      j += 2;
    } else {
      j += 1;
    }
  }
  return cl;
}

void resolveDestination(CommandLine& cl) {
  if (!cl.destinationFolder.empty()) cl.destinationFolder = platform().fullPath(cl.destinationFolder);
}

}  // namespace velmo
