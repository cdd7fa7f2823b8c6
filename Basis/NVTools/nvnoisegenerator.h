#ifndef NVNOISEGENERATOR_H
#define NVNOISEGENERATOR_H

#include <cstdint>

// Six-octet Ethernet address, in stored order.
struct MacAddress {
    unsigned char mOctets[6];
    unsigned char operator[](int i) const { return mOctets[i]; }
};

enum EScrambleAlgorithm { kScrambleAlgorithm0 = 0, kScrambleAlgorithm1 = 1 };

// Deterministic noise: a 24-bit feedback shift register summed into a 24-bit accumulator,
// always starting from the same seed, so equal calls give equal results everywhere.
class NVNoiseGenerator {
public:
    NVNoiseGenerator() { reset(); }
    ~NVNoiseGenerator() {}

    void reset() { mRegister = mAccumulator = kSeed; }
    uint32_t getNextValue() { return step(); }                                         // 24 bits
    unsigned char getByteNoise() { return static_cast<unsigned char>(step() >> 16); }
    unsigned short getWordNoise() { return static_cast<unsigned short>(step() >> 8); }

    // These three start again from the seed. getCountUntil gives -1 when the low 16 bits of
    // the accumulator do not come to target within 16777214 steps.
    int32_t getCountUntil(short target);
    unsigned short getValueAfterLoops(unsigned int n);
    unsigned char scrambleEthernet(MacAddress const& mac, EScrambleAlgorithm alg);

private:
    static constexpr uint32_t kSeed = 0x123456;
    static constexpr uint32_t kFeedback = 0x1D872B;
    static constexpr uint32_t kPeriod = 0xFFFFFF;

    // The register keeps the bits shifted above bit 23; only bit 24 right after the shift
    // (the old bit 23) drives the feedback, and nothing above bit 23 reaches a result.
    static uint32_t nextRegister(uint32_t r)
    {
        r *= 2;
        return (r & 0x1000000u) ? r ^ kFeedback : r;
    }
    uint32_t step()
    {
        mRegister = nextRegister(mRegister);
        mAccumulator = (mAccumulator + mRegister) & 0xFFFFFF;
        return mAccumulator;
    }

    uint32_t mRegister;
    uint32_t mAccumulator;
};

#endif
