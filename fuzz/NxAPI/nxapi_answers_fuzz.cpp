// Feeds arbitrary driver answers to every device operation: whatever the driver sends back
// (any bytes, any length, any status), no operation reads or writes out of bounds.
//
// Input: a header byte (bit 0: driver major 1, bit 1: a Halvorne unit, bit 2: its product 8),
// then records of [operation][status][answer length, 2 bytes][answer bytes, up to 260].

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "NorvaneDriverAPI.h"
#include "NxPlatform.h"
#include "nxids.h"

namespace {

const uint8_t* gData;
size_t gSize;

bool take(void* to, size_t n)
{
    if (gSize < n) return false;
    std::memcpy(to, gData, n);
    gData += n;
    gSize -= n;
    return true;
}

int gStatus;
uint16_t gLength = 260;
uint8_t gAnswer[260];

void retainNothing(unsigned int) {}
uint8_t gHeader;
// Halvorne units (products 3 and 8) map levels through their channel map; others do not.
int properties(unsigned int, plist_t* out)
{
    *out = plist_new_dict();
    const bool halvorne = gHeader & 2;
    plist_dict_set_item(*out, "idVendor", plist_new_uint(halvorne ? kHalvorneVendorId : kMakerVendorId));
    plist_dict_set_item(*out, "idProduct", plist_new_uint((gHeader & 4) ? 8 : 3));
    return 0;
}
int openAlways(unsigned int, uint32_t, unsigned int* connection)
{
    *connection = 1;
    return 0;
}
int call(unsigned int, uint32_t, const void*, size_t, void* out, size_t* outSize)
{
    const size_t n = gLength < *outSize ? gLength : *outSize;
    std::memcpy(out, gAnswer, n);
    *outSize = gLength;   // may claim more than the room: the handle must not trust it
    return gStatus;
}

constexpr NxPlatformOps kOps = {retainNothing, retainNothing, properties, openAlways,
                                retainNothing, call,          retainNothing};

void runOperation(USBDevice& d, uint8_t which)
{
    char buffer[800] = {};   // room for the largest count below
    unsigned long levels[32];
    NX_DeviceConfiguration config;
    NX_Halvorne_ConfigAndMap map{};
    NxVersion version;
    switch (which % 24) {
    case 0: d.getDigitalOutSelector(); break;
    case 1: d.setQelCpldDigitalMon(which & 0x80); break;
    case 2: d.getConfiguration(which, config); break;
    case 3: d.getInLevels(levels); break;
    case 4: d.getOutLevels(levels); break;
    case 5: d.getFirmwareVersion(version, which & 0x80); break;
    case 6: d.getDriverVersion(version); break;
    case 7: d.request(EDirection(which & 0x80), eLevelVendor, eRecipientDevice, 0x55, 0, 0,
                      buffer, uint16_t(which * 3), which & 0x40); break;
    case 8: d.DeviceIoControl(1, which % 60, nullptr, 0, buffer, which * 2, nullptr, nullptr); break;
    case 9: d.getHalvorneDeviceName(buffer); break;
    case 10: d.setConfigurationAndChannelMap(map, map); break;
    case 11: d.updateHalvorneConfigAndMap(); break;
    case 12: d.sendCPortBytes(which * 3, reinterpret_cast<unsigned char*>(buffer)); break;
    case 13: d.getWMRegister(1, 2); break;
    case 14: d.setRouting(true, which, 2); break;
    case 15: d.reenumerateDevice(); break;
    case 16: d.canClockSource(NXE_ClockSource(which)); break;
    case 17: d.getDigitalStatus(*reinterpret_cast<NX_DigitalStatus*>(buffer)); break;
    case 18: d.readLevelInfo(*reinterpret_cast<NX_LevelInfo*>(buffer)); break;
    case 19: d.getChannelMap(map.mMap); break;
    case 20: d.open(true); break;
    case 21: d.close(); break;
    case 22: { NX_LevelInfo32 info{}; d.readLevelInfoEx(info); } break;
    default: d.getDeviceDescriptor(*reinterpret_cast<NX_DeviceDescriptor*>(buffer)); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gData = data;
    gSize = size;
    uint8_t header = 0;
    if (!take(&header, 1)) return 0;
    gHeader = header;
    const NxPlatformOps* previous = nxSetPlatform(&kOps);

    // Open against a driver of major 1 or 2 (layout A or B).
    std::memset(gAnswer, 0, sizeof gAnswer);
    gAnswer[7] = (header & 1) ? 0x11 : 0x21;
    gStatus = 0;
    gLength = 260;
    USBDevice* d = new USBDevice(5);
    d->retain();
    d->open(true);

    uint8_t op = 0, status = 0;
    uint16_t length = 0;
    while (take(&op, 1) && take(&status, 1) && take(&length, 2)) {
        std::memset(gAnswer, 0, sizeof gAnswer);
        gStatus = status & 1;
        gLength = uint16_t(length % 1024);
        size_t bytes = gLength < sizeof gAnswer ? gLength : sizeof gAnswer;
        take(gAnswer, bytes < gSize ? bytes : gSize);
        runOperation(*d, op);
    }
    d->release();
    nxSetPlatform(previous);
    return 0;
}
