#ifndef NVK_DAEMON_H
#define NVK_DAEMON_H

// nvkerneld: serves the service directory under its root. Single-threaded on a GLib main
// loop; every socket is non-blocking, so a slow or hostile client only ever loses its own
// connection.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim_device.h"

typedef struct _GMainLoop GMainLoop;

namespace nvk {

struct Listener;

class Daemon {
public:
    explicit Daemon(std::string root);
    ~Daemon();

    // Takes the root (made when missing, stale services and sockets cleared) and opens the
    // control socket. False with a line on standard error when another daemon serves it.
    bool start();
    // Runs until SIGINT, SIGTERM, SIGHUP or the control command "quit".
    void run();
    // Takes every service away and leaves the root empty.
    void shutdown();

    // One control command; the reply starts with "ok" or "error".
    std::string control(const std::string& line);

    struct Service;
    struct Connection;
    struct Timer;

private:
    friend struct DaemonIO;

    std::string plugNew(DeviceKind kind, const std::vector<std::string>& args);
    std::string plugBack(SimDevice& device);
    bool publish(SimDevice& device);
    void unpublish(int deviceNumber);
    void republishProperties(Service& service);
    void sendNotice(Service& service, uint32_t type, const std::vector<uint32_t>& words);
    void after(int milliseconds, int deviceNumber, int action);
    void closeConnection(Connection* connection);
    SimDevice* device(int number);

    std::string mRoot;
    GMainLoop* mLoop = nullptr;
    int mControlFd = -1;
    unsigned mControlWatch = 0;
    std::unique_ptr<Listener> mControlListener;
    std::vector<unsigned> mSignalWatches;
    uint32_t mNextEntryId = 0x1000;
    int mNextDevice = 1;
    std::map<int, std::unique_ptr<SimDevice>> mDevices;
    std::map<int, std::unique_ptr<Service>> mServices; // by device number, while plugged
    std::set<Connection*> mConnections;
    std::set<Timer*> mTimers;
    bool mShutDown = false;
};

} // namespace nvk

#endif
