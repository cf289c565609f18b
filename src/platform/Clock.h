#pragma once
// Time sources: the high-resolution performance counter and the millisecond tick counter.

#include <cstdint>

namespace Sys {

std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency(); // counts per second
std::uint32_t GetTickCount();             // milliseconds since an arbitrary start, wraps

} // namespace Sys
