#ifndef FWUPDATERDETECTION_H
#define FWUPDATERDETECTION_H

// The updater's presence marker: a System V shared-memory segment under the key "fwup"
// holding one 32-bit value. The updater registers it while it runs; any other process asks
// fwUpdaterActive(). Results are reported by the return value and a log line only.

#include <atomic>

enum : unsigned int {
    kFWUpdaterShmKey = 0x66777570,   // "fwup"
    kFWUpdaterShmValue = 0x0000E21C,
};

// Identifier of the segment this process registered, -1 when it holds none. The updater's
// main and worker threads both register, hence atomic.
extern std::atomic<int> _OSShmID;

// Creates or finds the segment, attaches it and writes the marker value. A failed attach
// removes the segment again.
bool fwupdateRegister();
// Marks the segment of _OSShmID for removal; the key is free at once.
void fwupdateUnRegister();
// True when a segment under the key holds the marker value. Never creates the segment.
bool fwUpdaterActive();

// Nonzero: register (result dropped); zero: unregister.
void _fwUpdateSetRegVal(unsigned long value);
// Unregisters; installed as the updater's exit handler.
void _fwUpdateClearSM();

// Points the marker at another key, so that tests never meet a running updater's segment.
void _fwUpdateSetShmKey(int key);

#endif
