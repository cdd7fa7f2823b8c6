// A second application on the remembered device list:
//   vendorlist_probe <bundle> list        prints the identifier of each remembered unit in
//                                         hexadecimal, one a line
//   vendorlist_probe <bundle> add-forever adds units "u<n+1>", "u<n+2>"… (n: the length of the
//                                         list found) until killed; each carries padding so
//                                         that every store takes a while
// <bundle> is the main bundle folder (its Info.plist names the preference domain); the
// preferences live in $XDG_CONFIG_HOME.

#include "VendorList.h"

#include "halvorne_units.h"
#include "nvbundle.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    NVBundleSetMainBundlePath(argv[1]);
    plist_t list = nullptr;
    getHalvorneDevicesFromPrefs(&list);
    if (!list)
        return 2;

    if (strcmp(argv[2], "list") == 0) {
        for (uint32_t i = 0; i < plist_array_get_size(list); ++i)
            printf("%016llx\n", static_cast<unsigned long long>(unitUID(plist_array_get_item(list, i))));
        plist_free(list);
        return 0;
    }
    if (strcmp(argv[2], "add-forever") == 0) {
        std::vector<uint8_t> padding(16384, 0x5A);
        for (uint64_t n = plist_array_get_size(list) + 1;; ++n) {
            std::vector<uint8_t> uid(8);
            for (int i = 0; i < 8; ++i)
                uid[i] = static_cast<uint8_t>(n >> (8 * i));
            plist_t unit = makeUnit("u" + std::to_string(n), &uid);
            plist_dict_set_item(unit, "Padding",
                                plist_new_data(reinterpret_cast<const char*>(padding.data()), padding.size()));
            bool added = addHalvorneDeviceToDeviceList(list, unit);
            plist_free(unit);
            if (!added)
                return 3;
        }
    }
    plist_free(list);
    return 64;
}
