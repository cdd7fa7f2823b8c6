#include "fake_driver.h"

#include <cstring>

FakeDriver* FakeDriver::current = nullptr;

struct FakeOps {
    static FakeDriver& d() { return *FakeDriver::current; }
    static void serviceRetain(unsigned int) { ++d().mServiceRefs; }
    static void serviceRelease(unsigned int) { --d().mServiceRefs; }
    static int serviceProperties(unsigned int, plist_t* out)
    {
        *out = d().mProperties && d().mPropertiesStatus == 0 ? plist_copy(d().mProperties)
                                                             : nullptr;
        return d().mPropertiesStatus;
    }
    static int serviceOpen(unsigned int, uint32_t type, unsigned int* connection)
    {
        if (d().mOpenStatus != 0 || type != kNxUserClientType) {
            *connection = 0;
            return d().mOpenStatus ? d().mOpenStatus : -1;
        }
        ++d().mOpenConnections;
        *connection = 0x500;
        return 0;
    }
    static void connectionClose(unsigned int) { --d().mOpenConnections, ++d().mClosed; }
    static int connectionCall(unsigned int, uint32_t selector, const void* in, size_t inSize,
                              void* out, size_t* outSize)
    {
        if (selector != kNxMethodSelector || inSize != sizeof(NX_Dispatch) ||
            *outSize != sizeof(NX_Dispatch))
            return -2;
        NX_Dispatch record;
        std::memcpy(&record, in, sizeof record);
        d().mSent.push_back(record);
        FakeAnswer how;
        auto it = d().mScripts.find(record.mCode);
        if (it != d().mScripts.end()) how = it->second(record);
        std::memcpy(out, &record, how.mSize < sizeof record ? how.mSize : sizeof record);
        *outSize = how.mSize;
        return how.mStatus;
    }
    static void objectRelease(unsigned int) {}
};

namespace {
constexpr NxPlatformOps kFakeOps = {FakeOps::serviceRetain,     FakeOps::serviceRelease,
                                    FakeOps::serviceProperties, FakeOps::serviceOpen,
                                    FakeOps::connectionClose,   FakeOps::connectionCall,
                                    FakeOps::objectRelease};
}

FakeDriver::FakeDriver()
{
    current = this;
    mPrevious = nxSetPlatform(&kFakeOps);
}

FakeDriver::~FakeDriver()
{
    nxSetPlatform(mPrevious);
    if (mProperties) plist_free(mProperties);
    current = nullptr;
}

void FakeDriver::answer(uint32_t code, std::vector<uint8_t> payload, FakeAnswer how)
{
    on(code, [payload, how](NX_Dispatch& record) {
        const size_t n = payload.size() < sizeof record.mPayload ? payload.size()
                                                                 : sizeof record.mPayload;
        if (n) std::memcpy(record.mPayload, payload.data(), n);
        return how;
    });
}

void FakeDriver::answerWord(uint32_t code, uint32_t word, FakeAnswer how)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &word, 4);
    answer(code, bytes, how);
}

USBDevice* FakeDriver::openDevice(uint8_t driverMajorByte, plist_t properties)
{
    if (properties) {
        if (mProperties) plist_free(mProperties);
        mProperties = properties;
    }
    answer(22, {0, 4, 5, driverMajorByte});
    USBDevice* device = new USBDevice(7);
    device->retain();
    device->open(true);
    mSent.clear();
    return device;
}

std::vector<uint32_t> FakeDriver::codes() const
{
    std::vector<uint32_t> out;
    for (const NX_Dispatch& r : mSent) out.push_back(r.mCode);
    return out;
}
