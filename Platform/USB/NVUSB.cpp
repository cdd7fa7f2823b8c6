#include "nvusb.h"

#include <libusb.h>

#include <mutex>
#include <new>
#include <vector>

struct NVUSBMatching {
    int32_t vendorId;
    int32_t productId;
};

struct NVUSBService {
    libusb_device* device;   // one reference of libusb's
};

struct NVUSBIterator {
    std::vector<libusb_device*> devices;   // one reference each
    size_t next = 0;
};

struct NVUSBPlugIn {
    libusb_device_handle* handle;
};

struct NVUSBDeviceInterface {
    libusb_device_handle* handle;
    uint32_t refCount;
    std::mutex lock;
};

namespace {

constexpr unsigned kRequestTimeoutMs = 5000;

IOReturn fromLibusb(int error) {
    switch (error) {
    case LIBUSB_SUCCESS: return IOReturn(kIOReturnSuccess);
    case LIBUSB_ERROR_INVALID_PARAM: return IOReturn(kIOReturnBadArgument);
    case LIBUSB_ERROR_ACCESS: return IOReturn(kIOReturnNotPrivileged);
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return IOReturn(kIOReturnNoDevice);
    case LIBUSB_ERROR_BUSY: return IOReturn(kIOReturnBusy);
    case LIBUSB_ERROR_TIMEOUT: return IOReturn(kIOReturnTimeout);
    case LIBUSB_ERROR_OVERFLOW: return IOReturn(kIOReturnOverrun);
    case LIBUSB_ERROR_PIPE: return IOReturn(kIOUSBPipeStalled);
    case LIBUSB_ERROR_NO_MEM: return IOReturn(kIOReturnNoMemory);
    case LIBUSB_ERROR_NOT_SUPPORTED: return IOReturn(kIOReturnUnsupported);
    default: return IOReturn(kIOReturnError);
    }
}

}  // namespace

IOReturn NVUSBGetMasterPort(void** outPort) {
    if (!outPort)
        return IOReturn(kIOReturnBadArgument);
    // One context for the process, kept until it ends.
    static std::once_flag once;
    static libusb_context* context = nullptr;
    static int status = LIBUSB_SUCCESS;
    std::call_once(once, [] { status = libusb_init(&context); });
    *outPort = status == LIBUSB_SUCCESS ? context : nullptr;
    return fromLibusb(status);
}

NVUSBMatching* NVUSBCreateMatching(int32_t vendorId, int32_t productId) {
    return new (std::nothrow) NVUSBMatching{vendorId, productId};
}

void NVUSBReleaseMatching(NVUSBMatching* matching) { delete matching; }

IOReturn NVUSBGetMatchingServices(void* port, NVUSBMatching* matching, NVUSBIterator** outIterator) {
    if (!outIterator || !matching || !port) {
        NVUSBReleaseMatching(matching);
        return IOReturn(kIOReturnBadArgument);
    }
    *outIterator = nullptr;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(static_cast<libusb_context*>(port), &list);
    if (count < 0) {
        NVUSBReleaseMatching(matching);
        return fromLibusb(int(count));
    }
    auto* iterator = new (std::nothrow) NVUSBIterator;
    if (iterator) {
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor d;
            if (libusb_get_device_descriptor(list[i], &d) != LIBUSB_SUCCESS)
                continue;
            if (int32_t(d.idVendor) == matching->vendorId &&
                int32_t(d.idProduct) == matching->productId)
                iterator->devices.push_back(libusb_ref_device(list[i]));
        }
    }
    libusb_free_device_list(list, 1);
    NVUSBReleaseMatching(matching);
    if (!iterator)
        return IOReturn(kIOReturnNoMemory);
    *outIterator = iterator;
    return IOReturn(kIOReturnSuccess);
}

NVUSBService* NVUSBIteratorNext(NVUSBIterator* iterator) {
    if (!iterator || iterator->next >= iterator->devices.size())
        return nullptr;
    auto* service = new (std::nothrow) NVUSBService{iterator->devices[iterator->next]};
    if (!service)
        return nullptr;
    libusb_ref_device(service->device);
    ++iterator->next;
    return service;
}

void NVUSBReleaseIterator(NVUSBIterator* iterator) {
    if (!iterator)
        return;
    for (libusb_device* d : iterator->devices)
        libusb_unref_device(d);
    delete iterator;
}

void NVUSBReleaseService(NVUSBService* service) {
    if (!service)
        return;
    libusb_unref_device(service->device);
    delete service;
}

IOReturn NVUSBCreatePlugIn(NVUSBService* service, NVUSBPlugIn** outPlugIn) {
    if (!service || !outPlugIn)
        return IOReturn(kIOReturnBadArgument);
    *outPlugIn = nullptr;
    libusb_device_handle* handle = nullptr;
    int status = libusb_open(service->device, &handle);
    if (status != LIBUSB_SUCCESS)
        return fromLibusb(status);
    auto* plugIn = new (std::nothrow) NVUSBPlugIn{handle};
    if (!plugIn) {
        libusb_close(handle);
        return IOReturn(kIOReturnNoMemory);
    }
    *outPlugIn = plugIn;
    return IOReturn(kIOReturnSuccess);
}

NVUSBDeviceInterface* NVUSBQueryDeviceInterface(NVUSBPlugIn* plugIn) {
    if (!plugIn || !plugIn->handle)
        return nullptr;
    auto* device = new (std::nothrow) NVUSBDeviceInterface;
    if (!device)
        return nullptr;
    device->handle = plugIn->handle;   // the interface keeps the device open now
    device->refCount = 1;
    plugIn->handle = nullptr;
    return device;
}

void NVUSBDestroyPlugIn(NVUSBPlugIn* plugIn) {
    if (!plugIn)
        return;
    if (plugIn->handle)
        libusb_close(plugIn->handle);
    delete plugIn;
}

uint32_t NVUSBAddRef(NVUSBDeviceInterface* device) {
    if (!device)
        return 0;
    std::lock_guard<std::mutex> hold(device->lock);
    return ++device->refCount;
}

uint32_t NVUSBRelease(NVUSBDeviceInterface* device) {
    if (!device)
        return 0;
    uint32_t left;
    {
        std::lock_guard<std::mutex> hold(device->lock);
        left = --device->refCount;
    }
    if (left == 0) {
        libusb_close(device->handle);
        delete device;
    }
    return left;
}

IOReturn NVUSBDeviceRequest(NVUSBDeviceInterface* device, IOUSBDevRequest* request) {
    if (!device || !request || (request->wLength && !request->pData))
        return IOReturn(kIOReturnBadArgument);
    request->wLenDone = 0;
    int n = libusb_control_transfer(device->handle, request->bmRequestType, request->bRequest,
                                    request->wValue, request->wIndex,
                                    static_cast<unsigned char*>(request->pData), request->wLength,
                                    kRequestTimeoutMs);
    if (n < 0)
        return fromLibusb(n);
    request->wLenDone = uint32_t(n);
    return IOReturn(kIOReturnSuccess);
}
