#include "FWUpdaterDetection.h"

#include "nvlog.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

std::atomic<int> _OSShmID { -1 };

namespace {

constexpr size_t kShmSize = 4;
constexpr int kCreateFlags = IPC_CREAT | 0666;
constexpr int kLookupFlags = 0444;

std::atomic<int> gKey { static_cast<int>(kFWUpdaterShmKey) };
// The one attachment this process keeps of its registered segment. Registering again
// replaces it, so repeated registrations do not pile up mappings.
std::atomic<void*> gAttachment { nullptr };

struct ErrnoLine {
    int code;
    const char* line;
};

// Writes the line for errno from the table, nothing for a code without one.
void logErrno(const ErrnoLine* table, size_t count, bool toStdout)
{
    int code = errno;
    for (size_t i = 0; i < count; ++i) {
        if (table[i].code != code)
            continue;
        if (toStdout)
            fputs(table[i].line, stdout);
        else
            NVSysLog(LOG_WARNING, "%s", table[i].line);
        return;
    }
}

template <size_t N>
void logErrno(const ErrnoLine (&table)[N], bool toStdout = false)
{
    logErrno(table, N, toStdout);
}

const ErrnoLine kRegisterLookup[] = {
    { ENOMEM, "fwupdateRegister shmget: error ENOMEM, not enough memory\n" },
    { EACCES, "fwupdateRegister shmget: error EACCES, no permission to access this shared memory segment\n" },
    { ENOSPC, "fwupdateRegister shmget: error ENOSPC, reached limit of #sm\n" },
};
const ErrnoLine kRegisterAttach[] = {
    { ENOMEM, "fwupdateRegister shmat: error ENOMEM, not enough memory\n" },
    { EACCES, "fwupdateRegister shmat: error EACCES, no permission to access this shared memory segment\n" },
    { EINVAL, "fwupdateRegister shmat: error EINVAL, illegal address\n" },
    { EMFILE, "fwupdateRegister shmat: error EMFILE, reached limit of #sm\n" },
};
const ErrnoLine kUnRegister[] = {
    { EPERM, "fwupdateUnRegister: error EPERM, the caller is not the super-user\n" },
    { EACCES, "fwupdateUnRegister: error EACCES, no permission to access this shared memory segment\n" },
    { EFAULT, "fwupdateUnRegister: error EFAULT, invalid buffer\n" },
    { EINVAL, "fwupdateUnRegister: error EINVAL, illegal address\n" },
};
const ErrnoLine kActiveLookup[] = {
    { ENOENT, "fwUpdaterActive: No updater detected\n" },
    { EACCES, "fwUpdaterActive: error EACCES, no permission to access this shared memory segment\n" },
};
const ErrnoLine kActiveAttach[] = {
    { ENOMEM, "fwUpdaterActive shmat: error ENOMEM, not enough memory\n" },
    { EACCES, "fwUpdaterActive shmat: error EACCES, no permission to access this shared memory segment\n" },
    { EINVAL, "fwUpdaterActive shmat: error EINVAL, illegal address\n" },
    { EMFILE, "fwUpdaterActive shmat: error EMFILE, reached limit of #sm\n" },
};

// Marks the segment for removal; attachments stay valid until they end.
void removeSegment(int id)
{
    shmid_ds status {};
    if (shmctl(id, IPC_RMID, &status) != 0)
        logErrno(kUnRegister, true);
}

// How far a lookup and attach got; each failure has written its line for errno.
enum class Reached { Nothing, Segment, Attached };

// Clears errno, looks the segment up with the flags and attaches it read-write. A failed
// lookup also forgets this process's registration.
template <size_t L, size_t A>
Reached lookUpAndAttach(int flags, const ErrnoLine (&lookupLines)[L], const ErrnoLine (&attachLines)[A],
                        int* id, void** at)
{
    errno = 0;
    *id = shmget(gKey.load(), kShmSize, flags);
    if (*id == -1) {
        logErrno(lookupLines);
        _OSShmID = -1;
        return Reached::Nothing;
    }
    *at = shmat(*id, nullptr, 0);
    if (*at == reinterpret_cast<void*>(-1)) {
        logErrno(attachLines);
        return Reached::Segment;
    }
    return Reached::Attached;
}

} // namespace

bool fwupdateRegister()
{
    int id = -1;
    void* at = nullptr;
    Reached reached = lookUpAndAttach(kCreateFlags, kRegisterLookup, kRegisterAttach, &id, &at);
    if (reached == Reached::Segment)
        removeSegment(id);   // a failed registration leaves no segment behind
    if (reached != Reached::Attached)
        return false;
    // One aligned 32-bit store; checkers, and this process's other thread, use no lock.
    __atomic_store_n(static_cast<uint32_t*>(at), uint32_t(kFWUpdaterShmValue), __ATOMIC_RELAXED);
    _OSShmID = id;
    if (void* previous = gAttachment.exchange(at))
        shmdt(previous);
    fputs("fwupdateRegister value successfully written\n", stdout);
    return true;
}

void fwupdateUnRegister()
{
    removeSegment(_OSShmID);
}

bool fwUpdaterActive()
{
    int id = -1;
    void* at = nullptr;
    Reached reached = lookUpAndAttach(kLookupFlags, kActiveLookup, kActiveAttach, &id, &at);
    if (reached == Reached::Segment)
        fwupdateUnRegister();   // drops this process's own registration, if it has one
    if (reached != Reached::Attached)
        return false;
    uint32_t value = __atomic_load_n(static_cast<const uint32_t*>(at), __ATOMIC_RELAXED);
    // A checker may ask over and over; keeping each attachment would pile them up.
    shmdt(at);
    if (value == kFWUpdaterShmValue) {
        NVSysLog(LOG_WARNING, "fwUpdaterActive correct value read\n");
        return true;
    }
    NVSysLog(LOG_WARNING, "fwUpdaterActive wrong shm value: 0x%X\n", value);
    return false;
}

void _fwUpdateSetRegVal(unsigned long value)
{
    if (value)
        fwupdateRegister();
    else
        fwupdateUnRegister();
}

void _fwUpdateClearSM()
{
    fwupdateUnRegister();
}

void _fwUpdateSetShmKey(int key)
{
    gKey.store(key);
}
