#include "nvdevservices.h"

#include "nvkernel_protocol.h"
#include "nvplist.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/time.h>
#include <unistd.h>

using Port = NVDSNotificationPort;

namespace {

constexpr const char* kClassKey = "NVServiceClass";

std::atomic<int> gCallTimeoutMs{-1};

int callTimeout()
{
    int ms = gCallTimeoutMs.load();
    if (ms > 0)
        return ms;
    static const int fromEnvironment = [] {
        const char* env = getenv("NVDS_CALL_TIMEOUT_MS");
        return env && atoi(env) > 0 ? atoi(env) : 5000;
    }();
    return fromEnvironment;
}

// --- objects and their handles ---

struct Object {
    enum Kind { kMaster, kService, kIterator, kNotification, kConnection };
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    int refs = 1;
};

struct Master : Object {
    Master() : Object(kMaster) {}
    std::string root;
};

struct Service : Object {
    Service() : Object(kService) {}
    std::string className;
    std::string dir; // <root>/<class>/<entry id>
};

struct Iterator : Object {
    Iterator() : Object(kIterator) {}
    std::deque<NVDSObject> queue; // each entry holds one service reference
    // Set for a matching notification; the port clears it when it goes first.
    Port* port = nullptr;
    NVDSNotificationKind notice = kNVDSServicePublish;
    std::string root, className;
    std::set<uint32_t> known;
    NVDSServiceCallback callback = nullptr;
    void* refcon = nullptr;
};

struct Interest : Object {
    Interest() : Object(kNotification) {}
    Port* port = nullptr;
    NVDSObject service = 0;
    int fd = -1;
    gpointer tag = nullptr;
    NVDSInterestCallback callback = nullptr;
    void* refcon = nullptr;
    void detach();
};

struct Connection : Object {
    Connection() : Object(kConnection) {}
    ~Connection() override
    {
        if (fd >= 0)
            close(fd);
    }
    std::mutex lock; // one call at a time on the socket
    int fd = -1;
    int timeoutMs = 0; // receive time-out the socket has
    bool broken = false; // after a time-out or a lost socket: every call fails
};

struct PortSource {
    GSource base;
    Port* port;
};

} // namespace

struct NVDSNotificationPort {
    std::string root;
    GSource* source = nullptr;
    int inotifyFd = -1;
    gpointer inotifyTag = nullptr;
    std::vector<NVDSObject> matchings; // iterators of matching notices
    std::vector<NVDSObject> interests; // interest notifications
};

namespace {

std::recursive_mutex gLock;
std::map<uint32_t, std::shared_ptr<Object>> gObjects;
uint32_t gNextHandle = nvk::kEntryIdLimit;

uint32_t newHandle(std::shared_ptr<Object> object)
{
    uint32_t handle;
    do {
        handle = gNextHandle++;
        if (gNextHandle == 0)
            gNextHandle = nvk::kEntryIdLimit;
    } while (gObjects.count(handle));
    gObjects[handle] = std::move(object);
    return handle;
}

// Registers a new object and hands its handle (with the caller's reference) out.
NVDSStatus handOut(std::shared_ptr<Object> object, NVDSObject* handle)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    *handle = newHandle(std::move(object));
    return kNVDSSuccess;
}

template <class T>
T* lookup(NVDSObject handle, Object::Kind kind)
{
    auto it = gObjects.find(handle);
    return it != gObjects.end() && it->second->kind == kind ? static_cast<T*>(it->second.get()) : nullptr;
}

// A reference on the service of that entry id, made or refreshed from what the directory shows.
NVDSObject retainService(uint32_t id, const std::string& root, const std::string& className)
{
    auto it = gObjects.find(id);
    if (it != gObjects.end() && it->second->kind == Object::kService) {
        auto* service = static_cast<Service*>(it->second.get());
        ++service->refs;
        service->className = className;
        service->dir = root + "/" + className + "/" + std::to_string(id);
        return id;
    }
    auto service = std::make_shared<Service>();
    service->className = className;
    service->dir = root + "/" + className + "/" + std::to_string(id);
    gObjects[id] = service;
    return id;
}

