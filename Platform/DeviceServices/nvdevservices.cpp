#include "nvdevservices.h"

#include "nvkernel_protocol.h"

#include <string>

// First cut: the interface only; every call reports the directory unusable.

const char* NVDSRootPath()
{
    static thread_local std::string root;
    root = nvk::rootPath();
    return root.c_str();
}

NVDSStatus NVDSGetMasterPort(NVDSObject* master)
{
    if (master)
        *master = 0;
    return kNVDSErrorNoRoot;
}

void NVDSObjectRetain(NVDSObject) {}
void NVDSObjectRelease(NVDSObject) {}

plist_t NVDSServiceMatching(const char* className)
{
    if (!className)
        return nullptr;
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "NVServiceClass", plist_new_string(className));
    return dict;
}

NVDSStatus NVDSGetMatchingServices(NVDSObject, plist_t, NVDSObject* iterator)
{
    if (iterator)
        *iterator = 0;
    return kNVDSErrorNoRoot;
}

NVDSObject NVDSIteratorNext(NVDSObject) { return 0; }
NVDSNotificationPortRef NVDSNotificationPortCreate(NVDSObject) { return nullptr; }
NVRunLoopSourceRef NVDSNotificationPortGetRunLoopSource(NVDSNotificationPortRef) { return nullptr; }
void NVDSNotificationPortDestroy(NVDSNotificationPortRef) {}

NVDSStatus NVDSAddMatchingNotification(NVDSNotificationPortRef, NVDSNotificationKind, plist_t,
                                       NVDSServiceCallback, void*, NVDSObject* iterator)
{
    if (iterator)
        *iterator = 0;
    return kNVDSErrorNoRoot;
}

NVDSStatus NVDSAddInterestNotification(NVDSNotificationPortRef, NVDSObject, NVDSInterestCallback,
                                       void*, NVDSObject* notification)
{
    if (notification)
        *notification = 0;
    return kNVDSErrorNoRoot;
}

NVDSStatus NVDSServiceCopyProperties(NVDSObject, plist_t* properties)
{
    if (properties)
        *properties = nullptr;
    return kNVDSErrorNotFound;
}

const char* NVDSServiceGetClass(NVDSObject) { return nullptr; }

NVDSStatus NVDSServiceOpen(NVDSObject, uint32_t, NVDSObject* connection)
{
    if (connection)
        *connection = 0;
    return kNVDSErrorNotFound;
}

NVDSStatus NVDSServiceClose(NVDSObject) { return kNVDSErrorBadArgument; }

NVDSStatus NVDSConnectCallStructMethod(NVDSObject, uint32_t, const void*, size_t, void*, size_t* outputSize)
{
    if (outputSize)
        *outputSize = 0;
    return kNVDSErrorNotOpen;
}

void NVDSSetCallTimeout(int) {}
