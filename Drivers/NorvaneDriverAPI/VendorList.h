#ifndef VENDORLIST_H
#define VENDORLIST_H

// The Halvorne units present in the registry, and the list of units an application
// remembers under "DevicesList" in its own preferences (domain: its bundle identifier).
// A unit description is the dictionary of a unit's registry properties; units are told apart
// by "HalvorneUID", data read as one 64-bit value: shorter data fills the low-order bytes,
// only the first 8 bytes of longer data count. Arrays are libplist arrays owned by the
// caller.

#include <plist/plist.h>

// A new array of the descriptions of every present unit of vendor kHalvorneVendorId. On a
// platform failure *list is left as it was (initialise it).
void getHalvorneDevicesFromRegistry(plist_t* list);
// A new array holding a copy of the remembered list, empty when there is none. A preferences
// file that does not parse counts as no list and is reported on standard error; it is not
// rewritten unless the list is changed.
void getHalvorneDevicesFromPrefs(plist_t* list);
// Appends a copy of unit unless a listed unit has its identifier (0 never counts as listed),
// then stores the list. False for a unit without "HalvorneUID" or one already listed.
bool addHalvorneDeviceToDeviceList(plist_t list, plist_t unit);
// Removes the first listed unit with the unit's identifier (0 included), then stores the
// list. False for a unit without "HalvorneUID" or when none matched.
bool removeHalvorneDeviceFromDeviceList(plist_t list, plist_t unit);

#endif