void releaseLocked(NVDSObject handle);

void detachMatching(Iterator* it)
{
    if (!it->port)
        return;
    auto& list = it->port->matchings;
    for (size_t i = 0; i < list.size(); ++i) {
        if (lookup<Iterator>(list[i], Object::kIterator) == it) {
            list.erase(list.begin() + long(i));
            break;
        }
    }
    it->port = nullptr;
}

void Interest::detach()
{
    if (port && tag && port->source)
        g_source_remove_unix_fd(port->source, tag);
    tag = nullptr;
    if (fd >= 0)
        close(fd);
    fd = -1;
    if (port) {
        auto& list = port->interests;
        for (size_t i = 0; i < list.size(); ++i) {
            if (lookup<Interest>(list[i], Object::kNotification) == this) {
                list.erase(list.begin() + long(i));
                break;
            }
        }
    }
    port = nullptr;
}

void releaseLocked(NVDSObject handle)
{
    auto it = gObjects.find(handle);
    if (it == gObjects.end() || --it->second->refs > 0)
        return;
    std::shared_ptr<Object> object = it->second;
    gObjects.erase(it);
    if (object->kind == Object::kIterator) {
        auto* iterator = static_cast<Iterator*>(object.get());
        detachMatching(iterator);
        for (NVDSObject service : iterator->queue)
            releaseLocked(service);
        iterator->queue.clear();
    } else if (object->kind == Object::kNotification) {
        static_cast<Interest*>(object.get())->detach();
    } else if (object->kind == Object::kConnection) {
        auto* c = static_cast<Connection*>(object.get());
        shutdown(c->fd, SHUT_RDWR); // wakes a call under way; the descriptor goes with the last user
    }
}

// The entry ids of the services present under <root>/<class>, ascending.
std::vector<uint32_t> scanClass(const std::string& root, const std::string& className)
{
    std::vector<uint32_t> ids;
    DIR* dir = opendir((root + "/" + className).c_str());
    if (!dir)
        return ids;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9' || strlen(name) > 10)
            continue; // staging folders, leftovers and anything else that is no entry id
        char* end = nullptr;
        unsigned long id = strtoul(name, &end, 10);
        if (*end || id >= nvk::kEntryIdLimit)
            continue;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
            continue;
        ids.push_back(uint32_t(id));
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string matchingClass(plist_t matching)
{
    std::string name;
    if (!NVPlistDictGetString(matching, kClassKey, &name))
        return std::string();
    // A class is one folder name of the directory.
    if (name.empty() || name.size() > 255 || name.find('/') != std::string::npos || name[0] == '.')
        return std::string();
    return name;
}

int connectSocket(const std::string& dir, const char* name, NVDSStatus* status)
{
    std::string path = dir + "/" + name;
    int dirFd = -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        // Too long for a socket address: reach it through the folder's descriptor.
        dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            *status = kNVDSErrorNotFound;
            return -1;
        }
        path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *status = kNVDSErrorNoResources;
    } else if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *status = errno == ENOENT || errno == ENOTDIR ? kNVDSErrorNotFound
                  : errno == EMFILE || errno == ENFILE || errno == ENOMEM ? kNVDSErrorNoResources
                                                                            : kNVDSErrorRefused;
        close(fd);
        fd = -1;
    } else {
        *status = kNVDSSuccess;
    }
    if (dirFd >= 0)
        close(dirFd);
    return fd;
}

NVDSStatus fromWire(uint32_t status)
{
    switch (status) {
    case nvk::kStatusOK: return kNVDSSuccess;
    case nvk::kStatusUnsupported: return kNVDSErrorUnsupported;
    case nvk::kStatusBadArgument: return kNVDSErrorBadArgument;
    case nvk::kStatusBusy: return kNVDSErrorBusy;
    case nvk::kStatusDevice: return kNVDSErrorDevice;
    case nvk::kStatusNotOpen: return kNVDSErrorNotOpen;
    default: return kNVDSErrorProtocol;
    }
}

// The socket's receive time-out, set when it differs from what the socket has.
void applyTimeout(int fd, int* applied)
{
    int ms = callTimeout();
    if (ms == *applied)
        return;
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0)
        *applied = ms;
}

