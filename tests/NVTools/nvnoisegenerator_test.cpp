#include "nvnoisegenerator.h"

#include <gtest/gtest.h>

namespace {

TEST(NVNoiseGenerator, SequenceFromTheSeed)
{
    NVNoiseGenerator g;
    EXPECT_EQ(g.getNextValue(), 0x369D02u);
    EXPECT_EQ(g.getNextValue(), 0x7F6E5Au);
    EXPECT_EQ(g.getNextValue(), 0x11110Au);
    g.reset();
    EXPECT_EQ(g.getByteNoise(), 0x36);
    g.reset();
    EXPECT_EQ(g.getWordNoise(), 0x369D);
    EXPECT_EQ(g.getWordNoise(), 0x7F6E);
}

TEST(NVNoiseGenerator, ValueAfterLoops)
{
    NVNoiseGenerator fresh;
    EXPECT_EQ(fresh.getValueAfterLoops(0), 0x3456);   // the accumulator before the reset
    EXPECT_EQ(fresh.getValueAfterLoops(3), 0x110A);
    NVNoiseGenerator drawn;
    drawn.getNextValue();
    EXPECT_EQ(drawn.getValueAfterLoops(0), 0x9D02);
    EXPECT_EQ(drawn.getValueAfterLoops(1), 0x9D02);
}

TEST(NVNoiseGenerator, CountUntil)
{
    NVNoiseGenerator g;
    EXPECT_EQ(g.getCountUntil(0x6E5A), 2);
    EXPECT_EQ(g.getCountUntil(static_cast<short>(0x9D02)), 1);
    // Every step of the count restarts from the seed, whatever was drawn before.
    g.getNextValue();
    EXPECT_EQ(g.getCountUntil(0x110A), 3);
    // The value after n loops is found again within n steps.
    unsigned short v = g.getValueAfterLoops(100000);
    int32_t n = g.getCountUntil(static_cast<short>(v));
    EXPECT_GT(n, 0);
    EXPECT_LE(n, 100000);
    EXPECT_EQ(g.getValueAfterLoops(static_cast<unsigned>(n)), v);
}

TEST(NVNoiseGenerator, EveryTargetIsReachedWithinThePeriod)
{
    // From the seed every 16-bit value turns up; 0x4CFB is the last to appear for the first
    // time, so no target runs the count out to -1.
    NVNoiseGenerator g;
    EXPECT_EQ(g.getCountUntil(0x4CFB), 924181);
    EXPECT_EQ(g.getValueAfterLoops(924181), 0x4CFB);
}

TEST(NVNoiseGenerator, ScrambleEthernet)
{
    struct Case {
        unsigned char o2, o3, o4;
        EScrambleAlgorithm alg;
        int result;
    };
    const Case cases[] = {
        {0x12, 0x00, 0x00, kScrambleAlgorithm0, 1},
        {0x12, 0x00, 0x00, kScrambleAlgorithm1, 1},
        {0x00, 0x00, 0x01, kScrambleAlgorithm0, 10},
        {0x00, 0x00, 0x01, kScrambleAlgorithm1, 15},
    };
    NVNoiseGenerator g;
    for (const Case& c : cases) {
        MacAddress mac{{0xAA, 0xBB, c.o2, c.o3, c.o4, 0xCC}};
        EXPECT_EQ(g.scrambleEthernet(mac, c.alg), c.result) << int(c.o2) << ' ' << int(c.o4) << ' ' << c.alg;
    }
    // Results stay in 0-15 and repeat exactly, over the longest run of passes too.
    MacAddress most{{0, 0, 0xFF, 0xFF, 0xFF, 0}};
    int first = g.scrambleEthernet(most, kScrambleAlgorithm1);
    EXPECT_LT(first, 16);
    EXPECT_EQ(g.scrambleEthernet(most, kScrambleAlgorithm1), first);
    EXPECT_LT(g.scrambleEthernet(most, static_cast<EScrambleAlgorithm>(5)), 16);
}

} // namespace
