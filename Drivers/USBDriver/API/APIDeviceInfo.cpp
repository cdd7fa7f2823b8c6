#include "APIDeviceInfo.h"

#include "nxids.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr unsigned short kAnyRelease = 0xFFFF;

struct FixedLayoutRow {
    unsigned short vid;
    unsigned short pid;
    unsigned short release;
};

// Tested in this order.
constexpr FixedLayoutRow kFixedLayoutDevices[] = {
    { kMakerVendorId, kMakerProduct1, kAnyRelease },
    { kMakerVendorId, kMakerProduct2, kAnyRelease },
    { kMakerVendorId, kMakerProduct3, 0x0200 },
    { kSecondVendorId, kSecondProduct1, kAnyRelease },
    { kSecondVendorId, kSecondProduct2, kAnyRelease },
    { kSecondVendorId, kSecondProduct3, kAnyRelease },
    { kSecondVendorId, kSecondProduct4, kAnyRelease },
};

// Fixed-layout devices stream output on interface type 1, input on 2, both with setting type 2.
constexpr uint8_t kFixedOutputInterfaceType = 1;
constexpr uint8_t kFixedInputInterfaceType = 2;
constexpr uint8_t kFixedSettingType = 2;
constexpr uint16_t kMinPacketSize = 4;
constexpr uint8_t kDirectionIn = 0x80;

bool rateFits(APIFormatInfo const& format, unsigned int rate, bool exactRatesOnly)
{
    if (format.mRateKind != 0)
        return !exactRatesOnly && format.mLowestRate <= rate && rate <= format.mHighestRate;
    unsigned count = std::min<unsigned>(format.mRateCount, kAPIMaxRates);
    return std::find(format.mRates, format.mRates + count, rate) != format.mRates + count;
}

bool streamFits(VIDPID const& device, bool fixedLayout, APIInterfaceInfo const& interface,
                APISettingInfo const& setting, APIEndpointInfo const& endpoint, bool forOutput)
{
    if (device.mFeatures && device.mFeatures->mValid) {
        APISpecificFeatures const& f = *device.mFeatures;
        return forOutput
            ? interface.mType == f.mOutputInterfaceType && setting.mType == f.mOutputSettingType
            : interface.mType == f.mInputInterfaceType && setting.mType == f.mInputSettingType;
    }
    if (fixedLayout)
        return interface.mType == (forOutput ? kFixedOutputInterfaceType : kFixedInputInterfaceType)
            && setting.mType == kFixedSettingType;
    bool deviceToHost = (endpoint.mAddress & kDirectionIn) != 0;
    return endpoint.mMaxPacketSize >= kMinPacketSize && deviceToHost != forOutput;
}

} // namespace

VIDPID::VIDPID(unsigned short vid, unsigned short pid, unsigned short release,
               APISpecificFeatures const* features)
    : mVendorId(vid)
    , mProductId(pid)
    , mRelease(release)
    , mFeatures(features)
{
}

bool VIDPID::isDevice(unsigned short vid, unsigned short pid, unsigned short release) const
{
    return mVendorId == vid && mProductId == pid && (release == kAnyRelease || mRelease == release);
}

bool VIDPID::isNorvaneBulkDevice(bool value) const
{
    if (!mFeatures || !mFeatures->mValid || !mFeatures->mNorvaneBulk)
        return false;
    return value;
}

bool VIDPID::isFixedLayoutDevice() const
{
    return std::any_of(std::begin(kFixedLayoutDevices), std::end(kFixedLayoutDevices),
                       [this](FixedLayoutRow const& row) { return isDevice(row.vid, row.pid, row.release); });
}

APIDeviceMatch scanAPIDeviceInfo(APIDeviceInfo const& info, unsigned int configuration,
                                 unsigned int rate, unsigned char key0, unsigned char key1,
                                 bool exactRatesOnly, bool forOutput)
{
    VIDPID device(info.mVendorId, info.mProductId, info.mRelease, &info.mFeatures);
    APIDeviceMatch match {};
    match.mRate = rate;
    match.mKey0 = key0;
    match.mKey1 = key1;
    if (configuration >= info.mConfigurationCount || configuration >= kAPIMaxConfigurations)
        return match;
    bool fixedLayout = device.isFixedLayoutDevice();

    APIConfigurationInfo const& config = info.mConfigurations[configuration];
    match.mConfiguration = static_cast<uint16_t>(configuration);
    unsigned interfaces = std::min<unsigned>(config.mInterfaceCount, kAPIMaxInterfaces);
    for (unsigned i = 0; i < interfaces; ++i) {
        APIInterfaceInfo const& interface = config.mInterfaces[i];
        match.mInterface = static_cast<uint16_t>(i);
        unsigned settings = std::min<unsigned>(interface.mSettingCount, kAPIMaxSettings);
        for (unsigned s = 0; s < settings; ++s) {
            APISettingInfo const& setting = interface.mSettings[s];
            match.mSetting = static_cast<uint16_t>(s);
            if (setting.mFormat.mKey0 != key0 || setting.mFormat.mKey1 != key1)
                continue;
            if (!rateFits(setting.mFormat, rate, exactRatesOnly))
                continue;
            unsigned endpoints = std::min<unsigned>(setting.mEndpointCount, kAPIMaxEndpoints);
            for (unsigned e = 0; e < endpoints; ++e) {
                if (streamFits(device, fixedLayout, interface, setting, setting.mEndpoints[e], forOutput)) {
                    match.mFound = true;
                    return match;
                }
            }
        }
    }
    return match;
}

uint8_t NVAudio__bytesFromBits(int bits)
{
    switch (bits) {
    case 16:
        return 2;
    case 20:
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}
