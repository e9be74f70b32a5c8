#pragma once
// A platform table over the native one that counts every call that can fail
// and fails the chosen ones the way the system fails them: false, an
// invalid handle, a write cut short, a read cut short, a listing that stops
// part-way with an error. In force for the life of the object.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velmo::test {

enum class FaultMode {
  None,
  Once,      // call `at` fails; the others run
  PowerCut,  // every call from `at` on fails and changes nothing
};

struct FaultCall {
  std::string op;     // the operation's name in PlatformOps
  std::wstring path;  // its first path, when it has one
};

class FaultPlatform {
 public:
  FaultPlatform();
  ~FaultPlatform();
  FaultPlatform(const FaultPlatform&) = delete;
  FaultPlatform& operator=(const FaultPlatform&) = delete;

  // Starts counting from 0; calls are numbered from 1.
  void arm(FaultMode mode, uint64_t at);
  void disarm() { arm(FaultMode::None, 0); }
  uint64_t calls() const;
  // The first call that was failed; op is empty when none was.
  FaultCall failed() const;
  // Every call counted since arm, in order.
  std::vector<FaultCall> trace() const;
  // What the end of the process does after a cut: every handle opened
  // through this table and not closed is closed (its locks let go).
  void closeLeftHandles();
  // Answers for an environment variable, as if it were set.
  void setEnvironment(const std::wstring& name, const std::wstring& value);
  // Calls as a later process would see them: another process id, and the
  // present one gone.
  void actAsNextProcess(bool on);

  const PlatformOps& ops() const { return ops_; }

 private:
  PlatformOps ops_;
  ScopedPlatformOverride* override_ = nullptr;
};

}  // namespace velmo::test
