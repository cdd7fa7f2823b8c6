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

void* attach(int id)
{
    void* at = shmat(id, nullptr, 0);
    return at == reinterpret_cast<void*>(-1) ? nullptr : at;
}

// Marks the segment for removal; attachments stay valid until they end.
void removeSegment(int id)
{
    shmid_ds status {};
    if (shmctl(id, IPC_RMID, &status) != 0)
        logErrno(kUnRegister, true);
}

} // namespace

bool fwupdateRegister()
{
    errno = 0;
    int id = shmget(gKey.load(), kShmSize, kCreateFlags);
    if (id == -1) {
        logErrno(kRegisterLookup);
        _OSShmID = -1;
        return false;
    }
    void* at = attach(id);
    if (!at) {
        logErrno(kRegisterAttach);
        removeSegment(id);
        return false;
    }
    // One aligned 32-bit store; checkers read it without a lock.
    *static_cast<volatile uint32_t*>(at) = kFWUpdaterShmValue;
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
    errno = 0;
    int id = shmget(gKey.load(), kShmSize, kLookupFlags);
    if (id == -1) {
        logErrno(kActiveLookup);
        _OSShmID = -1;
        return false;
    }
    void* at = attach(id);
    if (!at) {
        logErrno(kActiveAttach);
        fwupdateUnRegister();
        return false;
    }
    uint32_t value = *static_cast<volatile const uint32_t*>(at);
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
