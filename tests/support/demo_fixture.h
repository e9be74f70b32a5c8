#pragma once
// The small demo game, made once per test process by the demo-game tool.
#include <string>

namespace velmo::test {

// The folder holding harrowmere-1.0.7.xapk, expected/, pack.bin and
// velmo-patcher; empty when the tool failed.
const std::string& smallDemoGame();

// The entry the first line of a demo pack's XAPK fingerprint names (an APK
// entry: the first record in path order that reads one); empty when none.
std::string firstFingerprintEntry(const std::string& demoDir);

// True when two trees hold the same files with the same bytes.
bool sameTree(const std::string& a, const std::string& b, std::string& difference);

}  // namespace velmo::test
