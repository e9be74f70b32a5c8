#pragma once
// An output file that exists afterwards only if its bytes were proven: it is
// created, written chunk by chunk, and kept only when finished as proven;
// every other end (a failed write, a mismatch, an early return) deletes it.
#include <string>

#include "platform/platform.h"

namespace velmo {

struct StagedOutput {
  std::wstring path;
  FileHandle file = kInvalidFile;
  bool failed = false;  // a write failed; finish then deletes whatever it was told

  StagedOutput() = default;
  ~StagedOutput();  // an output never finished is deleted
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Creates (replacing) the file.
  bool create(const std::wstring& outputPath);
  // Writes all bytes or marks the output failed.
  bool write(const void* data, size_t size);
  // Closes the file; keeps it, flushed to the disk, when proven and every
  // write and the flush succeeded, deletes it otherwise. Returns whether it
  // was kept.
  bool finish(bool proven);
};

}  // namespace velmo
