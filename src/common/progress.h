#pragma once
// The one way long operations report how far they got and learn whether to
// go on: unpacking, archive extraction, delta apply and the LZMA loops call
// it between chunks of work.
#include <cstdint>
#include <functional>

namespace velmo {

// Called with the bytes of work finished since the last call (0 just to ask);
// returns false to make the operation stop as soon as it can.
using ProgressFn = std::function<bool(uint64_t advanced)>;

// What an operation that stopped because it was asked to reports, up to the
// user's screen or log.
constexpr wchar_t kCancelledText[] = L"Cancelled.";

// True when the operation should go on; an empty function never stops it.
inline bool keepGoing(const ProgressFn& progress, uint64_t advanced) { return !progress || progress(advanced); }

}  // namespace velmo
