#ifndef FWWORKERTHREAD_H
#define FWWORKERTHREAD_H

// The updater's worker: one job at a time for its FWUpdater, handed over through mJob.

#include <atomic>
#include <cstdint>

#include "OSXThread.h"

class FWUpdater;

class FWWorkerThread : public OSXUserThread {
public:
    explicit FWWorkerThread(FWUpdater* owner);
    ~FWWorkerThread() override;

    bool work(int job);
    void* threadRun() override;
    void doWork();

    FWUpdater* mOwner;
    std::atomic<int32_t> mJob;
};

#endif
