// The platform operations of a device handle on the service directory.

#include "NxPlatform.h"
#include "nvdevservices.h"

namespace {

void serviceRetain(unsigned int service) { NVDSObjectRetain(service); }
void serviceRelease(unsigned int service) { NVDSObjectRelease(service); }

int serviceProperties(unsigned int service, plist_t* out)
{
    *out = nullptr;
    return NVDSServiceCopyProperties(service, out);
}

int serviceOpen(unsigned int service, uint32_t type, unsigned int* connection)
{
    NVDSObject handle = 0;
    const NVDSStatus status = NVDSServiceOpen(service, type, &handle);
    *connection = status == kNVDSSuccess ? handle : 0;
    return status;
}

void connectionClose(unsigned int connection) { NVDSServiceClose(connection); }

int connectionCall(unsigned int connection, uint32_t selector, const void* in, size_t inSize,
                   void* out, size_t* outSize)
{
    return NVDSConnectCallStructMethod(connection, selector, in, inSize, out, outSize);
}

void objectRelease(unsigned int object) { NVDSObjectRelease(object); }

constexpr NxPlatformOps kServices = {serviceRetain,   serviceRelease, serviceProperties,
                                     serviceOpen,     connectionClose, connectionCall,
                                     objectRelease};

} // namespace

const NxPlatformOps& nxDefaultPlatform() { return kServices; }
