#ifndef NVOBJECT_H
#define NVOBJECT_H

#include <atomic>
#include <cstdint>

// Reference-counted root of the utility library. A fresh object has a count of 0 and
// belongs to its creator; once a holder counts it in, the holders own it together and the
// decReferences() that takes the count from 1 to 0 deletes it (so such objects must come
// from single-object new).
class NVObject {
public:
    NVObject() : mRefCount(0) {}
    NVObject(const NVObject&) : mRefCount(0) {}          // a copy starts with no holders
    NVObject& operator=(const NVObject&) { return *this; } // the count belongs to the object

    // Virtual operations, in slot order.
    virtual int32_t compare(const NVObject& other) const;   // base: 0
    virtual void onCommand(long command, long param);       // base: nothing
    virtual ~NVObject();
    virtual bool isEqual(const NVObject& other) const;      // base: true for every other

    void incReferences();
    void decReferences();   // from 0 or below: the count goes negative, the object lives
    bool operator==(const NVObject& other) const { return isEqual(other); }

    int32_t getReferenceCount() const { return mRefCount.load(); }

protected:
    std::atomic<int32_t> mRefCount;
};

#endif
