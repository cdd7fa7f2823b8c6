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

#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Pins a thread (0: the calling one) to one CPU; a negative CPU leaves it to the scheduler.
bool pinTo(pid_t thread, int cpu)
{
    if (cpu < 0)
        return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(thread, sizeof set, &set) == 0;
}

// A bare echo peer on a socket pair: a thread of this process, or a child process (as the
// daemon is one; a wakeup across processes may cost more than one within a process).
struct Echo {
    int fds[2] = {-1, -1};
    std::thread peer;
    pid_t child = -1;
    Echo(bool separateProcess, int cpu)
    {
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds);
        if (separateProcess) {
            child = fork();
            if (child == 0) {
                close(fds[0]);
                serve(fds[1], cpu);
                _exit(0);
            }
        } else {
            peer = std::thread(serve, fds[1], cpu);
        }
    }
    ~Echo()
    {
        shutdown(fds[0], SHUT_RDWR);
        if (peer.joinable())
            peer.join();
        if (child > 0)
            waitpid(child, nullptr, 0);
        close(fds[0]);
        close(fds[1]);
    }
    static void serve(int fd, int cpu)
    {
        pinTo(0, cpu);
        char buffer[512];
        for (;;) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0 || send(fd, buffer, size_t(n), MSG_NOSIGNAL) != n)
                return;
        }
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

// Where the client's thread and its peers (the daemon, both echoes) run. A wakeup on the
// other CPU costs several times one on the same CPU, so a call and an echo compare fairly
// only when both peers sit alike: left to the scheduler, they often do not.
enum Placement { kAsScheduled, kSameCpu, kOtherCpu };

void measureCalls(benchmark::State& state, Placement placement)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    int cpus[2] = {-1, -1}, found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            cpus[found++] = cpu;
    if (placement == kOtherCpu && found < 2) {
        state.SkipWithError("one CPU only");
        return;
    }
    int self = placement == kAsScheduled ? -1 : cpus[0];
    int peer = placement == kAsScheduled ? -1 : placement == kSameCpu ? cpus[0] : cpus[1];
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
    // The daemon's main thread serves the calls; its thread id is its process id.
    if (!pinTo(kernel.pid(), peer) || !pinTo(0, self)) {
        state.SkipWithError("cannot pin to a CPU");
        return;
    }
    Echo echo(false, peer), processEcho(true, peer);
    uint8_t record[260] = {23};
    std::vector<double> calls, echoes, processEchoes;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        size_t size = sizeof record;
        NVDSConnectCallStructMethod(connection, 0, record, sizeof record, record, &size);
        calls.push_back(since(t0));
        record[0] = 23;
        Clock::time_point t1 = Clock::now();
        echo.roundTrip(record);
        echoes.push_back(since(t1));
        Clock::time_point t2 = Clock::now();
        processEcho.roundTrip(record);
        processEchoes.push_back(since(t2));
    }
    if (self >= 0)
        sched_setaffinity(0, sizeof allowed, &allowed);
    double call = median(calls), bare = median(echoes), across = median(processEchoes);
    state.counters["call_us"] = call;
    state.counters["echo_us"] = bare;
    state.counters["ratio"] = bare > 0 ? call / bare : 0;
    // The same against an echo in another process, as the daemon is one.
    state.counters["echo_process_us"] = across;
    state.counters["ratio_process"] = across > 0 ? call / across : 0;
    NVDSServiceClose(connection);
    NVDSObjectRelease(service);
    NVDSObjectRelease(iterator);
    NVDSObjectRelease(master);
    plist_free(matching);
}

void BM_CallVersusBareEcho(benchmark::State& state)
{
    measureCalls(state, kAsScheduled);
}
BENCHMARK(BM_CallVersusBareEcho)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// The same with the peers pinned: on the client's CPU, and on another one.
void BM_CallVersusBareEchoSameCpu(benchmark::State& state)
{
    measureCalls(state, kSameCpu);
}
BENCHMARK(BM_CallVersusBareEchoSameCpu)->Iterations(20000)->Unit(benchmark::kMicrosecond);

void BM_CallVersusBareEchoOtherCpu(benchmark::State& state)
{
    measureCalls(state, kOtherCpu);
}
BENCHMARK(BM_CallVersusBareEchoOtherCpu)->Iterations(20000)->Unit(benchmark::kMicrosecond);

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
