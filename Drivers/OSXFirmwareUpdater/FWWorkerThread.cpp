#include "FWWorkerThread.h"

#include "FWUpdater.h"

// Placeholder: jobs come with the flash procedure.

FWWorkerThread::FWWorkerThread(FWUpdater* owner) : OSXUserThread(63), mOwner(owner), mJob(0) {}

FWWorkerThread::~FWWorkerThread() {}

bool FWWorkerThread::work(int job) {
    (void)job;
    return false;
}

void* FWWorkerThread::threadRun() {
    mThread = 0;
    return nullptr;
}

void FWWorkerThread::doWork() {}
