// Reads the major version of a driver module from its property list.

#include "GetDriverFileVer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <plist/plist.h>

namespace {

// The whole file, or false when it cannot be read. Property lists of a module are small.
bool readFile(const char* path, char** data, size_t* size)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    enum : size_t { kLimit = 16 * 1024 * 1024 };
    size_t capacity = 4096, length = 0;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    bool ok = buffer != nullptr;
    while (ok) {
        if (length == capacity) {
            char* grown = capacity < kLimit ? static_cast<char*>(std::realloc(buffer, capacity * 2))
                                            : nullptr;
            if (!grown) { ok = false; break; }
            buffer = grown;
            capacity *= 2;
        }
        const size_t got = std::fread(buffer + length, 1, capacity - length, file);
        length += got;
        if (got == 0) { ok = !std::ferror(file); break; }
    }
    std::fclose(file);
    if (!ok) { std::free(buffer); return false; }
    *data = buffer;
    *size = length;
    return true;
}

} // namespace

int getMajorVersionFromPList(char const* path)
{
    if (!path) return 0;
    char* data = nullptr;
    size_t size = 0;
    if (!readFile(path, &data, &size)) return 0;
    plist_t root = nullptr;
    if (size >= 8 && std::memcmp(data, "bplist00", 8) == 0)
        plist_from_bin(data, uint32_t(size), &root);
    else if (size > 0 && size < 0xFFFFFFFFu)
        plist_from_xml(data, uint32_t(size), &root);
    std::free(data);
    if (!root) return 0;

    int major = 0;
    plist_t node = plist_get_node_type(root) == PLIST_DICT
                       ? plist_dict_get_item(root, "NXModuleVersionString")
                       : nullptr;
    if (node && plist_get_node_type(node) == PLIST_STRING) {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        if (text) {
            char version[256];
            std::snprintf(version, sizeof version, "%s", text);
            int minor = 0;
            if (std::sscanf(version, "%d.%d", &major, &minor) < 1) major = 0;
            std::free(text);
        }
    }
    plist_free(root);
    return major;
}
