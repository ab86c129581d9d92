// An operation host that shows nothing: for tests and benchmarks that look
// at the chip, not at the messages.
#pragma once

#include <string>

#include "ops/OperationHost.h"

class CQuietHost : public IOperationHost {
public:
    void AddMessage(const std::string&) override {}
    void AppendMessage(const std::string&) override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    LockTicks& Ticks() override { return m_ticks; }

private:
    LockTicks m_ticks;
};
