#pragma once
// The ground the fault sweeps run on: a folder holding an older install of
// the small demo game and the player's own files, and the judgement of what
// a run left there.
#include <map>
#include <string>

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

}  // namespace velmo::test
