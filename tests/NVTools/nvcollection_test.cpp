#include "nvcollection.h"
#include "nvstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Counts its deletions; onCommand 1 takes it out of the collection it names.
struct Item : NVObject {
    explicit Item(int* deaths = nullptr, NVCollection* home = nullptr) : mDeaths(deaths), mHome(home) {}
    ~Item() override
    {
        if (mDeaths)
            ++*mDeaths;
    }
    void onCommand(long command, long param) override
    {
        mSeen += param;
        if (command == 1 && mHome)
            mHome->remove(this);
    }
    int* mDeaths;
    NVCollection* mHome;
    long mSeen = 0;
};

std::string texts(NVCollection& c)
{
    std::string out;
    for (long i = 0; i < c.count(); ++i)
        out += static_cast<const char*>(*static_cast<NVString*>(c.atPos(i)));
    return out;
}

NVString* str(const char* s) { return new NVString(s); }

TEST(NVCollection, CapacityDoublesUpTo32767AndThenRefuses)
{
    NVCollection c;
    Item keep;
    keep.incReferences();   // held by the test as well, so removeAll does not delete it
    std::vector<std::pair<long, long>> growth;   // (element count, capacity after it)
    long last = c.getCapacity();
    EXPECT_EQ(last, 5);
    for (long i = 1; i <= 32767; ++i) {
        ASSERT_TRUE(c.add(&keep));
        if (c.getCapacity() != last)
            growth.push_back({i, last = c.getCapacity()});
    }
    const std::vector<std::pair<long, long>> expected = {
        {6, 10}, {11, 20}, {21, 40}, {41, 80}, {81, 160}, {161, 320}, {321, 640}, {641, 1280},
        {1281, 2560}, {2561, 5120}, {5121, 10240}, {10241, 20480}, {20481, 32767}};
    EXPECT_EQ(growth, expected);
    EXPECT_EQ(keep.getReferenceCount(), 32768);
    EXPECT_FALSE(c.add(&keep));
    EXPECT_EQ(keep.getReferenceCount(), 32768);
    c.removeAll();
    EXPECT_EQ(keep.getReferenceCount(), 1);
    EXPECT_EQ(c.getCapacity(), 32767);
    EXPECT_EQ(c.count(), 0);
}

TEST(NVCollection, ReferencesFollowTheSlots)
{
    int deaths = 0;
    auto* a = new Item(&deaths);
    auto* b = new Item(&deaths);
    {
        NVCollection c;
        EXPECT_FALSE(c.add(nullptr));
        c.add(a);
        c.add(b);
        c.add(a);
        EXPECT_EQ(a->getReferenceCount(), 2);
        c.remove(a);   // the first slot only
        EXPECT_EQ(a->getReferenceCount(), 1);
        EXPECT_EQ(c.atPos(0), b);
        EXPECT_EQ(c.atPos(1), a);
        EXPECT_EQ(c.atPos(-1), nullptr);
        EXPECT_EQ(c.atPos(c.count()), nullptr);
        c.remove(nullptr);
        c.remove(b);   // the last reference: deleted
        EXPECT_EQ(deaths, 1);
        EXPECT_EQ(c.count(), 1);
        EXPECT_EQ(c.atPos(0), a);
    }
    EXPECT_EQ(deaths, 2);   // destroying the collection released a
}

TEST(NVCollection, SearchesByEqualityAndByIdentity)
{
    NVCollection c;
    Item a, b, stranger;
    a.incReferences();
    b.incReferences();
    c.add(&a);
    c.add(&b);
    // The base isEqual says every object is equal, so the first element always matches.
    EXPECT_EQ(c.findIndex(&stranger), 0);
    EXPECT_EQ(c.find(&stranger), &a);
    EXPECT_EQ(c.findIndex(nullptr), -1);
    EXPECT_EQ(c.find(nullptr), nullptr);
    EXPECT_EQ(c.findSameIndex(&b), 1);
    EXPECT_EQ(c.findSameIndex(&stranger), -1);
    EXPECT_TRUE(c.findSame(&a));
    EXPECT_FALSE(c.findSame(nullptr));
    c.removeAll();
}

TEST(NVCollection, ForEachReadsTheCountAfresh)
{
    NVCollection c;
    int deaths = 0;
    auto* a = new Item(&deaths, &c);
    auto* b = new Item(&deaths, &c);
    auto* d = new Item(&deaths, &c);
    c.add(a);
    c.add(b);
    c.add(d);
    b->incReferences();   // keep b to look at it afterwards
    c.forEach(1, 5);      // a removes itself (deleted); b moves into index 0 and is skipped
    EXPECT_EQ(deaths, 2); // a, and d which came to index 1 and removed itself too
    EXPECT_EQ(c.count(), 1);
    EXPECT_EQ(c.atPos(0), b);
    EXPECT_EQ(b->mSeen, 0);
    c.forEach(0, 7);
    EXPECT_EQ(b->mSeen, 7);
    c.removeAll();
    b->decReferences();
    EXPECT_EQ(deaths, 3);
}

