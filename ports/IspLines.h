// How the instructions reach the chip: shifting 32-bit instructions out on
// MOSI with SCK while the answer bits come back on MISO. A line layer may
// take many instructions at once; over a USB cable that is what makes
// programming fast, since every separate exchange with the cable is a USB
// round trip.
#pragma once

#include <cstddef>
#include <cstdint>

class IIspLines {
public:
    virtual ~IIspLines() = default;

    // Shifts count instructions out, most significant bit first, one after
    // the other, and fills answers[i] with the bits answerBits[i] asks for
    // (the others 0). SCK is low before and after. false when a line call
    // failed: the answers cannot be trusted then, and none of the
    // instructions may be taken for sent.
    virtual bool Shift(const uint32_t* instructions, const uint32_t* answerBits, uint32_t* answers,
                       size_t count) = 0;
    // How many instructions are worth sending at once: 1 where each line
    // change costs the same whether batched or not.
    virtual size_t BatchLength() const = 0;
    // Something outside Shift changed the lines (a reset pulse, a new port):
    // nothing is known of their levels now.
    virtual void Forget() {}
    // Programming Enable did not get through: go slower (a chip on a slow
    // clock needs a slower SCK). false when the lines cannot.
    virtual bool SlowDown() { return false; }
    // No chip answered even at the slowest: back to the clock the port was
    // opened with, so that the next chip (an empty socket filled again) is
    // not programmed at the slowest clock.
    virtual void RestoreSpeed() {}
};
