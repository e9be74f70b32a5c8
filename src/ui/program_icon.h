#pragma once
// The patcher's program icon, a pale snowflake on the wizard's dark blue. One
// drawing for every place that shows it: the GTK window's icon list, and the
// icon resources the pack tool writes into a Windows patcher (the window
// class and Explorer load icon group 1 of the executable).
#include "common/bytes.h"

namespace velmo {

// The icon at one size, supersampled: straight RGBA, rows top to bottom.
Bytes drawProgramIcon(int size);

}  // namespace velmo