TEST(NVCollection, ExpandGrowsByFiveWhenNotLarger)
{
    NVCollection c;
    EXPECT_TRUE(c.expand(0));
    EXPECT_EQ(c.getCapacity(), 10);
    EXPECT_TRUE(c.expand(3));
    EXPECT_EQ(c.getCapacity(), 15);
    EXPECT_TRUE(c.expand(40));
    EXPECT_EQ(c.getCapacity(), 40);
}

TEST(NVSortedCollection, InsertsInOrderWithTheBisectionTieBreak)
{
    struct Case {
        const char* name;
        std::vector<const char*> before;
        const char* added;
        long index;
    };
    const Case cases[] = {
        {"between", {"b", "d", "f"}, "e", 2},
        {"front", {"b", "d", "f"}, "a", 0},
        {"back", {"b", "d", "f"}, "g", 3},
        {"empty", {}, "x", 0},
        {"into three equal", {"m", "m", "m"}, "m", 1},
        {"into two equal", {"m", "m"}, "m", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NVSortedCollection s;
        for (const char* t : c.before)
            s.add(str(t));
        NVString* added = str(c.added);
        ASSERT_TRUE(s.add(added));
        EXPECT_EQ(s.findSameIndex(added), c.index);
    }
}

TEST(NVSortedCollection, FindsTheFirstOfAnEqualRun)
{
    NVSortedCollection s;
    for (const char* t : {"c", "b", "a", "b", "b"})
        s.add(str(t));
    EXPECT_EQ(texts(s), "abbbc");
    struct Case {
        const char* text;
        long index;
    };
    for (Case c : {Case{"b", 1}, Case{"a", 0}, Case{"c", 4}, Case{"bb", -1}, Case{"0", -1}, Case{"d", -1}}) {
        NVString probe(c.text);
        EXPECT_EQ(s.findIndex(&probe), c.index) << c.text;
    }
    NVString b("b");
    EXPECT_EQ(s.find(&b), s.atPos(1));
    EXPECT_EQ(s.findIndex(nullptr), -1);
}

TEST(NVSortedCollection, BatchModeAppendsAndSortsOnce)
{
    // Counts its sorts, so that a second setSorted(true) can be seen not to sort again.
    struct Counting : NVSortedCollection {
        int sorts = 0;
        void doSort() override
        {
            ++sorts;
            NVSortedCollection::doSort();
        }
    } s;
    EXPECT_FALSE(s.addUnsorted(nullptr));
    EXPECT_TRUE(s.isSorted());
    s.addUnsorted(str("z"));
    s.addUnsorted(str("a"));
    EXPECT_FALSE(s.isSorted());
    EXPECT_EQ(texts(s), "za");
    s.add(str("m"));   // batch mode appends
    EXPECT_EQ(texts(s), "zam");
    NVString a("a");
    EXPECT_EQ(s.findIndex(&a), 0);   // linear by isEqual, which is always true for strings
    s.setSorted(true);
    EXPECT_EQ(texts(s), "amz");
    s.setSorted(true);
    EXPECT_EQ(s.sorts, 1);
    s.setSorted(false);
    EXPECT_EQ(s.sorts, 1);
    s.forceResort();
    EXPECT_EQ(s.sorts, 2);
    EXPECT_TRUE(s.isSorted());
}

TEST(NVSortedCollection, CompareResultsBeyondOneCountAsEqual)
{
    struct Odd : NVObject {
        int32_t compare(const NVObject&) const override { return 7; }
    };
    NVSortedCollection s;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(s.add(new Odd));
    Odd probe;
    EXPECT_EQ(s.findIndex(&probe), 0);
    const void* x = s.atPos(0);
    const void* y = s.atPos(1);
    EXPECT_EQ(Lgf_SortedCollectionCompareFunction(&x, &y), 0);
}

TEST(NVSortedCollection, SortedInsertPassesThe32767Limit)
{
    NVSortedCollection s;
    Item keep;
    keep.incReferences();
    for (int i = 0; i < 32768; ++i)
        ASSERT_TRUE(s.add(&keep));
    EXPECT_EQ(s.count(), 32768);
    s.removeAll();
}

} // namespace
