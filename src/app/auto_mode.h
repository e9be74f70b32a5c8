#pragma once
#include <string>

#include "app/startup.h"
#include "install/install_state.h"

namespace velmo {

constexpr wchar_t kAutoLogName[] = L"patcher-auto.txt";

// Writes text (UTF-8, no line end added) as the whole auto log beside the
// executable, replacing an earlier one. Silent when it cannot be written;
// one that cannot be written whole is removed.
void writeAutoLog(const std::wstring& exeDirectory, const std::wstring& text);

// The unattended road: returns the process exit code (0 or 1).
int runAutoMode(Startup& startup, InstallState& state);

}  // namespace velmo
