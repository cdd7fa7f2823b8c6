#include "OSXThread.h"

#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

constexpr int32_t kDefaultBase = 31;   // base priority of a time-sharing thread at nice 0
constexpr int kNiceMin = -20;
constexpr int kNiceMax = 19;

int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The kernel thread id behind a pthread handle. Linux encodes it in the thread's CPU-time
// clock id as (~tid << 3) | flags; that encoding is kernel ABI.
bool kernelThreadId(pthread_t thread, id_t& tid)
{
    clockid_t clock = 0;
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return false;
    tid = static_cast<id_t>(~(static_cast<long>(clock) >> 3));
    return true;
}

} // namespace

OSXUserThread::OSXUserThread(unsigned long priority)
    : mStopRequested(false), mThread(0), mBasePriority(getThreadPriority(pthread_self())),
      mPriority(static_cast<uint32_t>(priority)), mBodyActive(false), mReleased(false)
{
}

OSXUserThread::OSXUserThread(unsigned long, unsigned long, unsigned long, bool) : OSXUserThread(63) {}

OSXUserThread::~OSXUserThread() { threadStop(); }

bool OSXUserThread::threadStart()
{
    if (mThread.load() != 0 || mBodyActive.load())
        return false;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    if (pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) != 0) {
        pthread_attr_destroy(&attr);
        return false;
    }
    mStopRequested.store(false);
    mBodyActive.store(true);
    mReleased.store(false);
    pthread_t thread = 0;
    if (pthread_create(&thread, &attr, &OSXUserThread::entry, this) != 0) {
        mBodyActive.store(false);
        pthread_attr_destroy(&attr);
        return false;
    }
    mThread.store(thread);
    pthread_attr_destroy(&attr);
    // The body waits for the release below, so the handle stays valid for the priority calls
    // even when threadRun() would return at once.
    SetPriority(mPriority);
    mPriority = getThreadPriority(thread);
    mReleased.store(true);
    return true;
}

void OSXUserThread::threadStop()
{
    if (!mStopRequested.load()) {
        mStopRequested.store(true);
        mThread.store(0);
    }
}

bool OSXUserThread::threadWait(unsigned long maxMilliseconds)
{
    for (unsigned long waited = 0; mBodyActive.load(); waited += 5) {
        if (waited >= maxMilliseconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void OSXUserThread::SetPriority(unsigned long priority)
{
    mPriority = static_cast<uint32_t>(priority);
    pthread_t thread = mThread.load();
    if (thread == 0)
        return;
    setThreadPrecedence(thread, static_cast<int32_t>(mPriority - mBasePriority));
}

void OSXUserThread::setThreadPrecedence(pthread_t thread, int32_t importance)
{
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(thread, &policy, &param) != 0)
        return;
    if (policy == SCHED_OTHER) {
        id_t tid = 0;
        if (kernelThreadId(thread, tid))
            setpriority(PRIO_PROCESS, tid, clampTo(-importance, kNiceMin, kNiceMax));
    } else if (policy == SCHED_RR || policy == SCHED_FIFO) {
        param.sched_priority = clampTo(kDefaultBase + importance, sched_get_priority_min(policy),
                                       sched_get_priority_max(policy));
        pthread_setschedparam(thread, policy, &param);
    }
}

uint32_t OSXUserThread::getThreadPriority(pthread_t thread)
{
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(thread, &policy, &param) != 0)
        return 0;
    if (policy == SCHED_RR || policy == SCHED_FIFO)
        return static_cast<uint32_t>(param.sched_priority);
    if (policy != SCHED_OTHER)
        return 0;
    id_t tid = 0;
    if (!kernelThreadId(thread, tid))
        return 0;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0)
        return 0;
    return static_cast<uint32_t>(kDefaultBase - nice);
}

void* OSXUserThread::entry(void* arg)
{
    if (arg == nullptr)
        return nullptr;
    OSXUserThread* self = static_cast<OSXUserThread*>(arg);
    while (!self->mReleased.load())
        sched_yield();
    void* result = self->threadRun();
    self->mBodyActive.store(false);   // the last touch of the object: the owner may free it now
    return result;
}
