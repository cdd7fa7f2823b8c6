#include "daemon.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "nvplist.h"

namespace nvk {

namespace {

constexpr size_t kMaxControlLine = 4096;
constexpr int kReenumerateMs = 300;

enum TimerAction { kPlugBack, kDropCycle, kReenumerate };

int listenAt(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 128) != 0) {
        close(fd);
        return -1;
    }
    chmod(path.c_str(), 0666); // clients of any user may talk to the simulated devices
    return fd;
}

bool connectsTo(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

void removeTree(const std::string& path)
{
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                    removeTree(path + "/" + entry->d_name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// A descriptor watch on the default context. It may recurse, so that GLib leaves it in the
// poll set while it is dispatched: a blocked source is taken out of the poll set and put
// back around every dispatch, and each of those writes the loop's wakeup descriptor, which
// costs every call a second pass through the loop. No callback here iterates the loop.
unsigned watchFd(int fd, GIOCondition condition, GUnixFDSourceFunc callback, gpointer data)
{
    GSource* source = g_unix_fd_source_new(fd, condition);
    g_source_set_callback(source, G_SOURCE_FUNC(callback), data, nullptr);
    g_source_set_can_recurse(source, TRUE);
    unsigned id = g_source_attach(source, nullptr);
    g_source_unref(source);
    return id;
}

bool sendPacket(int fd, const void* head, size_t headSize, const void* body, size_t bodySize)
{
    iovec parts[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(body), bodySize}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = bodySize ? 2 : 1;
    ssize_t n = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    return n == ssize_t(headSize + bodySize);
}

MessageHeader header(uint16_t op, uint32_t arg, uint32_t size)
{
    return MessageHeader{kMagic, kVersion, op, arg, size};
}

// A descriptor kept free so that a flood of connections at the descriptor limit can still
// be accepted and shut, instead of spinning on a listening socket that stays readable.
int gReserveFd = -1;

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i])))
            ++i;
        size_t start = i;
        while (i < line.size() && !isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool parseInt(const std::string& text, long min, long max, long* value)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 0);
    if (text.empty() || errno || *end || v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

struct Daemon::Connection {
    enum Kind { kUser, kInterest, kControl };
    Daemon* daemon;
    Kind kind;
    int fd;
    int device; // service's device number (user and interest connections)
    unsigned watch = 0;
    bool opened = false;
    bool stalled = false;
};

struct Listener {
    Daemon* daemon;
    Daemon::Connection::Kind kind;
    int device;
};

struct Daemon::Service {
    uint32_t id = 0;
    int device = 0;
    std::string dir; // relative to the root: <class>/<id>
    int userFd = -1, interestFd = -1;
    unsigned userWatch = 0, interestWatch = 0;
    Listener userListener{}, interestListener{};
    std::set<Connection*> connections;
};

struct Daemon::Timer {
    Daemon* daemon;
    int device;
    int action;
    int argument;
    unsigned id = 0;
};

// The callbacks of the main loop, with access to the daemon's insides.
struct DaemonIO {
    static gboolean accept(gint fd, GIOCondition, gpointer data);
    static gboolean readable(gint fd, GIOCondition condition, gpointer data);
    static gboolean timer(gpointer data);
    static gboolean signal(gpointer data);
    static void userMessage(Daemon::Connection* c, const uint8_t* packet, size_t size);
};

Daemon::Daemon(std::string root) : mRoot(std::move(root)) {}

Daemon::~Daemon()
{
    shutdown();
    if (mLoop)
        g_main_loop_unref(mLoop);
}

bool Daemon::start()
{
    for (size_t slash = mRoot.find('/', 1); ; slash = mRoot.find('/', slash + 1)) {
        std::string dir = mRoot.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "nvkerneld: cannot make %s: %s\n", dir.c_str(), strerror(errno));
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    std::string control = mRoot + "/" + kControlSocket;
    if (connectsTo(control)) {
        fprintf(stderr, "nvkerneld: another nvkerneld serves %s\n", mRoot.c_str());
        return false;
    }
    if (chdir(mRoot.c_str()) != 0) {
        fprintf(stderr, "nvkerneld: cannot enter %s: %s\n", mRoot.c_str(), strerror(errno));
        return false;
    }
    // Stale services and sockets of a daemon that did not exit cleanly.
    if (DIR* dir = opendir(".")) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                removeTree(entry->d_name);
        }
        closedir(dir);
    }
    struct rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (gReserveFd < 0)
        gReserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    mControlFd = listenAt(kControlSocket);
    if (mControlFd < 0) {
        fprintf(stderr, "nvkerneld: cannot open the control socket in %s: %s\n", mRoot.c_str(), strerror(errno));
        return false;
    }
    mControlListener.reset(new Listener{this, Connection::kControl, 0});
    mControlWatch = watchFd(mControlFd, G_IO_IN, DaemonIO::accept, mControlListener.get());
    mLoop = g_main_loop_new(nullptr, FALSE);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        mSignalWatches.push_back(g_unix_signal_add(sig, DaemonIO::signal, this));
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void Daemon::run()
{
    if (mLoop)
        g_main_loop_run(mLoop);
}

