#pragma once
// The program icon (ui/program_icon.h) as the icon resources of a Windows
// patcher, written with its pack: the window class and Explorer load icon
// group 1 of the executable.
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace velmo {

constexpr uint16_t kIconResourceType = 3;        // RT_ICON
constexpr uint16_t kGroupIconResourceType = 14;  // RT_GROUP_ICON
constexpr uint16_t kProgramIconGroupId = 1;

// The sizes drawn, smallest first; the image of kProgramIconSizes[i] is
// RT_ICON i + 1. The 256 one is a PNG, the others 32-bpp DIBs.
constexpr int kProgramIconSizes[] = {16, 24, 32, 48, 256};

struct ProgramIcon {
  std::vector<Bytes> images;  // RT_ICON 1..n
  Bytes group;                // the RT_GROUP_ICON directory naming them
};

// Drawn on first use, then kept for the process.
const ProgramIcon& programIcon();

}  // namespace velmo
