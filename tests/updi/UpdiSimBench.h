// A simulated chip on a simulated adapter, and the programmer over them.
#pragma once

#include <memory>
#include <string>

#include "sim/SimUpdiTarget.h"
#include "sim/SimUpdiWire.h"
#include "sim/VirtualCounter.h"
#include "updi/UpdiProgrammer.h"

struct SUpdiSimBench {
    explicit SUpdiSimBench(const std::string& partName, SSimUpdiFaults faults = SSimUpdiFaults())
        : part(SimUpdiPartNamed(partName)),
          target(std::make_unique<CSimUpdiTarget>(*part, clock)),
          wire(target.get(), clock, faults),
          programmer(wire) {}

    const SSimUpdiPart* part;
    CVirtualCounter clock;
    std::unique_ptr<CSimUpdiTarget> target;
    CSimUpdiWire wire;
    CUpdiProgrammer programmer;
};
