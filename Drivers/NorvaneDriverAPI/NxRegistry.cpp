// The device registry: one per process, driven from the run loop of the thread that
// started it. Its state is touched from that thread only.

#include "NxRegistry.h"

#include <cstring>
#include <new>
#include <unistd.h>

USBDevice* nxapiDeviceMap[kNxapiDeviceSlots];
NVRunLoopRef _nxapiRunLoop;
NVRunLoopSourceRef _nxapiRunLoopSource;
NVDSObject _nxapiMasterDevicePort;
NVDSNotificationPortRef _nxapiNotifyPort;
NVDSObject _nxapiServicePublishIterator;
NVDSObject mServiceTerminateIterator;
bool mIteratorsNeedEmptying;
plist_t mMatchingDict;
NXAPI_Callback _nxapiCallbackFunction;
void* nxapiCallbackContext;

namespace {

// Driver notice codes and the events they raise.
struct NoticeEvent {
    uint32_t mNotice;
    NXAPI_CBEvent mEvent;
};
constexpr NoticeEvent kNoticeEvents[] = {
    {3, NXAPI_CB_Notice3},  {49, NXAPI_CB_Notice3}, {50, NXAPI_CB_Notice3},
    {55, NXAPI_CB_Notice3}, {56, NXAPI_CB_Notice3}, {34, NXAPI_CB_Notice4},
    {14, NXAPI_CB_Notice5}, {35, NXAPI_CB_Notice6}, {48, NXAPI_CB_Notice7},
};

void notify(USBDevice* device, NXAPI_CBEvent event)
{
    if (_nxapiCallbackFunction) _nxapiCallbackFunction(nxapiCallbackContext, device, event);
}

// The service's name record: at most 255 characters, NUL-terminated even if the caller's
// record is not.
void className(const GUID& name, char (&out)[256])
{
    std::memcpy(out, name.mName, sizeof out);
    out[sizeof out - 1] = 0;
}

} // namespace

void nxapiInit(NXAPI_Callback callback, void* context, GUID const& name)
{
    if (_nxapiMasterDevicePort != 0) return;   // the first callback stays in force
    for (USBDevice*& slot : nxapiDeviceMap) slot = nullptr;
    _nxapiCallbackFunction = callback;
    nxapiCallbackContext = context;

    _nxapiRunLoop = NVRunLoopGetCurrent();
    _nxapiMasterDevicePort = 0;
    _nxapiNotifyPort = nullptr;
    _nxapiRunLoopSource = nullptr;
    _nxapiServicePublishIterator = 0;
    mServiceTerminateIterator = 0;
    mIteratorsNeedEmptying = false;

    char serviceClass[256];
    className(name, serviceClass);
    if (mMatchingDict) plist_free(mMatchingDict);
    mMatchingDict = NVDSServiceMatching(serviceClass);

    if (NVDSGetMasterPort(&_nxapiMasterDevicePort) != kNVDSSuccess) {
        _nxapiMasterDevicePort = 0;
        return;
    }
    if (_nxapiRunLoop) {
        _nxapiNotifyPort = NVDSNotificationPortCreate(_nxapiMasterDevicePort);
        if (!_nxapiNotifyPort) return;
        _nxapiRunLoopSource = NVDSNotificationPortGetRunLoopSource(_nxapiNotifyPort);
        if (!_nxapiRunLoopSource) return;
        NVRunLoopAddSource(_nxapiRunLoop, _nxapiRunLoopSource);
        if (NVDSAddMatchingNotification(_nxapiNotifyPort, kNVDSServicePublish, mMatchingDict,
                                        ServicePublishCallback, nullptr,
                                        &_nxapiServicePublishIterator) != kNVDSSuccess)
            return;
        if (NVDSAddMatchingNotification(_nxapiNotifyPort, kNVDSServiceTerminate, mMatchingDict,
                                        ServiceTerminateCallback, nullptr,
                                        &mServiceTerminateIterator) != kNVDSSuccess)
            return;
        mIteratorsNeedEmptying = true;
    }
    _nxapiScanServices();
}

