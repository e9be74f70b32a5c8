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
  if (file != kInvalidFile) os.closeFile(file);
  file = kInvalidFile;
  bool keep = proven && !failed;
  if (!keep) os.deleteFile(path);
  return keep;
}

}  // namespace velmo
