#ifndef OSXTHREAD_H
#define OSXTHREAD_H

#include <pthread.h>

#include <atomic>
#include <cstdint>

// Base class of a background thread that one owner starts and stops. A subclass supplies
// threadRun(); it polls mStopRequested, returns once it is set, and sets mThread to 0 as its
// last step. threadStop() only raises the flag. Before destroying the object the owner waits
// until the body has left threadRun() (threadWait()).
//
// Priorities on Linux. The priority scale is the one of the original scheduler: 0-63 for
// user threads, 31 the default base of a time-sharing thread.
//   getThreadPriority(): from pthread_getschedparam().
//     SCHED_OTHER (time-sharing)  31 - the thread's nice value (nice 0 -> 31, -20 -> 51, 19 -> 12)
//     SCHED_RR, SCHED_FIFO        the thread's sched_priority
//     any other policy, or a failed query: 0
//   Precedence (SetPriority): the signed importance priority - mBasePriority is an offset
//   from the default base 31, so the thread's base becomes 31 + importance:
//     SCHED_OTHER                 nice = -importance, clamped to -20..19 (setpriority on the
//                                 thread's kernel id)
//     SCHED_RR, SCHED_FIFO        sched_priority = 31 + importance, clamped to the policy's range
//   Raising a thread above nice 0 needs CAP_SYS_NICE (or RLIMIT_NICE); without it the call
//   fails, is not examined, and mPriority after threadStart() shows the base the thread got.
class OSXUserThread {
public:
    explicit OSXUserThread(unsigned long priority);
    // The arguments are not used; the requested priority is 63.
    OSXUserThread(unsigned long, unsigned long, unsigned long, bool);
    virtual ~OSXUserThread();
    OSXUserThread(const OSXUserThread&) = delete;
    OSXUserThread& operator=(const OSXUserThread&) = delete;

    virtual void* threadRun() = 0;

    // False when a thread is recorded, when the previous body has not yet left threadRun(),
    // or when creating the thread fails.
    bool threadStart();
    void threadStop();
    bool IsRunning() const { return mThread.load() != 0; }
    // Polls every 5 ms until the body has left threadRun(), at most maxMilliseconds.
    // True when no body runs any more (or none was ever started).
    bool threadWait(unsigned long maxMilliseconds);
    bool isBodyActive() const { return mBodyActive.load(); }

    void SetPriority(unsigned long priority);
    static uint32_t getThreadPriority(pthread_t thread);
    static void* entry(void* arg);

    uint32_t getBasePriority() const { return mBasePriority; }
    uint32_t getPriority() const { return mPriority; }

protected:
    std::atomic<bool> mStopRequested;
    std::atomic<pthread_t> mThread;

private:
    static void setThreadPrecedence(pthread_t thread, int32_t importance);

    uint32_t mBasePriority;
    uint32_t mPriority;
    // Raised by threadStart() before the thread exists, lowered by entry() once threadRun()
    // has returned; entry() touches the object no more after that.
    std::atomic<bool> mBodyActive;
    // Raised by threadStart() once the handle is recorded and the priority applied; the new
    // thread holds back its body until then.
    std::atomic<bool> mReleased;
};

#endif
