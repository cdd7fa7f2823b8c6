#ifndef FAKE_DRIVER_H
#define FAKE_DRIVER_H

// An in-process driver for device-handle tests: it records every record sent and answers
// from a script. While a FakeDriver lives it is the platform table in force.

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "NorvaneDriverAPI.h"
#include "NxPlatform.h"

struct FakeAnswer {
    int mStatus = 0;          // nonzero: the structure call fails
    size_t mSize = 260;       // bytes answered; below 260 fails the size check
};

class FakeDriver {
public:
    FakeDriver();
    ~FakeDriver();

    // Script for one dispatch code: edits the record in place (it holds what was sent) and
    // says how the call ends. Codes without a script are echoed back at full size.
    using Script = std::function<FakeAnswer(NX_Dispatch& record)>;
    void on(uint32_t code, Script script) { mScripts[code] = std::move(script); }
    // A fixed answer: the bytes at offset 4 replaced by payload.
    void answer(uint32_t code, std::vector<uint8_t> payload, FakeAnswer how = {});
    void answerWord(uint32_t code, uint32_t word, FakeAnswer how = {});
    void fail(uint32_t code, FakeAnswer how = {-1, 0}) { answer(code, {}, how); }

    // A handle of service 7, opened against a driver of the given version bytes (b0..b3),
    // with the log of sent records cleared afterwards. The caller releases it.
    USBDevice* openDevice(uint8_t driverMajorByte = 0x21, plist_t properties = nullptr);

    std::vector<NX_Dispatch> mSent;
    std::vector<uint32_t> codes() const;
    plist_t mProperties = nullptr;   // copied for each properties request; owned
    int mPropertiesStatus = 0;
    int mOpenStatus = 0;
    int mServiceRefs = 0;            // references taken minus dropped
    int mOpenConnections = 0;
    int mClosed = 0;

    static FakeDriver* current;

private:
    std::map<uint32_t, Script> mScripts;
    const NxPlatformOps* mPrevious;
    friend struct FakeOps;
};

// Holds one reference on a handle and gives it back.
struct Released {
    void operator()(USBDevice* d) const { d->release(); }
};
using Device = std::unique_ptr<USBDevice, Released>;

// Reads a value of a sent record at a record offset.
template <class T> T at(const NX_Dispatch& record, size_t offset)
{
    T value{};
    std::memcpy(&value, reinterpret_cast<const uint8_t*>(&record) + offset, sizeof value);
    return value;
}

struct NxDeviceInspector {
    static const char* infoText0(const USBDevice& d) { return d.mInfoText0; }
    static const char* infoText1(const USBDevice& d) { return d.mInfoText1; }
    static uint32_t openInfo(const USBDevice& d, int i) { return d.mOpenInfo[i]; }
    static bool openFlag(const USBDevice& d) { return d.mOpenFlag; }
    static void setIds(USBDevice& d, uint16_t vendor, uint16_t product)
    {
        d.mVendorID = vendor;
        d.mProductID = product;
    }
    static void setConfigAndMap(USBDevice& d, const NX_Halvorne_ConfigAndMap& c)
    {
        d.mConfigAndMap = c;
    }
};

#endif
