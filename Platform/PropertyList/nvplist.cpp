#include "nvplist.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

plist_t NVPlistFromBytes(const void* bytes, size_t size)
{
    if (!bytes || size == 0 || size > UINT32_MAX)
        return nullptr;
    plist_t value = nullptr;
    plist_from_memory(static_cast<const char*>(bytes), static_cast<uint32_t>(size), &value);
    return value;
}

std::string NVPlistToXml(plist_t value)
{
    if (!value)
        return std::string();
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(value, &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    free(xml);
    return text;
}

plist_t NVPlistReadFile(const char* path)
{
    if (!path)
        return nullptr;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::vector<char> bytes;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0)
                bytes.clear();
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > (64u << 20)) { // no property list of this system is that large
            bytes.clear();
            break;
        }
    }
    close(fd);
    return NVPlistFromBytes(bytes.data(), bytes.size());
}

namespace {

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

bool NVPlistWriteFileAtomic(const char* path, plist_t value)
{
    if (!path || !*path || !value)
        return false;
    std::string xml = NVPlistToXml(value);
    if (xml.empty())
        return false;
    std::string temp = std::string(path) + ".tmp." + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, xml.data(), xml.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = rename(temp.c_str(), path) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

plist_t NVPlistDictGet(plist_t dict, const char* key)
{
    if (!dict || !key || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    return plist_dict_get_item(dict, key);
}

bool NVPlistDictGetInt(plist_t dict, const char* key, int64_t* value)
{
    plist_t item = NVPlistDictGet(dict, key);
    if (!item || plist_get_node_type(item) != PLIST_UINT)
        return false;
    uint64_t raw = 0;
    plist_get_uint_val(item, &raw);
    if (value)
        *value = static_cast<int64_t>(raw);
    return true;
}

bool NVPlistDictGetString(plist_t dict, const char* key, std::string* value)
{
    plist_t item = NVPlistDictGet(dict, key);
    if (!item || plist_get_node_type(item) != PLIST_STRING)
        return false;
    char* text = nullptr;
    plist_get_string_val(item, &text);
    if (value)
        *value = text ? text : "";
    free(text);
    return true;
}

bool NVPlistDictGetData(plist_t dict, const char* key, void* buffer, size_t capacity, size_t* size)
{
    plist_t item = NVPlistDictGet(dict, key);
    if (!item || plist_get_node_type(item) != PLIST_DATA)
        return false;
    char* data = nullptr;
    uint64_t length = 0;
    plist_get_data_val(item, &data, &length);
    if (buffer && data)
        memcpy(buffer, data, length < capacity ? length : capacity);
    if (size)
        *size = static_cast<size_t>(length);
    free(data);
    return true;
}

void NVPlistDictSetInt(plist_t dict, const char* key, int64_t value)
{
    if (dict && key && plist_get_node_type(dict) == PLIST_DICT)
        plist_dict_set_item(dict, key, plist_new_uint(static_cast<uint64_t>(value)));
}

// --- preferences ---

namespace {

struct Domain {
    Domain() = default;
    Domain(const Domain&) = delete;
    Domain& operator=(const Domain&) = delete;
    ~Domain()
    {
        if (values)
            plist_free(values);
    }
    plist_t values = nullptr; // dictionary, loaded on first use
};

std::mutex gPrefsLock;
std::map<std::string, Domain> gDomains;

bool validBundleId(const char* bundleId)
{
    if (!bundleId || !*bundleId || strchr(bundleId, '/') || strcmp(bundleId, ".") == 0 || strcmp(bundleId, "..") == 0)
        return false;
    return true;
}

// With gPrefsLock held. Null for an unusable bundle id.
Domain* domainFor(const char* bundleId)
{
    if (!validBundleId(bundleId))
        return nullptr;
    // Keyed by path, so a changed $XDG_CONFIG_HOME reads the other file.
    std::string path = NVPrefsPath(bundleId);
    Domain& domain = gDomains[path];
    if (!domain.values) {
        domain.values = NVPlistReadFile(path.c_str());
        if (domain.values && plist_get_node_type(domain.values) != PLIST_DICT) {
            plist_free(domain.values);
            domain.values = nullptr;
        }
        if (!domain.values)
            domain.values = plist_new_dict();
    }
    return &domain;
}

} // namespace

std::string NVPrefsPath(const char* bundleId)
{
    if (!validBundleId(bundleId))
        return std::string();
    std::string dir;
    const char* config = getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') {
        dir = config;
    } else {
        const char* home = getenv("HOME");
        dir = std::string(home && *home ? home : "/tmp") + "/.config";
    }
    return dir + "/" + bundleId + ".plist";
}

plist_t NVPrefsCopyValue(const char* key, const char* bundleId)
{
    if (!key)
        return nullptr;
    std::lock_guard<std::mutex> lock(gPrefsLock);
    Domain* domain = domainFor(bundleId);
    plist_t item = domain ? plist_dict_get_item(domain->values, key) : nullptr;
    return item ? plist_copy(item) : nullptr;
}

bool NVPrefsSetValue(const char* key, plist_t value, const char* bundleId)
{
    if (!key)
        return false;
    std::lock_guard<std::mutex> lock(gPrefsLock);
    Domain* domain = domainFor(bundleId);
    if (!domain)
        return false;
    if (value)
        plist_dict_set_item(domain->values, key, plist_copy(value));
    else if (plist_dict_get_item(domain->values, key))
        plist_dict_remove_item(domain->values, key);
    return true;
}

bool NVPrefsSynchronize(const char* bundleId)
{
    std::lock_guard<std::mutex> lock(gPrefsLock);
    Domain* domain = domainFor(bundleId);
    if (!domain)
        return false;
    std::string path = NVPrefsPath(bundleId);
    return makeParents(path) && NVPlistWriteFileAtomic(path.c_str(), domain->values);
}
