#ifndef FWFLASHPACING_H
#define FWFLASHPACING_H

// The replug waits of the flash job, in polls of 5 ms. The updater keeps these figures;
// only tests shorten them, before the job starts.
struct FWReplugWaits {
    int comeBack = 720000;        // for the device to come back: one hour
    int stay = 600;               // for a second drop-off once it is back: 3 s
    int returnAfterDrop = 1000;   // for its return after such a drop-off: 5 s
};

FWReplugWaits& fwReplugWaits();

#endif
