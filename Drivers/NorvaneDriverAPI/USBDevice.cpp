// The device handle: life, open and close, and the transport every request takes.

#include <cstdio>
#include <cstring>

#include "NorvaneDriverAPI.h"
#include "NxCatalogue.h"
#include "NxPlatform.h"
#include "NxRecord.h"

namespace {

// Control codes of DeviceIoControl and the dispatch codes they become.
struct IoControl {
    int mControl;
    uint32_t mDispatch;
    bool mText;   // the last byte copied out is forced to NUL
};
constexpr IoControl kIoControls[] = {
    {0, 18, true}, {1, 19, true}, {38, 21, false}, {39, 20, false}, {41, 22, false},
    {56, 48, false},
};

const IoControl* findIoControl(int code)
{
    for (const IoControl& c : kIoControls)
        if (c.mControl == code) return &c;
    return nullptr;
}

// A registry number read as a signed 16-bit value, as the ids are stored.
void readId(plist_t dict, const char* key, uint16_t& id)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_UINT) return;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    id = uint16_t(int16_t(value));
}

} // namespace

USBDevice::USBDevice(unsigned int service)
    : mNotification(0), mInfoText0{}, mInfoText1{}, mOpenInfo{}, mOpenFlag(false),
      mService(service), mConnection(0), mProperties(nullptr), mProductID(0xFFFF),
      mVendorID(0xFFFF), mRefCount(0)
{
    std::memset(&mDriverVersion, 0, sizeof mDriverVersion);
    std::memset(&mConfigAndMap, 0, sizeof mConfigAndMap);
    if (mService != 0) {
        nxPlatform().serviceRetain(mService);
        getIORegistryProperties();
        if (mProperties) {
            readId(mProperties, "idProduct", mProductID);
            readId(mProperties, "idVendor", mVendorID);
        }
    }
}

USBDevice::~USBDevice()
{
    close();
    if (mNotification) nxPlatform().objectRelease(mNotification);
    if (mService) nxPlatform().serviceRelease(mService);
    if (mProperties) plist_free(mProperties);
}

void USBDevice::retain() { mRefCount.fetch_add(1, std::memory_order_relaxed); }

