// The device operations. The uniform ones are one call each over the catalogue; the rest
// have logic of their own.

#include <cstdio>
#include <cstring>

#include "NorvaneDriverAPI.h"
#include "NxCatalogue.h"
#include "NxPlatform.h"
#include "NxRecord.h"
#include "nxids.h"

namespace {

inline uint32_t word(long value) { return uint32_t(value); }
inline unsigned long unsignedWord(long result) { return uint32_t(result); }

// CPLD bits of the byte that codes 4 and 5 read and write.
enum : uint8_t { kCpldMixOutSel = 0x08, kCpldDigitalMon = 0x10 };

} // namespace

// -- Uniform operations -------------------------------------------------------------------

long USBDevice::getDigitalOutSelector() { return nxCall(*this, NxOp::GetDigitalOutSelector); }

bool USBDevice::setDigitalOutSelector(long selector)
{
    uint32_t in = word(selector);
    return nxCall(*this, NxOp::SetDigitalOutSelector, &in, sizeof in);
}

unsigned long USBDevice::getCountConfigurations()
{
    return unsignedWord(nxCall(*this, NxOp::GetCountConfigurations));
}

bool USBDevice::getConfiguration(unsigned long index, NX_DeviceConfiguration& out)
{
    uint32_t in = word(long(index));
    return nxCall(*this, NxOp::GetConfiguration, &in, sizeof in, &out);
}

bool USBDevice::getCurrentConfiguration(NX_DeviceConfiguration& out)
{
    return nxCall(*this, NxOp::GetCurrentConfiguration, nullptr, 0, &out);
}

bool USBDevice::setConfiguration(NX_DeviceConfiguration configuration,
                                 NX_DeviceConfiguration& out)
{
    return nxCall(*this, NxOp::SetConfiguration, &configuration, sizeof configuration, &out);
}

unsigned long USBDevice::getCountBufferSizes()
{
    return unsignedWord(nxCall(*this, NxOp::GetCountBufferSizes));
}

unsigned long USBDevice::getBufferSize(unsigned long index)
{
    uint32_t in = word(long(index));
    return unsignedWord(nxCall(*this, NxOp::GetBufferSize, &in, sizeof in));
}

unsigned long USBDevice::getCurrentBufferSize()
{
    return unsignedWord(nxCall(*this, NxOp::GetCurrentBufferSize));
}

unsigned long USBDevice::setBufferSize(unsigned long size)
{
    uint32_t in = word(long(size));
    return unsignedWord(nxCall(*this, NxOp::SetBufferSize, &in, sizeof in));
}

bool USBDevice::canClockSource(NXE_ClockSource source)
{
    uint32_t in = source;
    return nxCall(*this, NxOp::CanClockSource, &in, sizeof in);
}

long USBDevice::getCurrentClockSource() { return nxCall(*this, NxOp::GetCurrentClockSource); }

long USBDevice::setClockSource(NXE_ClockSource source)
{
    uint32_t in = source;
    return nxCall(*this, NxOp::SetClockSource, &in, sizeof in);
}

bool USBDevice::getDigitalStatus(NX_DigitalStatus& out)
{
    const uint32_t in[2] = {0, 0};
    return nxCall(*this, NxOp::GetDigitalStatus, in, sizeof in, &out);
}

long USBDevice::getUSB1Mode() { return nxCall(*this, NxOp::GetUSB1Mode); }

long USBDevice::setUSB1Mode(NXE_USB1Mode mode)
{
    uint32_t in = mode;
    return nxCall(*this, NxOp::SetUSB1Mode, &in, sizeof in);
}

long USBDevice::getDigitalOutMode() { return nxCall(*this, NxOp::GetDigitalOutMode); }

long USBDevice::setDigitalOutMode(NXE_DigitalOutMode mode)
{
    uint32_t in = mode;
    return nxCall(*this, NxOp::SetDigitalOutMode, &in, sizeof in);
}

bool USBDevice::prepareFirmwareUpdate() { return nxCall(*this, NxOp::PrepareFirmwareUpdate); }

bool USBDevice::readLevelInfo(NX_LevelInfo& out)
{
    return nxCall(*this, NxOp::ReadLevelInfo, nullptr, 0, &out);
}

bool USBDevice::resumeStreaming() { return nxCall(*this, NxOp::ResumeStreaming); }

bool USBDevice::suspendStreaming() { return nxCall(*this, NxOp::SuspendStreaming); }

unsigned long USBDevice::getConfigStatus()
{
    return unsignedWord(nxCall(*this, NxOp::GetConfigStatus));
}

