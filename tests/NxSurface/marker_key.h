#ifndef NXSURFACE_MARKER_KEY_H
#define NXSURFACE_MARKER_KEY_H

// A presence-marker key of the test's own, one no segment uses yet, so that a running
// updater's marker is never touched. While the object lives the marker functions of this
// process use it; at the end whatever segment is left under it is removed, also when the
// test failed.

#include "FWUpdaterDetection.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

inline bool segmentExists(int key)
{
    return shmget(key, 0, 0) != -1;
}

inline void removeSegment(int key)
{
    int id = shmget(key, 0, 0);
    if (id != -1)
        shmctl(id, IPC_RMID, nullptr);
}

class MarkerKey {
public:
    MarkerKey()
    {
        for (unsigned i = 0; i < 4096 && mKey == 0; ++i) {
            int candidate = static_cast<int>(0x4E560000u | ((static_cast<unsigned>(getpid()) * 16u + i) & 0xFFFFu));
            if (!segmentExists(candidate) && errno == ENOENT)
                mKey = candidate;
        }
        _fwUpdateSetShmKey(mKey);
        char hex[16];
        snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(mKey));
        mText = hex;
    }
    ~MarkerKey()
    {
        removeSegment(mKey);
        _fwUpdateSetShmKey(static_cast<int>(kFWUpdaterShmKey));
    }
    MarkerKey(const MarkerKey&) = delete;
    MarkerKey& operator=(const MarkerKey&) = delete;

    int key() const { return mKey; }          // 0 when none was free
    const std::string& text() const { return mText; }   // hexadecimal, for a probe's argument

    int attachments() const
    {
        shmid_ds status {};
        int id = shmget(mKey, 0, 0);
        return id != -1 && shmctl(id, IPC_STAT, &status) == 0 ? static_cast<int>(status.shm_nattch) : -1;
    }

private:
    int mKey = 0;
    std::string mText;
};

#endif