// Sends one request and waits for the answer of the expected kind (the socket's receive
// time-out bounds the wait, so the answer costs one blocking receive). The packet goes to
// `answer` (header first); returns its size, or a negative status.
long roundTrip(int fd, uint16_t op, uint32_t arg, const void* body, size_t bodySize, uint16_t replyOp,
               uint8_t* answer, size_t room)
{
    nvk::MessageHeader head{nvk::kMagic, nvk::kVersion, op, arg, uint32_t(bodySize)};
    iovec parts[2] = {{&head, sizeof head}, {const_cast<void*>(body), bodySize}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = bodySize ? 2 : 1;
    ssize_t sent;
    do
        sent = sendmsg(fd, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent != ssize_t(sizeof head + bodySize))
        return -kNVDSErrorIO;
    ssize_t n;
    do
        n = recv(fd, answer, room, MSG_TRUNC);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return -kNVDSErrorTimeout;
    if (n <= 0)
        return -kNVDSErrorIO;
    nvk::MessageHeader reply{};
    if (size_t(n) > room || size_t(n) < sizeof reply)
        return -kNVDSErrorProtocol;
    memcpy(&reply, answer, sizeof reply);
    if (reply.magic != nvk::kMagic || reply.version != nvk::kVersion || reply.op != replyOp ||
        reply.size != size_t(n) - sizeof reply)
        return -kNVDSErrorProtocol;
    return long(n);
}

// --- the notification port's source ---

// Queues what came (publish) or went (terminate) since the last look; true when anything did.
bool rescan(Iterator* it)
{
    std::vector<uint32_t> present = scanClass(it->root, it->className);
    std::set<uint32_t> now(present.begin(), present.end());
    std::vector<uint32_t> changed;
    if (it->notice == kNVDSServicePublish) {
        for (uint32_t id : present)
            if (!it->known.count(id))
                changed.push_back(id);
    } else {
        for (uint32_t id : it->known)
            if (!now.count(id))
                changed.push_back(id);
    }
    it->known = std::move(now);
    for (uint32_t id : changed)
        it->queue.push_back(retainService(id, it->root, it->className));
    return !changed.empty();
}

void watchClasses(Port* port)
{
    inotify_add_watch(port->inotifyFd, port->root.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
    for (NVDSObject handle : port->matchings) {
        if (auto* it = lookup<Iterator>(handle, Object::kIterator))
            inotify_add_watch(port->inotifyFd, (port->root + "/" + it->className).c_str(),
                              IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
    }
}

struct Delivery {
    enum { kMatching, kInterest } kind;
    NVDSObject handle;
    void* refcon;
    NVDSServiceCallback serviceCallback;
    NVDSInterestCallback interestCallback;
    NVDSObject service;
    uint32_t type;
    uint32_t words[kNVDSNoticeWords];
};

gboolean portCheck(GSource* source)
{
    Port* port = reinterpret_cast<PortSource*>(source)->port;
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (port->inotifyTag && g_source_query_unix_fd(source, port->inotifyTag))
        return TRUE;
    for (NVDSObject handle : port->interests) {
        auto* n = lookup<Interest>(handle, Object::kNotification);
        if (n && n->tag && g_source_query_unix_fd(source, n->tag))
            return TRUE;
    }
    return FALSE;
}

gboolean portDispatch(GSource* source, GSourceFunc, gpointer)
{
    Port* port = reinterpret_cast<PortSource*>(source)->port;
    std::vector<Delivery> deliveries;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        if (port->inotifyTag && g_source_query_unix_fd(source, port->inotifyTag)) {
            alignas(inotify_event) char events[4096];
            while (read(port->inotifyFd, events, sizeof events) > 0) {
            }
            watchClasses(port); // class folders come and go with the daemon
            // What went is told before what came: a device replugged at once is first gone.
            for (NVDSNotificationKind kind : {kNVDSServiceTerminate, kNVDSServicePublish}) {
                for (NVDSObject handle : port->matchings) {
                    auto* it = lookup<Iterator>(handle, Object::kIterator);
                    if (!it || it->notice != kind || !rescan(it) || !it->callback)
                        continue;
                    ++it->refs; // kept alive through its callback
                    deliveries.push_back(Delivery{Delivery::kMatching, handle, it->refcon, it->callback, nullptr, 0, 0, {}});
                }
            }
        }
        std::vector<NVDSObject> interests = port->interests;
        for (NVDSObject handle : interests) {
            auto* n = lookup<Interest>(handle, Object::kNotification);
            if (!n || !n->tag || !g_source_query_unix_fd(source, n->tag))
                continue;
            uint8_t packet[sizeof(nvk::MessageHeader) + nvk::kMaxPayload];
            ssize_t size = recv(n->fd, packet, sizeof packet, MSG_DONTWAIT | MSG_TRUNC);
            if (size < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            nvk::MessageHeader head{};
            if (size >= ssize_t(sizeof head))
                memcpy(&head, packet, sizeof head);
            if (size <= 0 || size_t(size) > sizeof packet) { // the service went, or garbage
                n->detach();
                continue;
            }
            if (size_t(size) < sizeof head || head.magic != nvk::kMagic || head.op != nvk::kOpNotice ||
                head.size != size_t(size) - sizeof head || !n->callback)
                continue;
            Delivery d{Delivery::kInterest, handle, n->refcon, nullptr, n->callback, n->service, head.arg, {}};
            memcpy(d.words, packet + sizeof head, std::min<size_t>(head.size, sizeof d.words));
            ++n->refs;
            deliveries.push_back(d);
        }
    }
    for (Delivery& d : deliveries) {
        if (d.kind == Delivery::kMatching)
            d.serviceCallback(d.refcon, d.handle);
        else
            d.interestCallback(d.refcon, d.service, d.type, d.words);
        NVDSObjectRelease(d.handle);
    }
    return G_SOURCE_CONTINUE;
}

GSourceFuncs gPortFuncs = {nullptr, portCheck, portDispatch, nullptr, nullptr, nullptr};

} // namespace

// --- public interface ---

const char* NVDSRootPath()
{
    static thread_local std::string root;
    root = nvk::rootPath();
    return root.c_str();
}

NVDSStatus NVDSGetMasterPort(NVDSObject* master)
{
    if (!master)
        return kNVDSErrorBadArgument;
    *master = 0;
    std::string root = nvk::rootPath();
    if (root.empty() || root[0] != '/')
        return kNVDSErrorNoRoot;
    // The root may be made before the daemon runs, so that its services are seen when it comes.
    for (size_t slash = root.find('/', 1);; slash = root.find('/', slash + 1)) {
        mkdir(root.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos)
            break;
    }
    struct stat st{};
    if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return kNVDSErrorNoRoot;
    auto object = std::make_shared<Master>();
    object->root = root;
    return handOut(object, master);
}

void NVDSObjectRetain(NVDSObject object)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto it = gObjects.find(object);
    if (it != gObjects.end())
        ++it->second->refs;
}

void NVDSObjectRelease(NVDSObject object)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    releaseLocked(object);
}

