#ifndef FWWORKERTHREAD_H
#define FWWORKERTHREAD_H

// The updater's worker: one job at a time for its FWUpdater, handed over through mJob. The
// main thread stores a job (work()), the body picks it up within 20 ms, runs it to its end
// and clears mJob; there is no queue. Job 1 is the flash; any other code is taken and does
// nothing.

#include <atomic>
#include <cstdint>
#include <functional>

#include "OSXThread.h"
#include "nvrunloop.h"

class FWUpdater;

class FWWorkerThread : public OSXUserThread {
public:
    // Made on the thread whose run loop delivers the device notifications (the main thread).
    explicit FWWorkerThread(FWUpdater* owner);
    // Waits for the body to leave threadRun(): a running job ends first.
    ~FWWorkerThread() override;

    // Main thread. Waits up to 1 s for the previous job to end; false drops the job.
    bool work(int job);
    void* threadRun() override;
    void doWork();

    // True on the thread that runs a worker's body.
    static bool onWorkerThread();
    // Runs `call` on the owner's run loop, where the attach and detach handlers run, and
    // polls every 5 ms until it has run. From any thread but a worker's it runs at once.
    // The owner's loop runs for as long as a job does: quitting waits for the job.
    void callOnOwnerLoop(std::function<void()> call);

    FWUpdater* mOwner;
    std::atomic<int32_t> mJob;

private:
    NVRunLoopRef mOwnerLoop;
};

#endif
