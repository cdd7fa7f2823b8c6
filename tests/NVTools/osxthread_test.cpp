#include "OSXThread.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// A body that polls the stop flag the way the updater's worker does, and can be told to
// end by itself. It clears the handle as its last step.
struct Worker : OSXUserThread {
    explicit Worker(unsigned long priority = 63) : OSXUserThread(priority) {}
    ~Worker() override { threadWait(2000); }
    void* threadRun() override
    {
        ++runs;
        seenPriority.store(getThreadPriority(pthread_self()));
        while (!mStopRequested && !endNow)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        while (holdAfterStop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        mThread = 0;
        return &runs;
    }
    bool stopFlag() const { return mStopRequested; }
    std::atomic<int> runs{0};
    std::atomic<bool> endNow{false};
    std::atomic<bool> holdAfterStop{false};
    std::atomic<uint32_t> seenPriority{0};
};

TEST(OSXUserThread, StartStopAndWait)
{
    Worker w;
    EXPECT_FALSE(w.IsRunning());
    EXPECT_TRUE(w.threadWait(0));   // nothing started
    ASSERT_TRUE(w.threadStart());
    EXPECT_TRUE(w.IsRunning());
    EXPECT_FALSE(w.threadStart());  // a thread is recorded
    w.holdAfterStop = true;
    w.threadStop();
    EXPECT_FALSE(w.IsRunning());    // before the body has returned
    EXPECT_TRUE(w.isBodyActive());
    EXPECT_FALSE(w.threadStart());  // the previous body is still finishing
    EXPECT_FALSE(w.threadWait(20));
    w.holdAfterStop = false;
    EXPECT_TRUE(w.threadWait(2000));
    EXPECT_FALSE(w.isBodyActive());
    EXPECT_EQ(w.runs, 1);

    // A restart clears the old stop request.
    ASSERT_TRUE(w.threadStart());
    EXPECT_FALSE(w.stopFlag());
    w.endNow = true;   // ends by itself
    EXPECT_TRUE(w.threadWait(2000));
    EXPECT_FALSE(w.IsRunning());
    EXPECT_FALSE(w.stopFlag());
    EXPECT_EQ(w.runs, 2);
}

TEST(OSXUserThread, StopWithoutStartOnlySetsTheFlag)
{
    Worker w;
    w.threadStop();
    EXPECT_TRUE(w.stopFlag());
    EXPECT_FALSE(w.IsRunning());
    w.threadStop();
    EXPECT_TRUE(w.stopFlag());
}

TEST(OSXUserThread, BodyThatEndsAtOnce)
{
    // The body may return before threadStart() has finished with the handle.
    for (int i = 0; i < 20; ++i) {
        Worker w;
        w.endNow = true;
        ASSERT_TRUE(w.threadStart());
        EXPECT_TRUE(w.threadWait(2000));
        EXPECT_FALSE(w.IsRunning());
    }
}

TEST(OSXUserThread, PriorityIsWhatTheThreadGot)
{
    Worker w(40);
    EXPECT_EQ(w.getBasePriority(), OSXUserThread::getThreadPriority(pthread_self()));
    EXPECT_EQ(w.getPriority(), 40u);
    w.SetPriority(50);   // not started: only recorded
    EXPECT_EQ(w.getPriority(), 50u);
    ASSERT_TRUE(w.threadStart());
    while (w.seenPriority.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(w.getPriority(), w.seenPriority.load());
    // Time-sharing threads sit at 31 - nice; raising needs privileges, lowering does not.
    EXPECT_GE(w.getPriority(), 12u);
    EXPECT_LE(w.getPriority(), 51u);
    w.threadStop();
    EXPECT_TRUE(w.threadWait(2000));

    Worker low(20);   // below the base: a higher nice value, which needs no privilege
    ASSERT_TRUE(low.threadStart());
    while (low.seenPriority.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (low.getBasePriority() == 31) {
        EXPECT_EQ(low.getPriority(), 20u);
    }
    low.threadStop();
}

TEST(OSXUserThread, SecondConstructorAsksFor63)
{
    struct Plain : OSXUserThread {
        Plain() : OSXUserThread(1, 2, 3, true) {}
        void* threadRun() override { return nullptr; }
    } p;
    EXPECT_EQ(p.getPriority(), 63u);
}

TEST(OSXUserThread, ThisThreadPriorityFollowsNice)
{
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    EXPECT_EQ(OSXUserThread::getThreadPriority(pthread_self()), static_cast<uint32_t>(31 - nice));
    EXPECT_EQ(OSXUserThread::entry(nullptr), nullptr);
}

} // namespace
