// The platform operations of a device handle on the service directory.

#include "NxPlatform.h"

namespace {

void serviceRetain(unsigned int) {}
void serviceRelease(unsigned int) {}
int serviceProperties(unsigned int, plist_t* out)
{
    *out = nullptr;
    return -1;
}
int serviceOpen(unsigned int, uint32_t, unsigned int* connection)
{
    *connection = 0;
    return -1;
}
void connectionClose(unsigned int) {}
int connectionCall(unsigned int, uint32_t, const void*, size_t, void*, size_t* outSize)
{
    *outSize = 0;
    return -1;
}
void objectRelease(unsigned int) {}

constexpr NxPlatformOps kServices = {serviceRetain,   serviceRelease, serviceProperties,
                                     serviceOpen,     connectionClose, connectionCall,
                                     objectRelease};

} // namespace

const NxPlatformOps& nxDefaultPlatform() { return kServices; }