void _nxapiScanServices()
{
    if (_nxapiMasterDevicePort == 0) return;
    if (mIteratorsNeedEmptying) {
        // Draining the freshly armed iterators delivers what is present and arms delivery.
        mIteratorsNeedEmptying = false;
        ServicePublishCallback(nullptr, _nxapiServicePublishIterator);
        ServiceTerminateCallback(nullptr, mServiceTerminateIterator);
        return;
    }
    // No notifications: only the services present now are ever found.
    NVDSObject iterator = 0;
    if (NVDSGetMatchingServices(_nxapiMasterDevicePort, mMatchingDict, &iterator) ==
        kNVDSSuccess) {
        ServicePublishCallback(nullptr, iterator);
        NVDSObjectRelease(iterator);
    }
}

void ServicePublishCallback(void*, NVDSObject iterator)
{
    usleep(100 * 1000);   // lets a newly published service settle before it is opened
    while (NVDSObject service = NVDSIteratorNext(iterator)) {
        ServicePublished(service);
        NVDSObjectRelease(service);
    }
}

void ServicePublished(NVDSObject service)
{
    USBDevice* device = new (std::nothrow) USBDevice(service);
    if (!device) return;
    for (USBDevice*& slot : nxapiDeviceMap) {
        if (slot) continue;
        slot = device;
        device->retain();
        NVDSAddInterestNotification(_nxapiNotifyPort, service, USBDevice::ServiceInterestCallback,
                                    device, &device->mNotification);
        break;
    }
    // A full table still announces the device; nobody keeps it then but the client.
    notify(device, NXAPI_CB_DeviceArrived);
}

void ServiceTerminateCallback(void*, NVDSObject iterator)
{
    while (NVDSObject service = NVDSIteratorNext(iterator)) {
        ServiceTerminated(service);
        NVDSObjectRelease(service);
    }
}

void ServiceTerminated(NVDSObject service)
{
    for (USBDevice*& slot : nxapiDeviceMap) {
        if (!slot || slot->getDeviceInstance() != service) continue;
        USBDevice* device = slot;
        notify(device, NXAPI_CB_DeviceRemoved);   // still open and in the table
        device->close();
        device->release();
        slot = nullptr;
        return;
    }
}

void _nxapiMarkAsRemoved(USBDevice* device)
{
    if (!device) return;
    for (USBDevice*& slot : nxapiDeviceMap) {
        if (slot != device) continue;
        slot = nullptr;
        notify(device, NXAPI_CB_DeviceRemoved);
        device->close();
        device->release();
        return;
    }
}

void USBDevice::onServiceInterestCallback(uint32_t messageType, void* messageArgument)
{
    if (!messageArgument || messageType != kNxNoticeMessageType) return;
    uint32_t words[2];
    std::memcpy(words, messageArgument, sizeof words);
    if (words[0] != kNxNoticeTag) return;
    for (const NoticeEvent& n : kNoticeEvents) {
        if (n.mNotice != words[1]) continue;
        notify(this, n.mEvent);
        return;
    }
}

void nxapiTerm()
{
    if (_nxapiRunLoop && _nxapiRunLoopSource)
        NVRunLoopRemoveSource(_nxapiRunLoop, _nxapiRunLoopSource);
    _nxapiRunLoopSource = nullptr;   // owned by the notification port, freed with it below
    if (_nxapiServicePublishIterator) NVDSObjectRelease(_nxapiServicePublishIterator);
    if (mServiceTerminateIterator) NVDSObjectRelease(mServiceTerminateIterator);
    _nxapiServicePublishIterator = 0;
    mServiceTerminateIterator = 0;
    if (_nxapiMasterDevicePort) NVDSObjectRelease(_nxapiMasterDevicePort);
    _nxapiMasterDevicePort = 0;
    if (mMatchingDict) plist_free(mMatchingDict);
    mMatchingDict = nullptr;
    for (USBDevice*& slot : nxapiDeviceMap) {
        if (!slot) continue;
        USBDevice* device = slot;
        slot = nullptr;
        device->close();
        device->release();
    }
    // Last, so no notice of the port can reach a handle after this point.
    if (_nxapiNotifyPort) NVDSNotificationPortDestroy(_nxapiNotifyPort);
    _nxapiNotifyPort = nullptr;
}
