#ifndef NXSURFACE_DEVICE_BUILDER_H
#define NXSURFACE_DEVICE_BUILDER_H

// Builds APIDeviceInfo descriptions for tests: each call adds to the last configuration,
// interface or setting added, the way a descriptor reads.

#include "APIDeviceInfo.h"

#include <cstdint>
#include <initializer_list>
#include <memory>

class DeviceBuilder {
public:
    DeviceBuilder(uint16_t vid, uint16_t pid, uint16_t release = 0x0100)
        : mInfo(new APIDeviceInfo {})
    {
        mInfo->mVendorId = vid;
        mInfo->mProductId = pid;
        mInfo->mRelease = release;
    }
    // Copies the description, so a chain of calls on a temporary can end in a value.
    DeviceBuilder(const DeviceBuilder& other)
        : mInfo(new APIDeviceInfo(*other.mInfo))
    {
    }
    DeviceBuilder& operator=(const DeviceBuilder&) = delete;

    DeviceBuilder& configuration()
    {
        ++mInfo->mConfigurationCount;
        return *this;
    }
    DeviceBuilder& interface(uint8_t type)
    {
        APIInterfaceInfo& i = config().mInterfaces[config().mInterfaceCount++];
        i.mType = type;
        return *this;
    }
    // A setting with a discrete rate list; `count` below the list's size hides the rest.
    DeviceBuilder& rates(uint8_t type, uint8_t key0, uint8_t key1, std::initializer_list<uint32_t> list,
                         int count = -1)
    {
        APIFormatInfo& f = newSetting(type, key0, key1).mFormat;
        for (uint32_t r : list)
            f.mRates[f.mRateCount++] = r;
        if (count >= 0)
            f.mRateCount = static_cast<uint8_t>(count);
        return *this;
    }
    DeviceBuilder& range(uint8_t type, uint8_t key0, uint8_t key1, uint32_t lowest, uint32_t highest)
    {
        APIFormatInfo& f = newSetting(type, key0, key1).mFormat;
        f.mRateKind = 1;
        f.mLowestRate = lowest;
        f.mHighestRate = highest;
        return *this;
    }
    DeviceBuilder& endpoint(uint8_t address, uint16_t maxPacketSize)
    {
        APISettingInfo& s = setting();
        s.mEndpoints[s.mEndpointCount++] = { maxPacketSize, address, 0 };
        return *this;
    }
    DeviceBuilder& features(uint8_t inInterface, uint8_t inSetting, uint8_t outInterface, uint8_t outSetting,
                            bool valid = true, bool bulk = false)
    {
        APISpecificFeatures& f = mInfo->mFeatures;
        f.mInputInterfaceType = inInterface;
        f.mInputSettingType = inSetting;
        f.mOutputInterfaceType = outInterface;
        f.mOutputSettingType = outSetting;
        f.mValid = valid;
        f.mNorvaneBulk = bulk;
        return *this;
    }

    APIDeviceInfo& info() { return *mInfo; }

private:
    APIConfigurationInfo& config() { return mInfo->mConfigurations[mInfo->mConfigurationCount - 1]; }
    APIInterfaceInfo& lastInterface() { return config().mInterfaces[config().mInterfaceCount - 1]; }
    APISettingInfo& setting() { return lastInterface().mSettings[lastInterface().mSettingCount - 1]; }
    APISettingInfo& newSetting(uint8_t type, uint8_t key0, uint8_t key1)
    {
        APISettingInfo& s = lastInterface().mSettings[lastInterface().mSettingCount++];
        s.mType = type;
        s.mFormat.mKey0 = key0;
        s.mFormat.mKey1 = key1;
        return s;
    }

    std::unique_ptr<APIDeviceInfo> mInfo;   // about 100 KB: kept off the stack
};

#endif
