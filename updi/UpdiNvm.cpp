#include "updi/UpdiNvm.h"

#include "updi/UpdiNvmV0.h"
#include "updi/UpdiNvmV2.h"
#include "updi/UpdiNvmV3.h"

namespace {

// The SIB's "P:n" of each controller with a driver here.
constexpr int kNvmVersion0 = 0;
constexpr int kNvmVersion2 = 2;
constexpr int kNvmVersion3 = 3;

}  // namespace

std::unique_ptr<IUpdiNvm> MakeUpdiNvm(int version, CUpdiLink& link, uint32_t nvmBase) {
    switch (version) {
        case kNvmVersion0:
            return std::make_unique<CUpdiNvmV0>(link, nvmBase);
        case kNvmVersion2:
            return std::make_unique<CUpdiNvmV2>(link, nvmBase);
        case kNvmVersion3:
            return std::make_unique<CUpdiNvmV3>(link, nvmBase);
        default:
            return nullptr;
    }
}
