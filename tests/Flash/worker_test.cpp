// The worker on its own: the hand-off of a job, a code without a job, the stop.

#include <gtest/gtest.h>

#include "FWUpdater.h"
#include "FWWorkerThread.h"
#include "flash_harness.h"

// A job code other than 1 occupies the worker for one pass and is cleared without effect;
// the stop ends an idle body at its next check.
TEST(FlashWorker, UnknownJobIsTakenAndClearedAndStopEndsTheBody) {
    FWUpdater u;
    FWWorkerThread worker(&u);
    ASSERT_TRUE(worker.threadStart());
    EXPECT_TRUE(worker.work(7));
    EXPECT_TRUE(FlashSession::waitUntil([&] { return worker.mJob == 0; }, 1000));
    EXPECT_TRUE(u.mIdle);
    EXPECT_TRUE(worker.work(2));
    EXPECT_TRUE(FlashSession::waitUntil([&] { return worker.mJob == 0; }, 1000));

    worker.threadStop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(worker.threadWait(1000)) << "the idle body checks the stop every 20 ms";
}

// While a job is pending, another waits up to 1 s and is dropped.
TEST(FlashWorker, SecondJobIsDroppedAfterTheWait) {
    FWUpdater u;
    FWWorkerThread worker(&u);   // not started: the first job stays pending
    EXPECT_TRUE(worker.work(5));
    double before = flashNowMs();
    EXPECT_FALSE(worker.work(1));
    EXPECT_GE(flashNowMs() - before, 1000 - 5);
    EXPECT_EQ(worker.mJob, 5);
}

// From a thread other than a worker's, a call for the owner's loop runs at once.
TEST(FlashWorker, OwnerLoopCallOffTheWorkerRunsAtOnce) {
    FWUpdater u;
    FWWorkerThread worker(&u);
    bool ran = false;
    worker.callOnOwnerLoop([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(FWWorkerThread::onWorkerThread());
}
