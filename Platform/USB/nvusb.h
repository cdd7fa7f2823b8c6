#ifndef NVUSB_H
#define NVUSB_H

// Direct access to a USB device on libusb, in the steps a caller of the platform's USB
// device interface takes: the bus (master port), a matching record, an iterator of matching
// devices, a plug-in (the opened device) and the device interface asked of it. Every
// failure is a status or null; statuses are 32-bit platform codes (kIOReturn…).

#include <cstdint>

using IOReturn = int32_t;

enum : uint32_t {
    kIOReturnSuccess = 0,
    kIOReturnError = 0xE00002BC,
    kIOReturnNoMemory = 0xE00002BD,
    kIOReturnBadArgument = 0xE00002C2,
    kIOReturnNotPrivileged = 0xE00002C1,
    kIOReturnNoDevice = 0xE00002C0,
    kIOReturnBusy = 0xE00002D5,
    kIOReturnTimeout = 0xE00002D6,
    kIOReturnOverrun = 0xE00002E8,
    kIOReturnUnsupported = 0xE00002C7,
    kIOUSBPipeStalled = 0xE000404F,
};

struct NVUSBMatching;
struct NVUSBIterator;
struct NVUSBService;
struct NVUSBPlugIn;
struct NVUSBDeviceInterface;

// One control request, as the device interface takes it.
struct IOUSBDevRequest {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
    void* pData;
    uint32_t wLenDone;
};

// The bus: the process's libusb context, made on first use. A machine without a USB
// subsystem counts as an empty bus.
IOReturn NVUSBGetMasterPort(void** outPort);
// A matching record for devices with this vendor and product id; null without memory.
NVUSBMatching* NVUSBCreateMatching(int32_t vendorId, int32_t productId);
void NVUSBReleaseMatching(NVUSBMatching* matching);
// The devices on the bus that match, in bus order. Takes the matching record.
IOReturn NVUSBGetMatchingServices(void* port, NVUSBMatching* matching, NVUSBIterator** outIterator);
// The next device, or null; a service is released with NVUSBReleaseService.
NVUSBService* NVUSBIteratorNext(NVUSBIterator* iterator);
void NVUSBReleaseIterator(NVUSBIterator* iterator);
void NVUSBReleaseService(NVUSBService* service);
// Opens the device (not for exclusive access).
IOReturn NVUSBCreatePlugIn(NVUSBService* service, NVUSBPlugIn** outPlugIn);
// The device interface of an opened device; it keeps the device open. Null without memory.
NVUSBDeviceInterface* NVUSBQueryDeviceInterface(NVUSBPlugIn* plugIn);
void NVUSBDestroyPlugIn(NVUSBPlugIn* plugIn);
// Reference counting of the device interface (it starts at 1); the last release closes it.
uint32_t NVUSBAddRef(NVUSBDeviceInterface* device);
uint32_t NVUSBRelease(NVUSBDeviceInterface* device);
// Sends one control request synchronously; wLenDone gets the bytes transferred.
IOReturn NVUSBDeviceRequest(NVUSBDeviceInterface* device, IOUSBDevRequest* request);

#endif
