#ifndef APIDEVICEINFO_H
#define APIDEVICEINFO_H

// The supported-device matcher: finds the streaming interface and alternate setting of a USB
// audio device that carries a given format and rate in one direction. The description is
// filled by the driver components; its counts are bounded here by the array sizes, so a
// description with larger counts never reads past its arrays.

#include <cstddef>
#include <cstdint>

enum : unsigned {
    kAPIMaxConfigurations = 4,
    kAPIMaxInterfaces = 16,
    kAPIMaxSettings = 16,
    kAPIMaxEndpoints = 4,
    kAPIMaxRates = 16,
};

struct APIEndpointInfo {
    uint16_t mMaxPacketSize;
    uint8_t mAddress;   // bit 0x80: device to host
    uint8_t mUnused;
};

struct APIFormatInfo {
    uint8_t mKey0;
    uint8_t mKey1;
    uint8_t mRateKind;   // 0: the discrete list mRates; otherwise mLowestRate..mHighestRate
    uint8_t mRateCount;
    uint32_t mLowestRate;
    uint32_t mHighestRate;
    uint32_t mRates[kAPIMaxRates];
};

struct APISettingInfo {
    uint8_t mType;
    uint8_t mUnused0;
    uint8_t mEndpointCount;
    uint8_t mUnused1;
    APIFormatInfo mFormat;
    APIEndpointInfo mEndpoints[kAPIMaxEndpoints];
};

struct APIInterfaceInfo {
    uint8_t mType;
    uint8_t mUnused0;
    uint8_t mSettingCount;
    uint8_t mUnused1;
    APISettingInfo mSettings[kAPIMaxSettings];
};

struct APIConfigurationInfo {
    uint8_t mUnused0[2];
    uint8_t mInterfaceCount;
    uint8_t mUnused1;
    APIInterfaceInfo mInterfaces[kAPIMaxInterfaces];
};

// The device's own feature block; only the named bytes are read here.
struct APISpecificFeatures {
    uint8_t mReserved0[304];
    uint8_t mInputInterfaceType;
    uint8_t mInputSettingType;
    uint8_t mOutputInterfaceType;
    uint8_t mOutputSettingType;
    uint8_t mReserved1[5];
    uint8_t mNorvaneBulk;   // nonzero: the maker's bulk transport
    uint8_t mReserved2[61];
    uint8_t mValid;         // nonzero: the stream types above decide the match
};

struct APIDeviceInfo {
    uint16_t mVendorId;
    uint16_t mProductId;
    uint16_t mRelease;
    uint8_t mConfigurationCount;
    APIConfigurationInfo mConfigurations[kAPIMaxConfigurations];
    APISpecificFeatures mFeatures;
};

// The driver components fill these blocks by layout.
static_assert(sizeof(APIFormatInfo) == 76, "format block");
static_assert(sizeof(APIEndpointInfo) == 4, "endpoint entry");
static_assert(sizeof(APISettingInfo) == 96, "alternate-setting block");
static_assert(sizeof(APIInterfaceInfo) == 4 + 16 * 96, "interface block");
static_assert(sizeof(APIConfigurationInfo) == 4 + 16 * sizeof(APIInterfaceInfo), "configuration block");
static_assert(offsetof(APIDeviceInfo, mConfigurations) == 8, "configurations after the ids");
static_assert(offsetof(APISpecificFeatures, mInputInterfaceType) == 304, "feature byte 304");
static_assert(offsetof(APISpecificFeatures, mInputSettingType) == 305, "feature byte 305");
static_assert(offsetof(APISpecificFeatures, mOutputInterfaceType) == 306, "feature byte 306");
static_assert(offsetof(APISpecificFeatures, mOutputSettingType) == 307, "feature byte 307");
static_assert(offsetof(APISpecificFeatures, mNorvaneBulk) == 313, "feature byte 313");
static_assert(offsetof(APISpecificFeatures, mValid) == 375, "feature byte 375");
static_assert(sizeof(APISpecificFeatures) == 376, "feature block");

class VIDPID {
public:
    VIDPID(unsigned short vid, unsigned short pid, unsigned short release,
           APISpecificFeatures const* features);

    // Vendor and product id equal, and the release too unless `release` is 0xFFFF.
    bool isDevice(unsigned short vid, unsigned short pid, unsigned short release) const;
    // `value` when the feature block is valid and names the bulk transport, else false.
    bool isNorvaneBulkDevice(bool value) const;
    // One of the devices matched by the fixed interface layout.
    bool isFixedLayoutDevice() const;

    unsigned short mVendorId;
    unsigned short mProductId;
    unsigned short mRelease;
    APISpecificFeatures const* mFeatures;
};

struct APIDeviceMatch {
    bool mFound;
    uint16_t mConfiguration;   // the three indexes hold only when mFound
    uint16_t mInterface;
    uint16_t mSetting;
    uint32_t mRate;
    uint8_t mKey0;
    uint8_t mKey1;
};

// First setting, in configuration, interface, setting and endpoint order, whose format has
// the keys, whose rates hold `rate` (a continuous range only unless exactRatesOnly) and one
// of whose endpoints passes the stream test for the direction.
APIDeviceMatch scanAPIDeviceInfo(APIDeviceInfo const& info, unsigned int configuration,
                                 unsigned int rate, unsigned char key0, unsigned char key1,
                                 bool exactRatesOnly, bool forOutput);

// Bytes per sample: 16 -> 2, 20 and 24 -> 3, 32 -> 4, anything else 0.
uint8_t NVAudio__bytesFromBits(int bits);

#endif
