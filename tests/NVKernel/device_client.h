#ifndef NVK_TEST_DEVICE_CLIENT_H
#define NVK_TEST_DEVICE_CLIENT_H

// A user-client connection to one simulated device, through the device-services layer, with
// the record built and read through little-endian helpers.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "nvdevservices.h"
#include "nvk_bytes.h"
#include "nvkernel_fixture.h"

struct Record {
    std::array<uint8_t, 260> bytes{};
    size_t length = 0; // of the answer
    explicit Record(uint32_t code = 0) { nvk::put32(&bytes[0], code); }
    uint32_t word(size_t offset) const { return nvk::get32(&bytes[offset]); }
    Record& set(size_t offset, uint32_t value)
    {
        nvk::put32(&bytes[offset], value);
        return *this;
    }
};

class DeviceClient {
public:
    // Opens the service that the device number currently has.
    DeviceClient(NVKernelFixture& kernel, int device)
    {
        service = kernel.entryId(device);
        NVDSObject master = 0;
        EXPECT_EQ(NVDSGetMasterPort(&master), kNVDSSuccess);
        // The handle is known to the layer once an iterator has yielded it.
        for (const char* cls : {"NVKernelDeviceVESKQM7", "NVKernelDeviceHalvorneTessel9"}) {
            plist_t matching = NVDSServiceMatching(cls);
            NVDSObject it = 0;
            NVDSGetMatchingServices(master, matching, &it);
            while (NVDSObject s = NVDSIteratorNext(it)) {
                if (s == service)
                    mine = true;
                else
                    NVDSObjectRelease(s);
            }
            NVDSObjectRelease(it);
            plist_free(matching);
        }
        NVDSObjectRelease(master);
        EXPECT_TRUE(mine) << "device " << device << " has no service";
        if (mine) {
            EXPECT_EQ(NVDSServiceOpen(service, 2, &connection), kNVDSSuccess);
        }
    }
    ~DeviceClient()
    {
        if (connection)
            NVDSServiceClose(connection);
        if (mine)
            NVDSObjectRelease(service);
    }

    NVDSStatus call(Record& record)
    {
        size_t size = record.bytes.size();
        NVDSStatus status = NVDSConnectCallStructMethod(connection, 0, record.bytes.data(), record.bytes.size(),
                                                         record.bytes.data(), &size);
        record.length = size;
        return status;
    }
    NVDSStatus call(uint32_t code, Record* answer = nullptr)
    {
        Record r(code);
        NVDSStatus status = call(r);
        if (answer)
            *answer = r;
        return status;
    }

    NVDSObject service = 0;
    NVDSObject connection = 0;
    bool mine = false;
};

// A tunnelled control request (code 34) in layout A (driver major 1) or B.
struct ControlRequest {
    bool layoutA;
    uint8_t request;
    bool in;
    uint16_t index;
    uint32_t length;

    Record record(const uint8_t* data = nullptr) const
    {
        Record r(34);
        size_t direction = layoutA ? 4 : 140, level = layoutA ? 8 : 144, recipient = layoutA ? 12 : 148;
        r.set(direction, in ? 0x80 : 0).set(level, 0x40).set(recipient, 0);
        r.bytes[layoutA ? 16 : 152] = request;
        nvk::put16(&r.bytes[layoutA ? 20 : 138], index);
        r.set(lengthOffset(), length);
        if (data)
            memcpy(&r.bytes[dataOffset()], data, length);
        return r;
    }
    size_t dataOffset() const { return layoutA ? 28 : 4; }
    size_t lengthOffset() const { return layoutA ? 24 : 132; }
};

#endif
