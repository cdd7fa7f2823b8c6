#ifndef NVRUNLOOP_H
#define NVRUNLOOP_H

// A thread's run loop is its GLib main context: the thread-default context, or the global
// default one on a thread that pushed none (the main thread, where Qt's GLib dispatcher
// runs it). Sources are GSources. Nothing here throws; a null loop or source is a no-op.

#include <functional>

typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

using NVRunLoopRef = GMainContext*;
using NVRunLoopSourceRef = GSource*;

// The calling thread's run loop. Borrowed: valid while the thread's context lives.
NVRunLoopRef NVRunLoopGetCurrent();

// Attaches a source to a loop; a source belongs to one loop and cannot be attached again
// after it was removed.
void NVRunLoopAddSource(NVRunLoopRef loop, NVRunLoopSourceRef source);
// Detaches a source so it never fires again. Its memory goes with its last reference.
void NVRunLoopRemoveSource(NVRunLoopRef loop, NVRunLoopSourceRef source);
bool NVRunLoopContainsSource(NVRunLoopRef loop, NVRunLoopSourceRef source);

void NVRunLoopSourceRetain(NVRunLoopSourceRef source);
void NVRunLoopSourceRelease(NVRunLoopSourceRef source);

// Dispatches what is ready; with mayBlock, waits for something first. True when a source
// was dispatched. Must run on the thread that owns the loop (or with the loop acquired).
bool NVRunLoopRunOnce(NVRunLoopRef loop, bool mayBlock);
// Runs the loop for the given time, dispatching sources as they fire.
void NVRunLoopRunFor(NVRunLoopRef loop, int milliseconds);
// Runs the loop until done() is true (checked after every dispatch) or the time is over.
// Returns done()'s last answer.
bool NVRunLoopRunUntil(NVRunLoopRef loop, const std::function<bool()>& done, int timeoutMilliseconds);

#endif
