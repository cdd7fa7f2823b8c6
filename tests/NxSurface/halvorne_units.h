#ifndef NXSURFACE_HALVORNE_UNITS_H
#define NXSURFACE_HALVORNE_UNITS_H

// Unit descriptions for the device-list tests: a "Name" to tell entries apart, "idVendor",
// and "HalvorneUID" data of any length (absent when `uid` is null).

#include "nvplist.h"
#include "nxids.h"

#include <cstdint>
#include <string>
#include <vector>

inline plist_t makeUnit(const std::string& name, const std::vector<uint8_t>* uid,
                        int vendor = kHalvorneVendorId)
{
    plist_t unit = plist_new_dict();
    plist_dict_set_item(unit, "Name", plist_new_string(name.c_str()));
    NVPlistDictSetInt(unit, "idVendor", vendor);
    if (uid)
        plist_dict_set_item(unit, "HalvorneUID",
                            plist_new_data(reinterpret_cast<const char*>(uid->data()), uid->size()));
    return unit;
}

// The "Name" of each entry of an array, in order.
inline std::vector<std::string> unitNames(plist_t list)
{
    std::vector<std::string> names;
    if (!list || plist_get_node_type(list) != PLIST_ARRAY)
        return names;
    for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
        std::string name;
        NVPlistDictGetString(plist_array_get_item(list, i), "Name", &name);
        names.push_back(name);
    }
    return names;
}

// The unit's identifier, its "HalvorneUID" bytes read little-endian; 0 without one.
inline uint64_t unitUID(plist_t unit)
{
    uint8_t bytes[8] = {};
    size_t size = 0;
    NVPlistDictGetData(unit, "HalvorneUID", bytes, sizeof bytes, &size);
    uint64_t uid = 0;
    for (int i = 7; i >= 0; --i)
        uid = (uid << 8) | bytes[i];
    return uid;
}

#endif
