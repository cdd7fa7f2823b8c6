#include "nvobject.h"

int32_t NVObject::compare(const NVObject&) const { return 0; }
void NVObject::onCommand(long, long) {}
NVObject::~NVObject() {}
bool NVObject::isEqual(const NVObject&) const { return true; }

void NVObject::incReferences() { mRefCount.fetch_add(1); }

void NVObject::decReferences()
{
    // Exactly one caller sees the previous value 1, so a release from two threads deletes once.
    if (mRefCount.fetch_sub(1) == 1)
        delete this;
}