unsigned short USBDevice::getWMRegister(unsigned short first, unsigned short second)
{
    const uint16_t in[3] = {first, second, 0};
    return (unsigned short)nxCall(*this, NxOp::GetWMRegister, in, sizeof in);
}

unsigned short USBDevice::setWMRegister(unsigned short first, unsigned short second,
                                        unsigned short third)
{
    const uint16_t in[3] = {first, second, third};
    return (unsigned short)nxCall(*this, NxOp::SetWMRegister, in, sizeof in);
}

bool USBDevice::getChannelMap(NX_Halvorne_ChannelMap& out)
{
    return nxCall(*this, NxOp::GetChannelMap, nullptr, 0, &out);
}

bool USBDevice::setChannelMap(NX_Halvorne_ChannelMap map)
{
    return nxCall(*this, NxOp::SetChannelMap, &map, sizeof map);
}

bool USBDevice::getConfigurationAndChannelMap(NX_Halvorne_ConfigAndMap& out)
{
    return nxCall(*this, NxOp::GetConfigurationAndChannelMap, nullptr, 0, &out);
}

// Both move exactly 32 bytes of the caller's buffer; without one there is nothing to move.
bool USBDevice::getHalvorneDeviceName(char* name)
{
    return name && nxCall(*this, NxOp::GetHalvorneDeviceName, nullptr, 0, name);
}

bool USBDevice::setHalvorneDeviceName(char const* name)
{
    return name && nxCall(*this, NxOp::SetHalvorneDeviceName, name, 32);
}

// -- Operations with logic of their own ---------------------------------------------------

bool USBDevice::setConfigurationAndChannelMap(NX_Halvorne_ConfigAndMap value,
                                              NX_Halvorne_ConfigAndMap& out)
{
    if (!nxCall(*this, NxOp::SetConfigurationAndChannelMap, &value, sizeof value, &out))
        return false;
    mConfigAndMap = out;
    return true;
}

int USBDevice::setRouting(bool input, int first, int second)
{
    const uint32_t in[3] = {input ? 1u : 0u, word(first), word(second)};
    int32_t answer = 0;
    if (!nxExchange(*this, NxOp::SetRouting, in, sizeof in, &answer)) return first;
    return answer;
}

bool USBDevice::reenumerateDevice()
{
    if (!isOpen()) return false;
    // The driver's answer to code 76 reads the other way round: completing means false.
    return !nxExchange(*this, NxOp::ReenumerateDevice, nullptr, 0, nullptr);
}

bool USBDevice::getQelCpldMixOutSel()
{
    uint8_t in = 0, cpld = 0;
    return nxExchange(*this, NxOp::GetQelCpld, &in, 1, &cpld) && (cpld & kCpldMixOutSel);
}

bool USBDevice::getQelCpldDigitalMon()
{
    uint8_t in = 0, cpld = 0;
    return nxExchange(*this, NxOp::GetQelCpld, &in, 1, &cpld) && (cpld & kCpldDigitalMon);
}

bool USBDevice::setCpldBit(uint8_t bit, bool on)
{
    uint8_t in = 0;
    NX_Dispatch record;
    if (!nxExchange(*this, NxOp::GetQelCpld, &in, 1, nullptr, &record)) return false;
    // Written back in the record as read, only the one bit changed.
    uint8_t cpld = nxGetValue<uint8_t>(record, kNxPayloadOffset);
    nxPutValue<uint8_t>(record, kNxPayloadOffset, on ? uint8_t(cpld | bit) : uint8_t(cpld & ~bit));
    record.mCode = nxOperation(NxOp::SetQelCpld).mCode;
    return dispatch(record, nxOperation(NxOp::SetQelCpld).mCheckSize);
}

bool USBDevice::setQelCpldMixOutSel(bool on) { return setCpldBit(kCpldMixOutSel, on); }
bool USBDevice::setQelCpldDigitalMon(bool on) { return setCpldBit(kCpldDigitalMon, on); }

bool USBDevice::sendCPortBytes(unsigned long count, unsigned char const* bytes)
{
    if (!isOpen()) return false;
    if (count == 0 || !bytes) return true;
    while (count > 0) {
        uint8_t chunk[256];
        const size_t length = count < 255 ? count : 255;
        chunk[0] = uint8_t(length);
        std::memcpy(chunk + 1, bytes, length);
        if (!nxExchange(*this, NxOp::SendCPortBytes, chunk, length + 1, nullptr)) return false;
        bytes += length;
        count -= length;
    }
    return true;
}

