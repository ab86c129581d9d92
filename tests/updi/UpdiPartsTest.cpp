// The program's parts table against the simulator's, which is written from
// the data sheets on its own: every field both know must agree.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "parts/UpdiParts.h"
#include "sim/SimUpdiParts.h"

// Every chip the simulator knows, of every NVM controller version, has a row
// here that agrees with it.
TEST(UpdiParts, EverySimulatedChipAgreesWithItsRow) {
    for (size_t i = 0; i < SimUpdiPartCount(); ++i) {
        const SSimUpdiPart& sim = SimUpdiPartAt(i);
        SCOPED_TRACE(sim.name);
        const SUpdiPart* row = CUpdiParts::ByName(sim.name);
        ASSERT_NE(row, nullptr) << "a simulated chip is missing from the parts";
        const SUpdiPart& part = *row;
        for (int b = 0; b < 3; ++b) {
            EXPECT_EQ(part.signature[b], sim.signature[b]);
        }
        // The SIB names the family in one word ("AVR" for every Dx/Ex).
        const std::string family = CUpdiParts::FamilyName(part.family);
        EXPECT_EQ(family.substr(0, family.find(' ')), sim.family);
        EXPECT_EQ(part.nvmVersion, sim.nvmVersion);
        EXPECT_EQ(part.flashBytes, sim.flashBytes);
        EXPECT_EQ(part.flashPage, sim.flashPage);
        EXPECT_EQ(part.flashAddr, sim.flashAddr);
        EXPECT_EQ(part.eepromBytes, sim.eepromBytes);
        EXPECT_EQ(part.eepromPage, sim.eepromPage);
        EXPECT_EQ(part.eepromAddr, sim.eepromAddr);
        EXPECT_EQ(part.userRowBytes, sim.userRowBytes);
        EXPECT_EQ(part.userRowAddr, sim.userRowAddr);
        EXPECT_EQ(part.lockAddr, sim.lockAddr);
        EXPECT_EQ(part.lockBytes, sim.lockBytes);
        EXPECT_EQ(part.signatureAddr, sim.signatureAddr);
        EXPECT_EQ(part.nvmBase, sim.nvmBase);
        std::set<uint32_t> fuses, simFuses;
        for (size_t f = 0; f < part.fuses.count; ++f) {
            fuses.insert(part.fuses.fuses[f].address);
        }
        for (uint32_t a = sim.fuseAddr; a < sim.fuseAddr + sim.fuseBytes; ++a) {
            if (SimUpdiFuseExists(sim, a)) {
                simFuses.insert(a);
            }
        }
        EXPECT_EQ(fuses, simFuses);
    }
}

TEST(UpdiParts, LookUpByNameIdAndSignature) {
    const SUpdiPart* byName = CUpdiParts::ByName("atmega1609");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->family, EUpdiFamily::kMegaAvr);
    EXPECT_EQ(CUpdiParts::ById("m1609"), byName);
    EXPECT_EQ(CUpdiParts::BySignature(byName->signature), byName);
    EXPECT_EQ(CUpdiParts::ByName("ATtiny2313"), nullptr);
    ASSERT_NE(CUpdiParts::FuseByName(*byName, "SYSCFG0"), nullptr);
    EXPECT_EQ(CUpdiParts::FuseByName(*byName, "tcd0cfg"), nullptr);
    // No two rows share a name, an id or a signature.
    for (size_t i = 0; i < CUpdiParts::Count(); ++i) {
        const SUpdiPart& part = CUpdiParts::At(i);
        EXPECT_EQ(CUpdiParts::ByName(part.name), &part);
        EXPECT_EQ(CUpdiParts::ById(part.id), &part);
        EXPECT_EQ(CUpdiParts::BySignature(part.signature), &part) << part.name;
    }
}