void USBDevice::release()
{
    if (mRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

int USBDevice::getIORegistryProperties()
{
    plist_t fresh = nullptr;
    int status = nxPlatform().serviceProperties(mService, &fresh);
    if (status != 0 || !fresh) return status != 0 ? status : -1;
    if (mProperties) plist_free(mProperties);
    mProperties = fresh;
    return 0;
}

bool USBDevice::open(bool)
{
    if (isOpen()) return true;
    if (mService == 0) return false;
    unsigned int connection = 0;
    if (nxPlatform().serviceOpen(mService, kNxUserClientType, &connection) != 0 ||
        connection == 0) {
        mConnection = 0;
        return false;
    }
    mConnection = connection;
    // The driver's version picks the control-request layout, so it comes first.
    if (!getDriverVersion(mDriverVersion)) {
        close();
        return false;
    }
    DeviceIoControl(mConnection, 0, nullptr, 0, mInfoText0, sizeof mInfoText0, nullptr, nullptr);
    DeviceIoControl(mConnection, 1, nullptr, 0, mInfoText1, sizeof mInfoText1, nullptr, nullptr);
    uint32_t flag = 0;
    DeviceIoControl(mConnection, 39, nullptr, 0, &flag, sizeof flag, nullptr, nullptr);
    if (!nxExchange(*this, NxOp::GetOpenInfo, nullptr, 0, mOpenInfo)) {
        mOpenInfo[0] = 0;
        mOpenInfo[1] = 0;
    }
    updateHalvorneConfigAndMap();
    mOpenFlag = flag != 0;
    return isOpen();
}

void CloseHandle(unsigned int connection)
{
    if (connection != 0) nxPlatform().connectionClose(connection);
}

void USBDevice::close()
{
    unsigned int connection = mConnection.exchange(0);
    if (connection) CloseHandle(connection);
}

bool USBDevice::dispatch(NX_Dispatch& record, bool checkSize)
{
    unsigned int connection = mConnection.load();
    if (connection == 0) return false;
    size_t answered = sizeof record;
    if (nxPlatform().connectionCall(connection, kNxMethodSelector, &record, sizeof record,
                                    &record, &answered) != 0)
        return false;
    return !checkSize || answered == sizeof record;
}

bool USBDevice::DeviceIoControl(unsigned int device, int code, void*, unsigned long,
                                void* out, unsigned long outSize, unsigned long* returned,
                                void*)
{
    if (device == 0) return false;
    size_t n = outSize < 256 ? outSize : 256;
    if (!out) n = 0;
    if (returned) *returned = 0;
    const IoControl* control = findIoControl(code);
    if (!control) return false;
    NX_Dispatch record = nxRecord(control->mDispatch);
    if (!dispatch(record, true)) return false;
    if (n > 0) {
        nxGet(record, kNxPayloadOffset, out, n);
        if (control->mText) static_cast<char*>(out)[n - 1] = 0;
        if (returned) *returned = n;
    }
    return true;
}

bool USBDevice::request(EDirection direction, EDRQ_Level level, EDRQ_Recipient recipient,
                        unsigned char bRequest, unsigned short value, unsigned short index,
                        char* buffer, unsigned short length, bool forceLayoutB)
{
    if (!isOpen() || length > 256) return false;
    const NxControlLayout& layout =
        (mDriverVersion.mMajor == 1 && !forceLayoutB) ? kNxLayoutA : kNxLayoutB;
    // More than the layout's data area would spill into the header fields.
    if (length > layout.capacity) return false;

    NX_Dispatch record = nxRecord(nxOperation(NxOp::ControlRequest).mCode);
    nxPutValue<uint32_t>(record, layout.direction, direction);
    nxPutValue<uint32_t>(record, layout.level, level);
    nxPutValue<uint32_t>(record, layout.recipient, recipient);
    nxPutValue<uint8_t>(record, layout.request, bRequest);
    nxPutValue<uint16_t>(record, layout.value, value);
    nxPutValue<uint16_t>(record, layout.index, index);
    nxPutValue<uint32_t>(record, layout.length, length);
    if (buffer && length > 0)
        nxPut(record, layout.data, buffer, length);   // the rest of the data area stays zero

    if (!dispatch(record, nxOperation(NxOp::ControlRequest).mCheckSize)) return false;
    if (direction == eDirectionIn && buffer) {
        // Never more than was asked for, whatever the driver claims it moved.
        uint32_t n = nxGetValue<uint32_t>(record, layout.length);
        if (n > 256) n = 256;
        if (n > length) n = length;
        nxGet(record, layout.data, buffer, n);
    }
    return true;
}

bool USBDevice::getDriverVersion(NxVersion& version)
{
    std::memset(&version, 0, sizeof version);
    if (!isOpen()) return false;
    uint8_t answer[8] = {};
    if (!DeviceIoControl(mConnection, 41, nullptr, 0, answer, sizeof answer, nullptr, nullptr))
        return false;
    nxapiDecodeDriverVersion(answer, version);
    return true;
}

bool USBDevice::getFirmwareVersion(NxVersion& version, bool useRequest)
{
    std::memset(&version, 0, sizeof version);
    if (!isOpen()) return false;
    uint32_t word = 0;
    if (!useRequest && !nxExchange(*this, NxOp::GetFirmwareWord, nullptr, 0, &word))
        return false;
    if (useRequest || word == 0) {
        // The driver does not know the version: ask the device itself.
        uint8_t bytes[3] = {};
        if (!request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x56, 0, 0,
                     reinterpret_cast<char*>(bytes), sizeof bytes, true))
            return false;
        word = nxapiFirmwareWordFromRequest(bytes);
        std::printf("fwupdater %08X\n", word);
    }
    std::printf("uFirmwareVersion %08X\n", word);
    std::fflush(stdout);
    nxapiDecodeFirmwareWord(word, version);
    if (nxExchange(*this, NxOp::GetFirmwareExtra, nullptr, 0, version.mExtra))
        version.mExtra[sizeof version.mExtra - 1] = 0;
    return true;
}

void USBDevice::updateHalvorneConfigAndMap()
{
    nxExchange(*this, NxOp::GetConfigurationAndChannelMap, nullptr, 0, &mConfigAndMap);
}

void USBDevice::ServiceInterestCallback(void* refcon, unsigned int, uint32_t messageType,
                                        void* messageArgument)
{
    if (refcon)
        static_cast<USBDevice*>(refcon)->onServiceInterestCallback(messageType,
                                                                   messageArgument);
}
