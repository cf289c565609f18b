#include "platform/Clock.h"

#include <chrono>

namespace Sys {

namespace {
using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::nanoseconds;
} // namespace

std::int64_t QueryPerformanceCounter()
{
    return std::chrono::duration_cast<Ticks>(Clock::now().time_since_epoch()).count();
}

std::int64_t QueryPerformanceFrequency()
{
    return Ticks::period::den / Ticks::period::num;
}

std::uint32_t GetTickCount()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

} // namespace Sys