plist_t NVDSServiceMatching(const char* className)
{
    if (!className || !*className)
        return nullptr;
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, kClassKey, plist_new_string(className));
    return dict;
}

NVDSStatus NVDSGetMatchingServices(NVDSObject master, plist_t matching, NVDSObject* iterator)
{
    if (!iterator)
        return kNVDSErrorBadArgument;
    *iterator = 0;
    std::string className = matchingClass(matching);
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto* m = lookup<Master>(master, Object::kMaster);
    if (!m || className.empty())
        return kNVDSErrorBadArgument;
    auto it = std::make_shared<Iterator>();
    for (uint32_t id : scanClass(m->root, className))
        it->queue.push_back(retainService(id, m->root, className));
    *iterator = newHandle(it);
    return kNVDSSuccess;
}

NVDSObject NVDSIteratorNext(NVDSObject iterator)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto* it = lookup<Iterator>(iterator, Object::kIterator);
    if (!it || it->queue.empty())
        return 0;
    NVDSObject service = it->queue.front();
    it->queue.pop_front();
    return service;
}

NVDSNotificationPortRef NVDSNotificationPortCreate(NVDSObject master)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto* m = lookup<Master>(master, Object::kMaster);
    if (!m)
        return nullptr;
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto* port = new NVDSNotificationPort;
    port->root = m->root;
    port->inotifyFd = fd;
    port->source = g_source_new(&gPortFuncs, sizeof(PortSource));
    reinterpret_cast<PortSource*>(port->source)->port = port;
    g_source_set_name(port->source, "nvdevservices notices");
    port->inotifyTag = g_source_add_unix_fd(port->source, fd, G_IO_IN);
    return port;
}

