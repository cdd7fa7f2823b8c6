#include "nvnoisegenerator.h"

int32_t NVNoiseGenerator::getCountUntil(short target)
{
    reset();
    // Local copies keep the loop in registers; the fields get the final state.
    uint32_t r = mRegister;
    uint32_t acc = mAccumulator;
    const uint16_t wanted = static_cast<uint16_t>(target);
    uint32_t count = 0;
    do {
        r = nextRegister(r);
        acc = (acc + r) & 0xFFFFFF;
        ++count;
    } while (static_cast<uint16_t>(acc) != wanted && count != kPeriod);
    mRegister = r;
    mAccumulator = acc;
    return count == kPeriod ? -1 : static_cast<int32_t>(count);
}

unsigned short NVNoiseGenerator::getValueAfterLoops(unsigned int n)
{
    uint32_t last = mAccumulator;
    reset();
    for (unsigned int i = 0; i < n; ++i)
        last = step();
    return static_cast<unsigned short>(last);
}

unsigned char NVNoiseGenerator::scrambleEthernet(MacAddress const& mac, EScrambleAlgorithm alg)
{
    reset();
    uint32_t v = mac[2] * 65536u + mac[3] * 256u + mac[4];
    uint32_t passes = v & 0xFFFF;
    for (uint32_t i = 0; i < passes; ++i) {
        v ^= getNextValue();
        v <<= 8;
        v |= v >> 24;
        uint32_t b = v & 0xFF;
        bool swap = (alg == kScrambleAlgorithm0 && b > 127) || (alg == kScrambleAlgorithm1 && b < 127);
        if (swap)
            v = (v & 0xFFFF00) | (b >> 4) | ((b << 4) & 0xFF);
    }
    return static_cast<unsigned char>(((v & 0xFF) ^ ((v >> 8) & 0xFF) ^ ((v >> 16) & 0xFF)) >> 4);
}
