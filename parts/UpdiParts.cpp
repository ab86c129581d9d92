#include "parts/UpdiParts.h"

#include <cctype>
#include <iterator>

#include "parts/UpdiRows.h"

namespace {

using updi_rows::kUpdiRows;

bool SameText(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] != '\0'; ++i) {
        if (i >= b.size() || std::tolower(static_cast<unsigned char>(a[i])) !=
                                 std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == b.size();
}

}  // namespace

size_t CUpdiParts::Count() {
    return std::size(kUpdiRows);
}

const SUpdiPart& CUpdiParts::At(size_t index) {
    return kUpdiRows[index];
}

const SUpdiPart* CUpdiParts::ByName(const std::string& name) {
    for (const SUpdiPart& part : kUpdiRows) {
        if (SameText(part.name, name)) {
            return &part;
        }
    }
    return nullptr;
}

const SUpdiPart* CUpdiParts::ById(const std::string& id) {
    for (const SUpdiPart& part : kUpdiRows) {
        if (SameText(part.id, id)) {
            return &part;
        }
    }
    return nullptr;
}

const SUpdiPart* CUpdiParts::BySignature(const uint8_t signature[3]) {
    for (const SUpdiPart& part : kUpdiRows) {
        if (part.signature[0] == signature[0] && part.signature[1] == signature[1] &&
            part.signature[2] == signature[2]) {
            return &part;
        }
    }
    return nullptr;
}

const SUpdiFuse* CUpdiParts::FuseByName(const SUpdiPart& part, const std::string& name) {
    for (size_t i = 0; i < part.fuses.count; ++i) {
        if (SameText(part.fuses.fuses[i].name, name)) {
            return &part.fuses.fuses[i];
        }
    }
    return nullptr;
}

const char* CUpdiParts::FamilyName(EUpdiFamily family) {
    switch (family) {
        case EUpdiFamily::kTinyAvr:
            return "tinyAVR";
        case EUpdiFamily::kMegaAvr:
            return "megaAVR";
        case EUpdiFamily::kAvrDa:
            return "AVR DA";
        case EUpdiFamily::kAvrDb:
            return "AVR DB";
        case EUpdiFamily::kAvrDd:
            return "AVR DD";
        case EUpdiFamily::kAvrEa:
            return "AVR EA";
    }
    return "";
}
