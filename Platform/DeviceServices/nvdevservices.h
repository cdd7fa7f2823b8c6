#ifndef NVDEVSERVICES_H
#define NVDEVSERVICES_H

// Client side of the service directory that nvkerneld serves: matching services by class,
// publish and terminate notices, registry properties, user-client connections with one
// structure call, and per-service interest notices.
//
// Objects are 32-bit handles, 0 meaning none. A service's handle is its entry id: stable
// while the daemon lives, the same in every iterator and notice, and never reused, so two
// handles of one service compare equal. Iterators, notifications, connections and the
// master handle come from a range of their own. Every handle received from a function here
// carries one reference for the caller, dropped with NVDSObjectRelease (connections close
// with NVDSServiceClose). Functions may be called from any thread; notices are delivered
// on the run loop that the notification port's source was added to. Nothing throws: every
// failure is a status, null or 0.

#include <cstddef>
#include <cstdint>

#include <plist/plist.h>

#include "nvrunloop.h"

using NVDSObject = uint32_t;
using NVDSStatus = int;

enum : NVDSStatus {
    kNVDSSuccess = 0,
    kNVDSErrorBadArgument = 0x2c2, // a null, zero or unknown handle or pointer
    kNVDSErrorNoRoot = 0x2c3,      // the service directory cannot be used
    kNVDSErrorNotFound = 0x2c4,    // the service has gone (or never was)
    kNVDSErrorRefused = 0x2c5,     // the service's socket refuses (no daemon behind it)
    kNVDSErrorTimeout = 0x2c6,     // no answer within the call timeout
    kNVDSErrorIO = 0x2c7,          // the connection failed or closed during the call
    kNVDSErrorProtocol = 0x2c8,    // an answer that is not one of the protocol
    kNVDSErrorUnsupported = 0x2c9, // user-client type, selector or request not served
    kNVDSErrorBusy = 0x2ca,        // the device refused for now
    kNVDSErrorDevice = 0x2cb,      // the device failed the request
    kNVDSErrorNoResources = 0x2cc, // out of memory, descriptors or handles
    kNVDSErrorNotOpen = 0x2cd,     // a call on a closed connection
};

// The service directory's root ($NVKERNEL_ROOT, else the daemon's default).
const char* NVDSRootPath();

// --- objects ---

// The master handle of the service directory; nonzero on success. Fails when the root is
// not a directory and cannot be made one.
NVDSStatus NVDSGetMasterPort(NVDSObject* master);
void NVDSObjectRetain(NVDSObject object);
// Drops one reference. A notification stops at its last reference; an iterator is freed.
void NVDSObjectRelease(NVDSObject object);

// A matching dictionary for services of a class (caller frees it with plist_free). The
// functions below read it and never take it over.
plist_t NVDSServiceMatching(const char* className);

// An iterator over the services present now; NVDSIteratorNext yields each with a
// reference for the caller, then 0.
NVDSStatus NVDSGetMatchingServices(NVDSObject master, plist_t matching, NVDSObject* iterator);
NVDSObject NVDSIteratorNext(NVDSObject iterator);

// --- notices ---

typedef struct NVDSNotificationPort* NVDSNotificationPortRef;

NVDSNotificationPortRef NVDSNotificationPortCreate(NVDSObject master);
// The port's run-loop source, owned by the port (not to be released by the caller). Add it
// to one run loop; every notice of the port is delivered there.
NVRunLoopSourceRef NVDSNotificationPortGetRunLoopSource(NVDSNotificationPortRef port);
// Stops every notice of the port and frees it; its source is removed from its run loop.
void NVDSNotificationPortDestroy(NVDSNotificationPortRef port);

enum NVDSNotificationKind { kNVDSServicePublish = 1, kNVDSServiceTerminate = 2 };

// Called on the port's run loop when services were queued on the iterator; drain it with
// NVDSIteratorNext.
using NVDSServiceCallback = void (*)(void* refcon, NVDSObject iterator);

// Arms a publish or terminate notice for the matching services. A publish iterator starts
// out holding the services present now, a terminate iterator empty; later services are
// queued as they come and go, each followed by a callback. Releasing the iterator ends it.
NVDSStatus NVDSAddMatchingNotification(NVDSNotificationPortRef port, NVDSNotificationKind kind,
                                       plist_t matching, NVDSServiceCallback callback, void* refcon,
                                       NVDSObject* iterator);

// The driver's notices for one service. messageArgument points at kNVDSNoticeWords 32-bit
// words (the notice's words, then zeros), valid during the call only.
enum : uint32_t { kNVDSNoticeWords = 16 };
using NVDSInterestCallback = void (*)(void* refcon, NVDSObject service, uint32_t messageType,
                                      void* messageArgument);
NVDSStatus NVDSAddInterestNotification(NVDSNotificationPortRef port, NVDSObject service,
                                       NVDSInterestCallback callback, void* refcon,
                                       NVDSObject* notification);

// --- one service ---

// A new dictionary of the service's registry properties (free with plist_free) into
// *properties; null on failure.
NVDSStatus NVDSServiceCopyProperties(NVDSObject service, plist_t* properties);
// The class the service was published under, or null for an unknown handle.
const char* NVDSServiceGetClass(NVDSObject service);

// Opens a user-client connection of the given type.
NVDSStatus NVDSServiceOpen(NVDSObject service, uint32_t type, NVDSObject* connection);
// Closes a connection; a call under way on another thread fails.
NVDSStatus NVDSServiceClose(NVDSObject connection);

// Structure-in/structure-out call of a method selector. *outputSize is the room at output
// on the way in and the length of the answer on the way out (it may be shorter than what
// was sent). Calls on one connection are serialised; a call waits at most the call timeout.
NVDSStatus NVDSConnectCallStructMethod(NVDSObject connection, uint32_t selector, const void* input,
                                       size_t inputSize, void* output, size_t* outputSize);

// Time a call waits for its answer (default 5000 ms, or $NVDS_CALL_TIMEOUT_MS).
void NVDSSetCallTimeout(int milliseconds);

#endif
