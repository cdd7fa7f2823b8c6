// A successful flash against nvkerneld, timed from the "flsh" command to the prompt "Unplug
// the device now". The pacing alone takes 0.5 + 96 x 0.010 + 96 x 0.020 + 96 x 0.062 s =
// 9.332 s; the counters give the real duration, the overhead over that floor (goal: under
// 1 %, for 289 page requests, the status changes and the redraws) and where it goes:
//   pickup   "flsh" to " - writing": the worker's idle poll (up to 20 ms) and the job's
//            reference on the device
//   prepare  the preparation and the oversleep of the 500 ms pause, to the read of page 0
//   write    the write pass beyond its 96 x 10 ms
//   verify   the verification pass beyond its 96 x 20 ms
//   commit   the commit phase beyond its 96 x 62 ms, to the prompt
//
//   build/release/bench/Flash/flash_bench            (three flashes, about 45 s)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "flash_harness.h"
#include "nvtoolkit.h"

namespace {

constexpr double kFloorMs = 500 + 96 * 10 + 96 * 20 + 96 * 62;   // 9332

const char kUnplug[] = "Unplug the device now";
const char kSuccess[] = "Update to version 1.4.1 successful. Unplug the device now.";

struct Timing {
    double total = -1, pickup = 0, prepare = 0, write = 0, verify = 0, commit = 0;
};

// One flash, timed from "flsh" to the unplug prompt in milliseconds; total -1 on failure.
Timing timeOneFlash() {
    Timing t;
    FlashWorld world;
    if (!world.ready())
        return t;
    FWUpdater updater;
    double flsh = 0, prompt = -1;
    runFlashSession(updater, world, [&](FlashSession& s) {
        if (!s.waitStatus("Current firmware version is 1.4.0 (kA)"))
            return;
        controlLogClear();
        DriverCallRecorder::clear();
        s.onMainThread([&] {
            flsh = flashNowMs();
            NVSendCommand(updater.getWindow(), NVFourCC("flsh"));
        });
        if (!s.waitStatus(kUnplug, 60000))
            return;
        prompt = timeOfText(s.statusControl(), kUnplug);
        std::vector<DriverCall> pages = DriverCallRecorder::pageRequests();
        double writing = timeOfText(s.statusControl(),
                                    "Current firmware version is 1.4.0 (kA) - writing");
        if (pages.size() == 289 && writing > 0) {
            t.pickup = writing - flsh;
            t.prepare = pages[0].ms - writing - 500;
            t.write = pages[192].ms - pages[0].ms - 96 * 10;
            t.verify = pages[288].ms - pages[192].ms - 96 * 20;
            t.commit = prompt - pages[288].ms - 96 * 62;
        }
        // The rest of the job, untimed: replug, outcome, unplug.
        world.kernel.unplug(world.qm7);
        s.waitStatus("plug in the device again...");
        world.kernel.plug(world.qm7);
        s.waitStatus(kSuccess);
        world.kernel.unplug(world.qm7);
        s.waitIdle();
    });
    if (prompt >= 0)
        t.total = prompt - flsh;
    return t;
}

void BM_FlashToUnplugPrompt(benchmark::State& state) {
    Timing sum;
    sum.total = 0;
    double worst = 0;
    int runs = 0;
    for (auto _ : state) {
        Timing t = timeOneFlash();
        if (t.total < 0) {
            state.SkipWithError("the flash did not reach the unplug prompt");
            return;
        }
        state.SetIterationTime(t.total / 1000.0);
        sum.total += t.total;
        sum.pickup += t.pickup;
        sum.prepare += t.prepare;
        sum.write += t.write;
        sum.verify += t.verify;
        sum.commit += t.commit;
        worst = t.total > worst ? t.total : worst;
        ++runs;
    }
    double mean = sum.total / runs;
    state.counters["duration_s"] = mean / 1000.0;
    state.counters["floor_s"] = kFloorMs / 1000.0;
    state.counters["overhead_ms"] = mean - kFloorMs;
    state.counters["overhead_pct"] = 100.0 * (mean - kFloorMs) / kFloorMs;
    state.counters["worst_overhead_ms"] = worst - kFloorMs;
    state.counters["pickup_ms"] = sum.pickup / runs;
    state.counters["prepare_ms"] = sum.prepare / runs;
    state.counters["write_ms"] = sum.write / runs;
    state.counters["verify_ms"] = sum.verify / runs;
    state.counters["commit_ms"] = sum.commit / runs;
}
BENCHMARK(BM_FlashToUnplugPrompt)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    NVToolkitInit();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
