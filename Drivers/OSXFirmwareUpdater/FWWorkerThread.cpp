#include "FWWorkerThread.h"

#include <glib.h>

#include <climits>
#include <memory>

#include "FWUpdater.h"

namespace {

enum : int {
    kJobNone = 0,
    kJobFlash = 1,
    kIdlePollMs = 20,
    kWorkPollMs = 10,
    kWorkPolls = 100,   // 1 s for the previous job to go
    kLoopPollMs = 5,
};

thread_local bool tlsOnWorker = false;

// One call handed to the owner's loop, shared by the loop's source and the waiting worker.
struct LoopCall {
    std::function<void()> call;
    std::atomic<bool> done{false};
};

gboolean runLoopCall(gpointer data) {
    auto& call = *static_cast<std::shared_ptr<LoopCall>*>(data);
    call->call();
    call->done = true;
    return G_SOURCE_REMOVE;
}

void dropLoopCall(gpointer data) { delete static_cast<std::shared_ptr<LoopCall>*>(data); }

}  // namespace

FWWorkerThread::FWWorkerThread(FWUpdater* owner)
    : OSXUserThread(63), mOwner(owner), mJob(kJobNone), mOwnerLoop(NVRunLoopGetCurrent()) {}

FWWorkerThread::~FWWorkerThread() {
    threadStop();
    threadWait(ULONG_MAX);
}

bool FWWorkerThread::work(int job) {
    for (int poll = 0; mJob != kJobNone && poll < kWorkPolls; ++poll)
        Sleep(kWorkPollMs);
    if (mJob != kJobNone)
        return false;
    mJob = job;
    return true;
}

void* FWWorkerThread::threadRun() {
    tlsOnWorker = true;
    while (!mStopRequested) {
        if (mJob != kJobNone) {
            doWork();
            mJob = kJobNone;
        } else {
            Sleep(kIdlePollMs);
        }
    }
    mThread = 0;
    return nullptr;
}

void FWWorkerThread::doWork() {
    if (mJob == kJobFlash && mOwner) {
        mOwner->mIdle = false;
        mOwner->OnButtonFlash();
        mOwner->mIdle = true;
    }
}

bool FWWorkerThread::onWorkerThread() { return tlsOnWorker; }

void FWWorkerThread::callOnOwnerLoop(std::function<void()> call) {
    if (!tlsOnWorker || !mOwnerLoop) {
        call();
        return;
    }
    auto shared = std::make_shared<LoopCall>();
    shared->call = std::move(call);
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, runLoopCall, new std::shared_ptr<LoopCall>(shared),
                          dropLoopCall);
    NVRunLoopAddSource(mOwnerLoop, source);
    NVRunLoopSourceRelease(source);
    while (!shared->done)
        Sleep(kLoopPollMs);
}
