#pragma once
// The ground the fault sweeps run on: a folder holding an older install of
// the small demo game and the player's own files, and the judgement of what
// a run left there.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/fault_platform.h"

namespace velmo::test {

struct OlderInstall {
  std::string expected;  // the demo game's expected tree
  std::string original;  // the folder as the player has it, kept to copy from
  std::map<std::string, std::string> before, after;  // snapshots: as it is, and once installed

  // Makes the player's folder under work from the demo game in demo.
  bool make(const std::string& demo, const std::string& work);
  // Puts dest back to the player's folder (removing whatever is there).
  void restore(const std::string& dest) const;
  // Empty when a run's outcome is sound: success with exactly the installed
  // tree, or failure with the folder exactly as before; either way nothing
  // left in the temporary folder. A file kept aside after success is
  // accepted when the failed call was its deletion (as if another program
  // held it); setAsideLeft then tells the caller to see the next run remove it.
  std::string judge(bool ok, const std::string& dest, const std::string& tempRoot, const FaultCall& failed,
                    bool* setAsideLeft = nullptr) const;
};

// "k=12 deleteFile(...)": the fault, for messages.
std::string describeFault(uint64_t k, const FaultCall& failed);

// A road swept over the older install.
struct SweepRoad {
  std::string dest, tempRoot;
  std::function<void()> reset;  // the ground as before each run (the folder, the log)
  std::function<int()> run;     // one run; its exit code, 0 for success
  // More of a run's outcome to judge (its log, its screen); empty when sound.
  std::function<std::string(int code, const FaultCall& failed)> check;
  std::function<void()> nextStart;  // what the program's next start does before its run
};

struct SweepResult {
  uint64_t calls = 0;  // counted calls of a run without faults
  size_t runs = 0;     // faults tried
  std::map<std::string, int> outcomes;  // "OK, op" or "failed, op": how many
  std::vector<std::string> unsound;
  std::string summary() const;
};

// Which calls of a clean run's trace a sweep fails, numbered from 1: all of
// them when sample is 0; otherwise every call from the first after the
// last staged file is flushed (the proof, the move, the clean-ups, the
// log) and `sample` of the calls before it, chosen with a fixed seed.
std::vector<uint64_t> sweepPoints(const std::vector<FaultCall>& trace, size_t sample);

// Fails the calls of sweepPoints, one run each from the reset ground:
// Once, each call alone, judged by OlderInstall::judge and the road's check;
// PowerCut, every call from it on, after which a plain run, as the next
// start of the program, must end in success with nothing of the cut left.
SweepResult sweepFaults(FaultPlatform& faults, const OlderInstall& older, const SweepRoad& road, FaultMode mode,
                        size_t sample);

}  // namespace velmo::test
