#include "nvobject.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct Probe : NVObject {
    explicit Probe(int* deaths) : mDeaths(deaths) {}
    ~Probe() override { ++*mDeaths; }
    int* mDeaths;
};

TEST(NVObject, BaseOperationsAreNeutral)
{
    NVObject a, b;
    EXPECT_EQ(a.compare(b), 0);
    EXPECT_TRUE(a.isEqual(b));
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.getReferenceCount(), 0);
}

TEST(NVObject, LastReleaseDeletesExactlyOnce)
{
    int deaths = 0;
    auto* p = new Probe(&deaths);
    p->incReferences();
    p->incReferences();
    p->decReferences();
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(p->getReferenceCount(), 1);
    p->decReferences();
    EXPECT_EQ(deaths, 1);
}

TEST(NVObject, ReleaseBelowZeroLeavesObjectAlive)
{
    int deaths = 0;
    Probe p(&deaths);
    p.decReferences();
    EXPECT_EQ(p.getReferenceCount(), -1);
    EXPECT_EQ(deaths, 0);
}

TEST(NVObject, ConcurrentReleasesDeleteOnce)
{
    for (int round = 0; round < 50; ++round) {
        int deaths = 0;
        auto* p = new Probe(&deaths);
        constexpr int kHolders = 8;
        for (int i = 0; i < kHolders; ++i)
            p->incReferences();
        std::vector<std::thread> threads;
        for (int i = 0; i < kHolders; ++i)
            threads.emplace_back([p] { p->decReferences(); });
        for (auto& t : threads)
            t.join();
        ASSERT_EQ(deaths, 1);
    }
}

} // namespace