bool USBDevice::sendCPortBytesStatic(void* device, unsigned char const* bytes,
                                     unsigned long count)
{
    return device && static_cast<USBDevice*>(device)->sendCPortBytes(count, bytes);
}

// Levels arrive as consecutive words. Other vendors get them as they are; the Halvorne units
// spread them over the usable slots of the cached channel map.
bool USBDevice::levels(bool input, unsigned long* out)
{
    uint32_t answer[32];
    if (!nxExchange(*this, input ? NxOp::GetInLevels : NxOp::GetOutLevels, nullptr, 0, answer))
        return false;
    if (mVendorID != kHalvorneVendorId) {
        for (size_t i = 0; i < 32; ++i) out[i] = answer[i];
        return true;
    }
    const bool wide = mProductID == 8;
    const uint32_t channels = mConfigAndMap.mConfig.mWord[input ? 1 : 3];
    const size_t slots = input ? (wide ? 10 : 8) : (wide ? 12 : 6);
    const size_t firstEntry = input ? 0 : 8;
    for (size_t i = 0; i < (input ? 8u : 32u); ++i) out[i] = 0;

    // The wide product scans more slots than one direction of the map holds: input slots 8
    // and 9 fall on output entries 0 and 1; slots past the map's end count as unused.
    auto usable = [&](size_t slot) {
        const size_t entry = firstEntry + slot;
        return entry < 16 && (mConfigAndMap.mMap.mEntry[entry] & 0xFF) != 0xFF;
    };
    size_t j = 0;
    for (uint32_t i = 0; i < channels && i < 32; ++i) {
        while (j < slots && !usable(j)) ++j;
        if (j >= slots) break;
        out[j++] = answer[i];
    }
    return true;
}

bool USBDevice::getInLevels(unsigned long* out) { return out && levels(true, out); }
bool USBDevice::getOutLevels(unsigned long* out) { return out && levels(false, out); }

bool USBDevice::readLevelInfoEx(NX_LevelInfo32& out)
{
    unsigned long in[32], outLevels[32];
    for (size_t i = 0; i < 32; ++i) in[i] = out.mIn[i], outLevels[i] = out.mOut[i];
    getInLevels(in);
    getOutLevels(outLevels);
    for (size_t i = 0; i < 32; ++i) {
        out.mIn[i] = uint32_t(in[i]);
        out.mOut[i] = uint32_t(outLevels[i]);
    }
    return true;
}

bool USBDevice::levelInfoExAttach() { return true; }
bool USBDevice::levelInfoExDetach() { return true; }
bool USBDevice::readLevelInfoExtended1(NX_LevelInfoExtended1&) { return true; }
bool USBDevice::writeZRData(ZRCPortBase*, unsigned long) { return false; }

bool USBDevice::getDeviceDescriptor(NX_DeviceDescriptor& descriptor)
{
    if (!isOpen()) return false;
    std::memset(&descriptor, 0, sizeof descriptor);
    return DeviceIoControl(mConnection, 38, nullptr, 0, &descriptor, sizeof descriptor,
                           nullptr, nullptr);
}

bool USBDevice::replugDevice(bool forceLayoutB)
{
    if (!isOpen()) return false;
    return request(eDirectionOut, eLevelVendor, eRecipientDevice, 0x52, 0, 0, nullptr, 0,
                   forceLayoutB);
}

int USBDevice::getRouting(bool input, int index)
{
    if (mService == 0) return -1;
    plist_t properties = nullptr;
    const int status = nxPlatform().serviceProperties(mService, &properties);
    if (status != 0 || !properties) {
        std::printf("Error %x\n", status);
        std::fflush(stdout);
        if (properties) plist_free(properties);
        return -1;
    }
    int value = -1;
    plist_t ext = plist_dict_get_item(properties, "ZrExtData");
    char key[32];
    const int made = std::snprintf(key, sizeof key, "Routing%s%d", input ? "In" : "Out", index);
    if (!ext || plist_get_node_type(ext) != PLIST_DICT) {
        std::printf("Error No ZrExtData\n");
    } else if (made > 0 && size_t(made) < sizeof key) {
        plist_t node = plist_dict_get_item(ext, key);
        if (node && plist_get_node_type(node) == PLIST_UINT) {
            uint64_t raw = 0;
            plist_get_uint_val(node, &raw);
            value = int32_t(raw);
        }
        std::printf("getRouting %s returns: %d\n", key, value);
    }
    std::fflush(stdout);
    plist_free(properties);
    return value;
}
