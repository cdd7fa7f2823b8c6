// The table of platform operations in force.

#include "NxPlatform.h"

const NxPlatformOps& nxDefaultPlatform();   // NxPlatformServices.cpp

namespace {
const NxPlatformOps* gPlatform = nullptr;
}

const NxPlatformOps& nxPlatform() { return gPlatform ? *gPlatform : nxDefaultPlatform(); }

const NxPlatformOps* nxSetPlatform(const NxPlatformOps* ops)
{
    const NxPlatformOps* previous = gPlatform ? gPlatform : &nxDefaultPlatform();
    gPlatform = ops;
    return previous;
}
