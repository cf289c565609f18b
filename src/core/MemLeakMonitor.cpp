#include "core/MemLeakMonitor.h"

#include "core/TestExceptions.h"
#include "platform/SysUtils.h"

namespace TestFramework {

bool TMemLeakMonitor::MemLeakDetected(std::int32_t& leakSize)
{
    leakSize = 0;
    return false;
}

bool TRovedMemLeakMonitor::MemLeakDetected(std::int32_t allowedLeakSize, bool /*failOnMemoryRecovery*/,
                                           std::int32_t& leakSize)
{
    TMemLeakMonitor::MemLeakDetected(leakSize);
    return allowedLeakSize != 0;
}

bool TRovedMemLeakMonitor::MemLeakDetected(const TAllowedLeakFunc& allowedValues,
                                           bool /*failOnMemoryRecovery*/, std::int32_t& leakIndex,
                                           std::int32_t& leakSize)
{
    Sys::Assert(static_cast<bool>(allowedValues), FrameworkUnit, __LINE__);
    TMemLeakMonitor::MemLeakDetected(leakSize);
    leakIndex = 0;
    return allowedValues() != 0;
}

bool TRovedMemLeakMonitor::GetMemoryUseMsg(bool, std::int32_t, std::string& errorMsg)
{
    errorMsg.clear();
    return true;
}

bool TRovedMemLeakMonitor::GetMemoryUseMsg(bool, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                           std::string& errorMsg)
{
    errorMsg.clear();
    return true;
}

void TRovedMemLeakMonitor::MarkMemInUse() {}

std::string TooManyAllowedLeaksMessage()
{
    return "Too many values in for AllowedLeakArray. Limit = " + std::to_string(AllowedLeakArrayLimit);
}

} // namespace TestFramework