void Daemon::shutdown()
{
    if (mShutDown || mControlFd < 0)
        return;
    mShutDown = true;
    while (!mServices.empty())
        unpublish(mServices.begin()->first);
    while (!mConnections.empty())
        closeConnection(*mConnections.begin());
    for (Timer* t : mTimers) {
        g_source_remove(t->id);
        delete t;
    }
    mTimers.clear();
    for (unsigned watch : mSignalWatches)
        g_source_remove(watch);
    mSignalWatches.clear();
    g_source_remove(mControlWatch);
    close(mControlFd);
    unlink(kControlSocket);
    for (DeviceKind kind : {DeviceKind::QM7, DeviceKind::Halvorne})
        removeTree(serviceClassOf(kind));
}

SimDevice* Daemon::device(int number)
{
    auto it = mDevices.find(number);
    return it == mDevices.end() ? nullptr : it->second.get();
}

bool Daemon::publish(SimDevice& device)
{
    if (mNextEntryId >= kEntryIdLimit)
        return false;
    std::string cls = serviceClassOf(device.kind());
    if (mkdir(cls.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    auto service = std::make_unique<Service>();
    service->id = mNextEntryId++;
    service->device = device.number();
    service->dir = cls + "/" + std::to_string(service->id);
    std::string staging = cls + "/.new-" + std::to_string(service->id);
    if (mkdir(staging.c_str(), 0755) != 0)
        return false;
    plist_t properties = device.properties();
    bool ok = NVPlistWriteFileAtomic((staging + "/" + kPropertiesFile).c_str(), properties);
    plist_free(properties);
    if (ok) {
        service->userFd = listenAt(staging + "/" + kUserClientSocket);
        service->interestFd = listenAt(staging + "/" + kInterestSocket);
        ok = service->userFd >= 0 && service->interestFd >= 0;
    }
    // The service appears whole, by one rename, or not at all.
    if (ok)
        ok = rename(staging.c_str(), service->dir.c_str()) == 0;
    if (!ok) {
        if (service->userFd >= 0)
            close(service->userFd);
        if (service->interestFd >= 0)
            close(service->interestFd);
        removeTree(staging);
        return false;
    }
    service->userListener = Listener{this, Connection::kUser, device.number()};
    service->interestListener = Listener{this, Connection::kInterest, device.number()};
    service->userWatch = watchFd(service->userFd, G_IO_IN, DaemonIO::accept, &service->userListener);
    service->interestWatch = watchFd(service->interestFd, G_IO_IN, DaemonIO::accept, &service->interestListener);
    mServices[device.number()] = std::move(service);
    return true;
}

void Daemon::unpublish(int deviceNumber)
{
    auto it = mServices.find(deviceNumber);
    if (it == mServices.end())
        return;
    std::unique_ptr<Service> service = std::move(it->second);
    mServices.erase(it);
    std::string cls = service->dir.substr(0, service->dir.find('/'));
    std::string gone = cls + "/.gone-" + std::to_string(service->id);
    // Taken away by one rename first: that is the terminate notice.
    if (rename(service->dir.c_str(), gone.c_str()) != 0)
        gone = service->dir;
    // The service is out of mServices already, so its connections are taken off here.
    while (!service->connections.empty()) {
        Connection* c = *service->connections.begin();
        service->connections.erase(service->connections.begin());
        closeConnection(c);
    }
    g_source_remove(service->userWatch);
    g_source_remove(service->interestWatch);
    close(service->userFd);
    close(service->interestFd);
    removeTree(gone);
    if (SimDevice* d = device(deviceNumber))
        d->unplugged();
}

void Daemon::republishProperties(Service& service)
{
    SimDevice* d = device(service.device);
    if (!d)
        return;
    plist_t properties = d->properties();
    NVPlistWriteFileAtomic((service.dir + "/" + kPropertiesFile).c_str(), properties);
    plist_free(properties);
}

void Daemon::sendNotice(Service& service, uint32_t type, const std::vector<uint32_t>& words)
{
    MessageHeader head = header(kOpNotice, type, uint32_t(words.size() * 4));
    std::vector<Connection*> listeners;
    for (Connection* c : service.connections)
        if (c->kind == Connection::kInterest)
            listeners.push_back(c);
    for (Connection* c : listeners)
        if (!sendPacket(c->fd, &head, sizeof head, words.data(), words.size() * 4))
            closeConnection(c);
}

void Daemon::after(int milliseconds, int deviceNumber, int action)
{
    Timer* t = new Timer{this, deviceNumber, action, 0};
    if (action == kDropCycle)
        t->argument = device(deviceNumber) ? device(deviceNumber)->faults().dropBackMs : 0;
    t->id = g_timeout_add(guint(milliseconds < 0 ? 0 : milliseconds), DaemonIO::timer, t);
    mTimers.insert(t);
}

void Daemon::closeConnection(Connection* c)
{
    if (!mConnections.erase(c))
        return;
    auto it = mServices.find(c->device);
    if (c->kind != Connection::kControl && it != mServices.end())
        it->second->connections.erase(c);
    g_source_remove(c->watch);
    close(c->fd);
    delete c;
}

gboolean DaemonIO::signal(gpointer data)
{
    Daemon* d = static_cast<Daemon*>(data);
    g_main_loop_quit(d->mLoop);
    return G_SOURCE_CONTINUE;
}

gboolean DaemonIO::accept(gint fd, GIOCondition, gpointer data)
{
    Listener* l = static_cast<Listener*>(data);
    Daemon* d = l->daemon;
    int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) {
        if ((errno == EMFILE || errno == ENFILE) && gReserveFd >= 0) {
            close(gReserveFd);
            int victim = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (victim >= 0)
                close(victim);
            gReserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
        return G_SOURCE_CONTINUE;
    }
    auto* connection = new Daemon::Connection{d, l->kind, c, l->device};
    connection->watch = watchFd(c, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), readable, connection);
    d->mConnections.insert(connection);
    if (l->kind != Daemon::Connection::kControl) {
        auto it = d->mServices.find(l->device);
        if (it != d->mServices.end())
            it->second->connections.insert(connection);
    }
    return G_SOURCE_CONTINUE;
}

gboolean DaemonIO::readable(gint fd, GIOCondition condition, gpointer data)
{
    auto* c = static_cast<Daemon::Connection*>(data);
    Daemon* d = c->daemon;
    uint8_t packet[sizeof(MessageHeader) + kMaxPayload + 1];
    ssize_t n = 0;
    if (condition & G_IO_IN)
        n = recv(fd, packet, sizeof packet, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return G_SOURCE_CONTINUE;
    if (n <= 0) { // end of stream, error or hang-up without data
        d->closeConnection(c);
        return G_SOURCE_REMOVE;
    }
    size_t size = size_t(n);
    switch (c->kind) {
    case Daemon::Connection::kInterest:
        break; // interest clients only listen
    case Daemon::Connection::kControl: {
        std::string reply = size > kMaxControlLine
                                ? std::string("error command too long")
                                : d->control(std::string(reinterpret_cast<char*>(packet), size));
        if (d->mConnections.count(c) && !sendPacket(c->fd, reply.data(), reply.size(), nullptr, 0))
            d->closeConnection(c);
        break;
    }
    case Daemon::Connection::kUser:
        userMessage(c, packet, size);
        break;
    }
    return G_SOURCE_CONTINUE;
}

void DaemonIO::userMessage(Daemon::Connection* c, const uint8_t* packet, size_t size)
{
    Daemon* d = c->daemon;
    MessageHeader h{};
    if (size >= sizeof h)
        memcpy(&h, packet, sizeof h);
    // Anything that is not a message of this protocol costs the sender its connection.
    if (size < sizeof h || h.magic != kMagic || h.version != kVersion) {
        d->closeConnection(c);
        return;
    }
    if (c->stalled)
        return;
    auto reply = [&](uint16_t op, uint32_t status, const void* body, size_t bodySize) {
        MessageHeader head = header(op, status, uint32_t(bodySize));
        if (!sendPacket(c->fd, &head, sizeof head, body, bodySize))
            d->closeConnection(c);
    };
    size_t payload = size - sizeof h;
    if (size > sizeof h + kMaxPayload || h.size != payload) {
        reply(h.op == kOpOpen ? kOpOpenReply : kOpCallReply, kStatusBadMessage, nullptr, 0);
        return;
    }
    if (h.op == kOpOpen) {
        uint32_t status = c->opened ? kStatusBadMessage : h.arg == 2 ? kStatusOK : kStatusUnsupported;
        c->opened = c->opened || status == kStatusOK;
        reply(kOpOpenReply, status, nullptr, 0);
        return;
    }
    if (h.op != kOpCall) {
        reply(kOpCallReply, kStatusBadMessage, nullptr, 0);
        return;
    }
    SimDevice* device = d->device(c->device);
    if (!c->opened || !device || h.arg != 0) {
        reply(kOpCallReply, !c->opened ? kStatusNotOpen : kStatusUnsupported, nullptr, 0);
        return;
    }
    Answer answer = device->call(packet + sizeof h, payload);
    if (answer.action == Answer::kStall) {
        c->stalled = true;
        return;
    }
    if (answer.action == Answer::kClose) {
        d->closeConnection(c);
        return;
    }
    int deviceNumber = c->device;
    if (answer.propertiesChanged) { // in place before the caller can look
        auto it = d->mServices.find(deviceNumber);
        if (it != d->mServices.end())
            d->republishProperties(*it->second);
    }
    reply(kOpCallReply, answer.status, answer.record.data(), answer.length);
    if (answer.reenumerate)
        d->after(0, deviceNumber, kReenumerate);
}

gboolean DaemonIO::timer(gpointer data)
{
    auto* t = static_cast<Daemon::Timer*>(data);
    Daemon* d = t->daemon;
    d->mTimers.erase(t);
    SimDevice* device = d->device(t->device);
    if (device) {
        switch (t->action) {
        case kPlugBack:
            if (!d->mServices.count(t->device))
                d->plugBack(*device);
            break;
        case kDropCycle:
            d->unpublish(t->device);
            d->after(t->argument, t->device, kPlugBack);
            break;
        case kReenumerate:
            d->unpublish(t->device);
            d->after(kReenumerateMs, t->device, kPlugBack);
            break;
        }
    }
    delete t;
    return G_SOURCE_REMOVE;
}

// --- control commands ---

std::string Daemon::plugNew(DeviceKind kind, const std::vector<std::string>& args)
{
    DeviceOptions options;
    std::string error;
    if (!parseDeviceOptions(kind, args.data() + 2, args.size() - 2, &options, &error))
        return "error " + error;
    int number = mNextDevice++;
    auto device = std::make_unique<SimDevice>(number, options);
    SimDevice& ref = *device;
    mDevices[number] = std::move(device);
    if (!publish(ref)) {
        mDevices.erase(number);
        return "error cannot publish the service";
    }
    return "ok device " + std::to_string(number) + " entry " + std::to_string(mServices[number]->id);
}

std::string Daemon::plugBack(SimDevice& device)
{
    int number = device.number();
    if (mServices.count(number))
        return "error device " + std::to_string(number) + " is plugged in";
    Faults& faults = device.faults();
    if (faults.noReturn) {
        faults.noReturn = false;
        return "ok device " + std::to_string(number) + " does not return";
    }
    device.boot();
    if (!publish(device))
        return "error cannot publish the service";
    if (faults.dropAgainMs >= 0) {
        after(faults.dropAgainMs, number, kDropCycle);
        faults.dropAgainMs = -1;
    }
    return "ok device " + std::to_string(number) + " entry " + std::to_string(mServices[number]->id);
}

std::string Daemon::control(const std::string& line)
{
    std::vector<std::string> args = split(line);
    if (args.empty())
        return "error empty command";
    const std::string& command = args[0];
    if (command == "help")
        return "ok commands: list | plug qm7|halvorne [options] | plug DEV | unplug DEV | replug DEV [MS] | "
               "remove DEV | notice DEV CODE | notice DEV --type TYPE WORD... | fault DEV NAME [ARGS] | quit";
    if (command == "quit") {
        if (mLoop)
            g_main_loop_quit(mLoop);
        return "ok";
    }
    if (command == "list") {
        std::string reply = "ok " + std::to_string(mDevices.size()) + " devices";
        for (auto& entry : mDevices) {
            auto it = mServices.find(entry.first);
            reply += "\ndevice " + std::to_string(entry.first) + " " +
                     (it != mServices.end() ? "entry " + std::to_string(it->second->id) : std::string("unplugged")) +
                     " " + entry.second->describe();
        }
        return reply;
    }
    if (command == "plug" && args.size() >= 2 && (args[1] == "qm7" || args[1] == "halvorne"))
        return plugNew(args[1] == "qm7" ? DeviceKind::QM7 : DeviceKind::Halvorne, args);
    long number = 0;
    if (args.size() < 2 || !parseInt(args[1], 1, 1 << 30, &number))
        return "error usage: " + command + " DEV … (see help)";
    SimDevice* d = device(int(number));
    if (!d)
        return "error no device " + args[1];
    int dev = int(number);
    bool plugged = mServices.count(dev) != 0;
    if (command == "plug")
        return args.size() == 2 ? plugBack(*d) : "error usage: plug DEV";
    if (command == "unplug") {
        if (!plugged)
            return "error device " + args[1] + " is not plugged in";
        unpublish(dev);
        return "ok";
    }
    if (command == "replug") {
        long delay = 0;
        if (args.size() > 3 || (args.size() == 3 && !parseInt(args[2], 0, 600000, &delay)))
            return "error usage: replug DEV [MS]";
        unpublish(dev);
        if (delay == 0)
            return plugBack(*d);
        after(int(delay), dev, kPlugBack);
        return "ok";
    }
    if (command == "remove") {
        unpublish(dev);
        mDevices.erase(dev);
        return "ok";
    }
    if (command == "fault") {
        std::string error;
        if (!applyFault(args.data() + 2, args.size() - 2, &d->faults(), &error))
            return "error " + error;
        return "ok";
    }
    if (command == "notice") {
        if (!plugged)
            return "error device " + args[1] + " is not plugged in";
        uint32_t type = 0xE0000130u; // service-property-changed interest message
        std::vector<uint32_t> words;
        size_t i = 2;
        long value = 0;
        if (args.size() > 3 && args[2] == "--type") {
            if (!parseInt(args[3], 0, 0xFFFFFFFFL, &value))
                return "error bad notice type";
            type = uint32_t(value);
            i = 4;
        } else {
            words.push_back(36); // a notice of the driver: the code follows
        }
        for (; i < args.size(); ++i) {
            if (!parseInt(args[i], 0, 0xFFFFFFFFL, &value))
                return "error bad notice word " + args[i];
            words.push_back(uint32_t(value));
        }
        if (words.empty() || words.size() > kNoticeWords)
            return "error a notice carries 1 to 16 words";
        sendNotice(*mServices[dev], type, words);
        return "ok";
    }
    return "error unknown command " + command;
}

} // namespace nvk
