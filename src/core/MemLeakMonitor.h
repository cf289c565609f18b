#pragma once
// The monitors the run loop consults around every test to decide whether it leaked.
// Nothing here measures memory: every reading is "no change", so the protocol runs in
// full, the settings stay meaningful, and a test is never failed for a leak.

#include "core/TestInterfaces.h"

#include <cstdint>
#include <string>

namespace TestFramework {

class IMemLeakMonitor {
public:
    static constexpr const char* IID = "{041368CC-5B04-4111-9E2E-05A5908B3A58}";
    virtual ~IMemLeakMonitor() = default;
    // The change since the monitor was created or last marked; true when it is a leak.
    virtual bool MemLeakDetected(std::int32_t& leakSize) = 0;
};

class IRovedMemLeakMonitor : public virtual IMemLeakMonitor {
public:
    static constexpr const char* IID = "{45466FCA-1ADC-4457-A41C-88FA3F8D23F7}";
    using IMemLeakMonitor::MemLeakDetected;
    // Against one allowed size.
    virtual bool MemLeakDetected(std::int32_t allowedLeakSize, bool failOnMemoryRecovery,
                                 std::int32_t& leakSize) = 0;
    // Against the test's allowed-leak list, read through its iterator.
    virtual bool MemLeakDetected(const TAllowedLeakFunc& allowedValues, bool failOnMemoryRecovery,
                                 std::int32_t& leakIndex, std::int32_t& leakSize) = 0;
    // True when there is nothing to report; otherwise errorMsg describes the change.
    virtual bool GetMemoryUseMsg(bool failOnMemoryRecovery, std::int32_t testProcChangeInMem,
                                 std::string& errorMsg) = 0;
    virtual bool GetMemoryUseMsg(bool failOnMemoryRecovery, std::int32_t setUpChangeInMem,
                                 std::int32_t testProcChangeInMem, std::int32_t tearDownChangeInMem,
                                 std::int32_t testCaseChangeInMem, std::string& errorMsg) = 0;
    // Takes the current memory use as the new base line.
    virtual void MarkMemInUse() = 0;
};

using IRovedMemLeakMonitorPtr = std::shared_ptr<IRovedMemLeakMonitor>;

class TMemLeakMonitor : public virtual IMemLeakMonitor {
public:
    bool MemLeakDetected(std::int32_t& leakSize) override;
};

class TRovedMemLeakMonitor : public TMemLeakMonitor, public IRovedMemLeakMonitor {
public:
    using TMemLeakMonitor::MemLeakDetected;
    // With a measured change of 0, a "leak" is an allowed size that is not 0.
    bool MemLeakDetected(std::int32_t allowedLeakSize, bool failOnMemoryRecovery,
                         std::int32_t& leakSize) override;
    // Reads exactly one allowed value; the getter must be callable.
    bool MemLeakDetected(const TAllowedLeakFunc& allowedValues, bool failOnMemoryRecovery,
                         std::int32_t& leakIndex, std::int32_t& leakSize) override;
    bool GetMemoryUseMsg(bool failOnMemoryRecovery, std::int32_t testProcChangeInMem,
                         std::string& errorMsg) override;
    bool GetMemoryUseMsg(bool failOnMemoryRecovery, std::int32_t setUpChangeInMem,
                         std::int32_t testProcChangeInMem, std::int32_t tearDownChangeInMem,
                         std::int32_t testCaseChangeInMem, std::string& errorMsg) override;
    void MarkMemInUse() override;
};

// How many values a test may add to its allowed-leak list (entry 0 is the allowed size).
inline constexpr int AllowedLeakArrayLimit = 3;

// The failure text of a test that gives its allowed-leak list more values than it holds.
std::string TooManyAllowedLeaksMessage();

} // namespace TestFramework