NVRunLoopSourceRef NVDSNotificationPortGetRunLoopSource(NVDSNotificationPortRef port)
{
    return port ? port->source : nullptr;
}

void NVDSNotificationPortDestroy(NVDSNotificationPortRef port)
{
    if (!port)
        return;
    std::lock_guard<std::recursive_mutex> lock(gLock);
    for (NVDSObject handle : std::vector<NVDSObject>(port->matchings))
        if (auto* it = lookup<Iterator>(handle, Object::kIterator))
            it->port = nullptr;
    port->matchings.clear();
    for (NVDSObject handle : std::vector<NVDSObject>(port->interests))
        if (auto* n = lookup<Interest>(handle, Object::kNotification))
            n->detach();
    port->interests.clear();
    g_source_destroy(port->source);
    g_source_unref(port->source);
    close(port->inotifyFd);
    delete port;
}

NVDSStatus NVDSAddMatchingNotification(NVDSNotificationPortRef port, NVDSNotificationKind kind, plist_t matching,
                                       NVDSServiceCallback callback, void* refcon, NVDSObject* iterator)
{
    if (!iterator)
        return kNVDSErrorBadArgument;
    *iterator = 0;
    std::string className = matchingClass(matching);
    if (!port || className.empty() || (kind != kNVDSServicePublish && kind != kNVDSServiceTerminate))
        return kNVDSErrorBadArgument;
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto it = std::make_shared<Iterator>();
    it->port = port;
    it->notice = kind;
    it->root = port->root;
    it->className = className;
    it->callback = callback;
    it->refcon = refcon;
    uint32_t handle = newHandle(it);
    port->matchings.push_back(handle);
    watchClasses(port); // before the scan, so nothing falls between the two
    std::vector<uint32_t> present = scanClass(port->root, className);
    it->known.insert(present.begin(), present.end());
    if (kind == kNVDSServicePublish)
        for (uint32_t id : present)
            it->queue.push_back(retainService(id, port->root, className));
    *iterator = handle;
    return kNVDSSuccess;
}

NVDSStatus NVDSAddInterestNotification(NVDSNotificationPortRef port, NVDSObject service,
                                       NVDSInterestCallback callback, void* refcon, NVDSObject* notification)
{
    if (!notification)
        return kNVDSErrorBadArgument;
    *notification = 0;
    std::string dir;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        auto* s = lookup<Service>(service, Object::kService);
        if (!port || !s)
            return kNVDSErrorBadArgument;
        dir = s->dir;
    }
    NVDSStatus status = kNVDSSuccess;
    int fd = connectSocket(dir, nvk::kInterestSocket, &status);
    if (fd < 0)
        return status;
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto n = std::make_shared<Interest>();
    n->port = port;
    n->service = service;
    n->fd = fd;
    n->callback = callback;
    n->refcon = refcon;
    n->tag = g_source_add_unix_fd(port->source, fd, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
    *notification = newHandle(n);
    port->interests.push_back(*notification);
    return kNVDSSuccess;
}

// The folder of a service handle, copied out under the lock; false for an unknown handle.
static bool serviceFolder(NVDSObject service, std::string* dir)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto* s = lookup<Service>(service, Object::kService);
    if (!s)
        return false;
    *dir = s->dir;
    return true;
}

