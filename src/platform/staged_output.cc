#include "platform/staged_output.h"

namespace velmo {

StagedOutput::~StagedOutput() {
  if (file != kInvalidFile) finish(false);
}

bool StagedOutput::create(const std::wstring& outputPath) {
  path = outputPath;
  failed = false;
  file = platform().createFile(path);
  return file != kInvalidFile;
}

bool StagedOutput::write(const void* data, size_t size) {
  if (file == kInvalidFile || failed || !platform().writeFile(file, data, size)) failed = true;
  return !failed;
}

bool StagedOutput::finish(bool proven) {
  const PlatformOps& os = platform();
  bool keep = proven && !failed;
  if (file != kInvalidFile) {
    // Flushed through the handle that wrote it: opening the file again later
    // would wake every scanner and fails where another program holds it.
    if (keep && !os.flushFile(file)) keep = false;
    os.closeFile(file);
  }
  file = kInvalidFile;
  if (!keep) os.deleteFile(path);
  return keep;
}

}  // namespace velmo
