#ifndef NXPLATFORM_H
#define NXPLATFORM_H

// What a device handle needs of the platform, as one table of operations. The default table
// sits on the service directory of nvkerneld; tests put in a table of their own that plays
// the driver in process.

#include <cstddef>
#include <cstdint>

#include <plist/plist.h>

struct NxPlatformOps {
    // Takes and drops a reference on a service object (nonzero).
    void (*serviceRetain)(unsigned int service);
    void (*serviceRelease)(unsigned int service);
    // A new dictionary of the service's registry properties, owned by the caller, into *out;
    // returns 0 or a platform error (then *out is null).
    int (*serviceProperties)(unsigned int service, plist_t* out);
    // Opens a user-client connection of the given type; 0 and a nonzero *connection on
    // success, else a platform error.
    int (*serviceOpen)(unsigned int service, uint32_t type, unsigned int* connection);
    // Closes a connection (nonzero).
    void (*connectionClose)(unsigned int connection);
    // Structure-in/structure-out call of the given method selector. *outSize holds the room
    // at out on the way in and the answer's length on the way out. 0 or a platform error.
    int (*connectionCall)(unsigned int connection, uint32_t selector, const void* in,
                          size_t inSize, void* out, size_t* outSize);
    // Drops a notification object (nonzero).
    void (*objectRelease)(unsigned int object);
};

// The table in force. Never null.
const NxPlatformOps& nxPlatform();
// Puts a table in force (null: the default one) and returns the previous one. For tests;
// not for use while handles talk on other threads.
const NxPlatformOps* nxSetPlatform(const NxPlatformOps* ops);

// The user-client type and method selector of the driver's one structure call.
enum : uint32_t { kNxUserClientType = 2, kNxMethodSelector = 0 };

#endif
