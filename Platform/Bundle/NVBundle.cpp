#include "nvbundle.h"

#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

namespace {

std::mutex gLock;
std::string gOverride;

std::string executablePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, size_t(n));
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string NVBundleGetMainBundlePath() {
    {
        std::lock_guard<std::mutex> hold(gLock);
        if (!gOverride.empty())
            return gOverride;
    }
    std::string exe = executablePath();
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    std::string dir = exe.substr(0, slash);
    std::string name = exe.substr(slash + 1);
    return dir + "/../share/vesk-qm7/" + name;
}

void NVBundleSetMainBundlePath(const std::string& path) {
    std::lock_guard<std::mutex> hold(gLock);
    gOverride = path;
}

std::string NVBundleCopyResourcePath(const char* name, const char* type) {
    if (!name || !*name)
        return std::string();
    std::string path = NVBundleGetMainBundlePath() + "/Resources/" + name;
    if (type && *type)
        path += std::string(".") + type;
    return isRegularFile(path) ? path : std::string();
}

std::string NVBundleGetIdentifier() {
    std::ifstream in(NVBundleGetMainBundlePath() + "/Info.plist", std::ios::binary);
    if (!in)
        return std::string();
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty() || data.size() > 0xFFFFFFu)
        return std::string();
    plist_t root = nullptr;   // left untouched on malformed input
    plist_from_memory(data.data(), uint32_t(data.size()), &root);
    if (!root)
        return std::string();
    std::string identifier;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, "CFBundleIdentifier");
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            char* value = nullptr;
            plist_get_string_val(node, &value);
            if (value)
                identifier = value;
            free(value);
        }
    }
    plist_free(root);
    return identifier;
}
