// Reads the major version of a driver module from its property list.

#include "GetDriverFileVer.h"

#include <cstdio>
#include <cstdlib>

#include "nvplist.h"

int getMajorVersionFromPList(char const* path)
{
    if (!path) return 0;
    plist_t root = NVPlistReadFile(path);
    if (!root) return 0;

    int major = 0;
    plist_t node = plist_get_node_type(root) == PLIST_DICT
                       ? plist_dict_get_item(root, "NXModuleVersionString")
                       : nullptr;
    if (node && plist_get_node_type(node) == PLIST_STRING) {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        if (text) {
            char version[256];   // the version text is read up to 255 characters
            std::snprintf(version, sizeof version, "%s", text);
            int minor = 0;
            if (std::sscanf(version, "%d.%d", &major, &minor) < 1) major = 0;
            std::free(text);
        }
    }
    plist_free(root);
    return major;
}
