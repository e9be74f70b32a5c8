#pragma once
// The small demo game, made once per test process by the demo-game tool.
#include <string>

namespace velmo::test {

// The folder holding harrowmere-1.0.7.xapk, expected/, pack.bin and
// velmo-patcher; empty when the tool failed.
const std::string& smallDemoGame();

// True when two trees hold the same files with the same bytes.
bool sameTree(const std::string& a, const std::string& b, std::string& difference);

}  // namespace velmo::test