NVDSStatus NVDSServiceCopyProperties(NVDSObject service, plist_t* properties)
{
    if (!properties)
        return kNVDSErrorBadArgument;
    *properties = nullptr;
    std::string dir;
    if (!serviceFolder(service, &dir))
        return kNVDSErrorBadArgument;
    struct stat st{};
    if (stat(dir.c_str(), &st) != 0)
        return kNVDSErrorNotFound;
    plist_t dict = NVPlistReadFile((dir + "/" + nvk::kPropertiesFile).c_str());
    if (!dict || plist_get_node_type(dict) != PLIST_DICT) {
        if (dict)
            plist_free(dict);
        return kNVDSErrorProtocol;
    }
    *properties = dict;
    return kNVDSSuccess;
}

const char* NVDSServiceGetClass(NVDSObject service)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto* s = lookup<Service>(service, Object::kService);
    return s ? s->className.c_str() : nullptr;
}

NVDSStatus NVDSServiceOpen(NVDSObject service, uint32_t type, NVDSObject* connection)
{
    if (!connection)
        return kNVDSErrorBadArgument;
    *connection = 0;
    std::string dir;
    if (!serviceFolder(service, &dir))
        return kNVDSErrorBadArgument;
    NVDSStatus status = kNVDSSuccess;
    int fd = connectSocket(dir, nvk::kUserClientSocket, &status);
    if (fd < 0)
        return status;
    int timeoutMs = 0;
    applyTimeout(fd, &timeoutMs);
    uint8_t answer[sizeof(nvk::MessageHeader) + 16];
    long n = roundTrip(fd, nvk::kOpOpen, type, nullptr, 0, nvk::kOpOpenReply, answer, sizeof answer);
    nvk::MessageHeader reply{};
    if (n > 0)
        memcpy(&reply, answer, sizeof reply);
    status = n < 0 ? NVDSStatus(-n) : fromWire(reply.arg);
    if (status != kNVDSSuccess) {
        close(fd);
        return status;
    }
    auto c = std::make_shared<Connection>();
    c->fd = fd;
    c->timeoutMs = timeoutMs;
    return handOut(c, connection);
}

NVDSStatus NVDSServiceClose(NVDSObject connection)
{
    std::lock_guard<std::recursive_mutex> lock(gLock);
    auto it = gObjects.find(connection);
    if (it == gObjects.end() || it->second->kind != Object::kConnection)
        return kNVDSErrorBadArgument;
    it->second->refs = 1;
    releaseLocked(connection);
    return kNVDSSuccess;
}

NVDSStatus NVDSConnectCallStructMethod(NVDSObject connection, uint32_t selector, const void* input, size_t inputSize,
                                       void* output, size_t* outputSize)
{
    size_t room = outputSize ? *outputSize : 0;
    if (outputSize)
        *outputSize = 0;
    std::shared_ptr<Object> object;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        auto it = gObjects.find(connection);
        if (it == gObjects.end() || it->second->kind != Object::kConnection)
            return kNVDSErrorNotOpen;
        object = it->second; // the call keeps the socket even if another thread closes it
    }
    if ((!input && inputSize) || inputSize > nvk::kMaxPayload || (!output && room))
        return kNVDSErrorBadArgument;
    auto* c = static_cast<Connection*>(object.get());
    std::lock_guard<std::mutex> callLock(c->lock);
    if (c->broken)
        return kNVDSErrorIO;
    applyTimeout(c->fd, &c->timeoutMs);
    uint8_t answer[sizeof(nvk::MessageHeader) + nvk::kMaxPayload + 1];
    long n = roundTrip(c->fd, nvk::kOpCall, selector, input, inputSize, nvk::kOpCallReply, answer, sizeof answer);
    if (n < 0) {
        c->broken = true; // a late answer would be taken for the next call's
        return NVDSStatus(-n);
    }
    nvk::MessageHeader reply{};
    memcpy(&reply, answer, sizeof reply);
    NVDSStatus status = fromWire(reply.arg);
    if (status != kNVDSSuccess)
        return status;
    size_t length = std::min<size_t>(reply.size, room);
    if (length)
        memcpy(output, answer + sizeof reply, length);
    if (outputSize)
        *outputSize = length;
    return kNVDSSuccess;
}

void NVDSSetCallTimeout(int milliseconds)
{
    gCallTimeoutMs.store(milliseconds > 0 ? milliseconds : -1);
}
