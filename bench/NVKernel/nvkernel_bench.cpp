// The round trip of one 260-byte call through the device-services layer and nvkerneld,
// against a bare SOCK_SEQPACKET echo of the same size in the same run (goal: at most 1.5x),
// and the time from a service folder's rename into place until the client's publish source
// fires (goal: under 5 ms). Medians are reported as counters.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "nvdevservices.h"
#include "nvkernel_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double since(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Echo {
    int fds[2] = {-1, -1};
    std::thread peer;
    Echo()
    {
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds);
        peer = std::thread([fd = fds[1]] {
            char buffer[512];
            for (;;) {
                ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0 || send(fd, buffer, size_t(n), MSG_NOSIGNAL) != n)
                    return;
            }
        });
    }
    ~Echo()
    {
        shutdown(fds[0], SHUT_RDWR);
        peer.join();
        close(fds[0]);
        close(fds[1]);
    }
    bool roundTrip(uint8_t* record)
    {
        // The same framing the client sends: a 16-byte header and the record.
        uint8_t packet[16 + 260];
        memcpy(packet + 16, record, 260);
        return send(fds[0], packet, sizeof packet, 0) == ssize_t(sizeof packet) &&
               recv(fds[0], packet, sizeof packet, 0) == ssize_t(sizeof packet);
    }
};

void BM_CallVersusBareEcho(benchmark::State& state)
{
    NVKernelFixture kernel;
    int device = kernel.plugQM7();
    NVDSObject master = 0, iterator = 0, connection = 0;
    NVDSGetMasterPort(&master);
    plist_t matching = NVDSServiceMatching("NVKernelDeviceVESKQM7");
    NVDSGetMatchingServices(master, matching, &iterator);
    NVDSObject service = NVDSIteratorNext(iterator);
    if (!device || !service || NVDSServiceOpen(service, 2, &connection) != kNVDSSuccess) {
        state.SkipWithError("no simulated device");
        return;
    }
    Echo echo;
    uint8_t record[260] = {23};
    std::vector<double> calls, echoes;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        size_t size = sizeof record;
        NVDSConnectCallStructMethod(connection, 0, record, sizeof record, record, &size);
        calls.push_back(since(t0));
        record[0] = 23;
        Clock::time_point t1 = Clock::now();
        echo.roundTrip(record);
        echoes.push_back(since(t1));
    }
    double call = median(calls), bare = median(echoes);
    state.counters["call_us"] = call;
    state.counters["echo_us"] = bare;
    state.counters["ratio"] = bare > 0 ? call / bare : 0;
    NVDSServiceClose(connection);
    NVDSObjectRelease(service);
    NVDSObjectRelease(iterator);
    NVDSObjectRelease(master);
    plist_free(matching);
}
BENCHMARK(BM_CallVersusBareEcho)->Iterations(20000)->Unit(benchmark::kMicrosecond);

struct Counter {
    int published = 0;
    static void onPublish(void* self, NVDSObject it)
    {
        while (NVDSObject s = NVDSIteratorNext(it)) {
            ++static_cast<Counter*>(self)->published;
            NVDSObjectRelease(s);
        }
    }
};

void BM_PublishToNotice(benchmark::State& state)
{
    NVKernelFixture kernel(false); // a root only: the folders are renamed by hand
    std::string cls = kernel.root() + "/NVKernelDeviceVESKQM7";
    mkdir(cls.c_str(), 0755);
    NVDSObject master = 0, published = 0;
    NVDSGetMasterPort(&master);
    NVDSNotificationPortRef port = NVDSNotificationPortCreate(master);
    NVRunLoopRef loop = NVRunLoopGetCurrent();
    NVRunLoopAddSource(loop, NVDSNotificationPortGetRunLoopSource(port));
    plist_t matching = NVDSServiceMatching("NVKernelDeviceVESKQM7");
    Counter counter;
    NVDSAddMatchingNotification(port, kNVDSServicePublish, matching, Counter::onPublish, &counter, &published);
    Counter::onPublish(&counter, published);
    std::vector<double> latencies;
    uint32_t id = 4096;
    for (auto _ : state) {
        std::string staging = cls + "/.new", target = cls + "/" + std::to_string(id++);
        mkdir(staging.c_str(), 0755);
        int before = counter.published;
        Clock::time_point t0 = Clock::now();
        rename(staging.c_str(), target.c_str());
        NVRunLoopRunUntil(loop, [&] { return counter.published > before; }, 1000);
        latencies.push_back(since(t0));
        rmdir(target.c_str());
    }
    state.counters["median_us"] = median(latencies);
    NVDSObjectRelease(published);
    NVDSNotificationPortDestroy(port);
    NVDSObjectRelease(master);
    plist_free(matching);
}
BENCHMARK(BM_PublishToNotice)->Iterations(500)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
