// Device attach and detach, the version display and the direct USB path.

#include <cstdio>
#include <cstring>

#include "FWUpdater.h"
#include "FWUpdaterDetection.h"
#include "nvstring.h"
#include "nxids.h"

namespace {

const char kNoDevice[] = "Device not detected.";

}  // namespace

void FWUpdater::onDeviceAttached(USBDevice* device) {
    if (!mReady)
        return;
    if (!mDevice && device) {
        mDevice = device;
        device->retain();

        char text[1024];
        bool ok = device->open(true) && device->getDeviceDescriptor(mDeviceDescriptor) &&
                  device->getDriverVersion(device->mDriverVersion) && initFileversion(text);
        if (ok) {
            // Read back each time: every attach in a run appends the image's version once more.
            NVString title;
            GetWindowText(title);
            title += " ";
            title += text;
            SetWindowText(title);
            mUSBInterface = getUSBDeviceInterface();
            if (!mUpdating)
                device->prepareFirmwareUpdate();
            loadFirmwareVersionFromDevice();
            mBtnFlash.SetFocus();
        } else {
            mDevice = nullptr;
            device->close();
            device->release();
            memset(&mDeviceVersion, 0, sizeof(mDeviceVersion));
            mStatus.SetWindowText(kNoDevice);
            mBtnFlash.EnableWindow(false);
            mBtnSpare.EnableWindow(false);
        }
    }
    OnSelchangeComboFirmware();
}

void FWUpdater::onDeviceDetached(USBDevice* device) {
    USBDevice* current = mDevice;
    if (current && current == device) {
        if (!mUpdating)
            _fwUpdateSetRegVal(1);
        // Cleared before the handle goes, so the worker never picks up a dropped pointer.
        mDevice = nullptr;
        current->close();
        current->release();
        mStatus.SetWindowText(kNoDevice);
        mBtnFlash.EnableWindow(false);
        mBtnSpare.EnableWindow(false);
        mProgress.SetPos(0);
        if (mUSBInterface) {
            NVUSBRelease(mUSBInterface);
            mUSBInterface = nullptr;
        }
    } else if (!current && device) {
        mStatus.SetWindowText(kNoDevice);
    }
    OnSelchangeComboFirmware();
}

void FWUpdater::loadFirmwareVersionFromDevice() {
    USBDevice* device = mDevice;
    if (!device)
        return;
    NX_DeviceDescriptor descriptor;
    memset(&descriptor, 0, sizeof(descriptor));
    device->getDeviceDescriptor(descriptor);

    NxVersion version;
    memset(&version, 0, sizeof(version));
    device->getFirmwareVersion(version, false);   // a failed read leaves it zero
    mDeviceVersion = version;

    // A zero kernel tag ends the text right after the "k".
    NVString text;
    text.printf("Current firmware version is %d.%d.%d (k%c)", version.mMajor, version.mRevision,
                version.mStage, version.mKernel);

    if (!loadRom(loadBinResource(descriptor.productID()))) {
        onDeviceDetached(mDevice);
        return;
    }
    mStatus.SetWindowText(text);
    mBtnFlash.EnableWindow(true);
    mProgress.SetPos(0);
}

NVUSBDeviceInterface* FWUpdater::getUSBDeviceInterface() {
    void* port = nullptr;
    IOReturn status = NVUSBGetMasterPort(&port);
    if (status != IOReturn(kIOReturnSuccess)) {
        fprintf(stderr, "Could not get master port %X\n", unsigned(status));
        return nullptr;
    }
    NVUSBMatching* matching = NVUSBCreateMatching(int32_t(kMakerVendorId), int32_t(kUpdaterProductId));
    if (!matching) {
        fprintf(stderr, "Could create matching dictionary\n");
        return nullptr;
    }
    NVUSBIterator* iterator = nullptr;
    status = NVUSBGetMatchingServices(port, matching, &iterator);
    if (status != IOReturn(kIOReturnSuccess)) {
        fprintf(stderr, "Could not get device iterator %X\n", unsigned(status));
        return nullptr;
    }
    NVUSBService* service = NVUSBIteratorNext(iterator);
    if (!service) {
        fprintf(stderr, "Unable to find first matching USB device\n");
        NVUSBReleaseIterator(iterator);
        return nullptr;
    }
    NVUSBPlugIn* plugIn = nullptr;
    status = NVUSBCreatePlugIn(service, &plugIn);
    NVUSBDeviceInterface* device = nullptr;
    if (status != IOReturn(kIOReturnSuccess) || !plugIn) {
        fprintf(stderr, "Unable to create plug in interface for USB device %X\n", unsigned(status));
    } else {
        device = NVUSBQueryDeviceInterface(plugIn);
        NVUSBDestroyPlugIn(plugIn);
        if (!device)
            fprintf(stderr, "Unable to create USB device with QueryInterface\n");
    }
    NVUSBReleaseService(service);
    NVUSBReleaseIterator(iterator);
    return device;
}

IOReturn FWUpdater::USBVendorDeviceRequest(unsigned char direction, unsigned char request,
                                           unsigned short value, unsigned short index,
                                           char* data, unsigned short length) {
    if (!mUSBInterface)
        return IOReturn(kIOReturnNoDevice);
    IOUSBDevRequest r{uint8_t((direction & 1) * 0x80 + 0x40), request, value, index, length,
                      data, 0};
    return NVUSBDeviceRequest(mUSBInterface, &r);
}

IOReturn FWUpdater::USBDeviceRequest(unsigned char direction, unsigned char type,
                                     unsigned char recipient, unsigned char request,
                                     unsigned short value, unsigned short index, char* data,
                                     unsigned short length, unsigned short* lengthDone) {
    if (!mUSBInterface)
        return IOReturn(kIOReturnNoDevice);
    IOUSBDevRequest r{uint8_t((direction & 1) * 0x80 + (type & 3) * 0x20 + (recipient & 0x1F)),
                      request, value, index, length, data, 0};
    IOReturn status = NVUSBDeviceRequest(mUSBInterface, &r);
    if (direction == 1 && lengthDone)
        *lengthDone = uint16_t(r.wLenDone);
    return status;
}
