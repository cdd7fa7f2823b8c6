#include "VendorList.h"

#include "nvbundle.h"
#include "nvdevservices.h"
#include "nvplist.h"
#include "nxids.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

const char kServiceClass[] = "NVKernelDeviceHalvorneTessel9";
const char kListKey[] = "DevicesList";
const char kUIDKey[] = "HalvorneUID";

// Data shorter than 8 bytes fills the low-order bytes; bytes past the eighth are ignored.
bool readUID(plist_t unit, uint64_t* uid)
{
    uint8_t bytes[8] = {};
    size_t size = 0;
    if (!NVPlistDictGetData(unit, kUIDKey, bytes, sizeof bytes, &size))
        return false;
    *uid = 0;
    for (size_t i = 0; i < sizeof bytes; ++i)
        *uid |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return true;
}

bool isArray(plist_t list)
{
    return list && plist_get_node_type(list) == PLIST_ARRAY;
}

// The store's result is not part of the caller's: the list has changed either way.
void storeList(plist_t list)
{
    std::string domain = NVBundleGetIdentifier();
    NVPrefsSetValue(kListKey, list, domain.c_str());
    NVPrefsSynchronize(domain.c_str());
}

// A preferences file that is there but does not parse reads as an empty domain.
void reportUnreadablePrefs(const std::string& domain)
{
    std::string path = NVPrefsPath(domain.c_str());
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return;
    plist_t contents = NVPlistReadFile(path.c_str());
    if (contents) {
        plist_free(contents);
        return;
    }
    fprintf(stderr, "VendorList: preferences %s do not parse; no %s read\n", path.c_str(), kListKey);
}

} // namespace

void getHalvorneDevicesFromRegistry(plist_t* list)
{
    if (!list)
        return;
    plist_t matching = NVDSServiceMatching(kServiceClass);
    if (!matching)
        return;
    NVDSObject master = 0;
    NVDSObject iterator = 0;
    NVDSStatus status = NVDSGetMasterPort(&master);
    if (status == kNVDSSuccess)
        status = NVDSGetMatchingServices(master, matching, &iterator);
    plist_free(matching);
    if (master)
        NVDSObjectRelease(master);
    if (status != kNVDSSuccess)
        return;

    plist_t found = plist_new_array();
    while (NVDSObject service = NVDSIteratorNext(iterator)) {
        plist_t properties = nullptr;
        if (NVDSServiceCopyProperties(service, &properties) == kNVDSSuccess && properties) {
            int64_t vendor = 0;
            NVPlistDictGetInt(properties, "idVendor", &vendor);
            // Compared as the 16 bits of a USB id, whatever sign the signed read gives them.
            if (static_cast<uint16_t>(static_cast<int16_t>(vendor)) == kHalvorneVendorId)
                plist_array_append_item(found, properties);
            else
                plist_free(properties);
        }
        NVDSObjectRelease(service);
    }
    NVDSObjectRelease(iterator);
    *list = found;
}

void getHalvorneDevicesFromPrefs(plist_t* list)
{
    if (!list)
        return;
    std::string domain = NVBundleGetIdentifier();
    plist_t stored = NVPrefsCopyValue(kListKey, domain.c_str());
    if (isArray(stored)) {
        *list = stored;
        return;
    }
    if (stored)
        plist_free(stored);
    else
        reportUnreadablePrefs(domain);
    *list = plist_new_array();
}

bool addHalvorneDeviceToDeviceList(plist_t list, plist_t unit)
{
    uint64_t uid = 0;
    if (!isArray(list) || !readUID(unit, &uid))
        return false;
    bool listed = false;
    uint32_t count = plist_array_get_size(list);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t other = 0;
        if (readUID(plist_array_get_item(list, i), &other) && other == uid && uid != 0)
            listed = true;
    }
    if (listed)
        return false;
    plist_array_append_item(list, plist_copy(unit));
    storeList(list);
    return true;
}

bool removeHalvorneDeviceFromDeviceList(plist_t list, plist_t unit)
{
    uint64_t uid = 0;
    if (!isArray(list) || !readUID(unit, &uid))
        return false;
    uint32_t count = plist_array_get_size(list);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t other = 0;
        if (readUID(plist_array_get_item(list, i), &other) && other == uid) {
            plist_array_remove_item(list, i);
            storeList(list);
            return true;
        }
    }
    return false;
}
