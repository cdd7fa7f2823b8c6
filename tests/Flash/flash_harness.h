#ifndef FLASH_HARNESS_H
#define FLASH_HARNESS_H

// What the flash tests and the flash benchmark share: a private nvkerneld with one QM7, the
// updater's bundle from the build tree, a marker key of this process, a record of every
// page request the driver API sends and of every text and value the window's controls are
// given, and a session that runs FWUpdater::run() on the main thread while a script drives
// it from a thread of its own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FWUpdater.h"
#include "nvkernel_fixture.h"

double flashNowMs();   // a monotonic clock for the records

// Every text (SetControlData) and value (SetControlValue) a control was given, in order.
// Filled through the linker's --wrap of the two toolkit calls.
struct ControlChange {
    ControlRef control;
    bool isText;
    std::string text;
    int value;
    double ms;
};
void controlLogClear();
std::vector<ControlChange> controlLog();
// The texts (consecutive repeats folded) or values one control was given.
std::vector<std::string> textsOf(ControlRef control);
std::vector<int> valuesOf(ControlRef control);
// Time of the first change of `control` to `text`, or -1.
double timeOfText(ControlRef control, const std::string& text);

// The calls the driver API sent: dispatch code, and for a control request (code 34) its
// request number, direction, index and whether it went through.
struct DriverCall {
    uint32_t code;
    uint8_t request;
    bool in;
    uint16_t index;
    bool ok;
    double ms;
};
// Records while it lives; put in place before any handle talks and taken away after.
class DriverCallRecorder {
public:
    DriverCallRecorder();
    ~DriverCallRecorder();
    static void clear();
    static std::vector<DriverCall> calls();
    // Page requests (0x55) only.
    static std::vector<DriverCall> pageRequests();
};

// One test's world: daemon, bundle, marker key, recorder, shortened replug waits.
class FlashWorld {
public:
    explicit FlashWorld(const std::string& qm7Options = "--fw 1.4.0 --kernel A");
    ~FlashWorld();
    bool ready() const { return kernel.running() && qm7 >= 0; }

    NVKernelFixture kernel;
    int qm7 = -1;

private:
    int mKey;
    DriverCallRecorder mRecorder;
};

// Drives a running updater from the script thread.
class FlashSession {
public:
    explicit FlashSession(FWUpdater& updater);

    FWUpdater& updater() { return mUpdater; }
    // A command to the window, as its buttons send it; returns once it was handled.
    void command(const char fourChars[5]);
    // The user closes the window; returns once the close handler is through.
    void closeWindow();
    // Polls every 2 ms; false after `ms` or when the loop has ended.
    bool waitFor(const std::function<bool()>& condition, int ms = 10000);
    // The same without a session: polls every 2 ms for up to `ms`.
    static bool waitUntil(const std::function<bool()>& condition, int ms);
    bool waitStatus(const std::string& text, int ms = 10000);
    bool waitIdle(int ms = 30000) { return waitFor([this] { return mUpdater.mIdle.load(); }, ms); }
    std::string status();
    bool loopAlive() const { return mState->alive; }

    ControlRef statusControl() const { return mStatus; }
    ControlRef progressControl() const { return mProgress; }
    ControlRef flashButton() const { return mFlash; }
    ControlRef okButton() const { return mOk; }
    ControlRef exitButton() const { return mExit; }

    // Runs `call` on the main thread and returns once it ran (or the loop has ended).
    void onMainThread(std::function<void()> call);
    // Main thread, inside the loop.
    void bindControls();

    struct State {
        std::atomic<bool> alive{true};
    };
    std::shared_ptr<State> mState = std::make_shared<State>();

private:
    FWUpdater& mUpdater;
    ControlRef mStatus = nullptr;
    ControlRef mProgress = nullptr;
    ControlRef mFlash = nullptr;
    ControlRef mOk = nullptr;
    ControlRef mExit = nullptr;
};

// Runs updater.run() with `script` on its own thread once the loop runs. When the script
// returns and the updater is still running, the job is let to end (device unplugged, OK
// given) and the loop quit; the same happens after `limitMs`. False when that was needed.
bool runFlashSession(FWUpdater& updater, FlashWorld& world,
                     const std::function<void(FlashSession&)>& script, int limitMs = 120000);

#endif
