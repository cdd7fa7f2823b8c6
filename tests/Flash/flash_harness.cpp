#include "flash_harness.h"

#include <QApplication>
#include <QTimer>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "FWFlashPacing.h"
#include "FWUpdaterDetection.h"
#include "NxPlatform.h"
#include "nvbundle.h"
#include "nvstring.h"

double flashNowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// --- control record ----------------------------------------------------------------------

namespace {

std::mutex gControlLock;
std::vector<ControlChange> gControlLog;

}  // namespace

// The toolkit's SetControlData and SetControlValue (their linker names), wrapped at link time.
extern "C" {
OSStatus __real__Z14SetControlDataP9NVControlsjmPKv(ControlRef, ControlPartCode, FourCharCode,
                                                    size_t, const void*);
void __real__Z15SetControlValueP9NVControls(ControlRef, int16_t);

OSStatus __wrap__Z14SetControlDataP9NVControlsjmPKv(ControlRef control, ControlPartCode part,
                                                    FourCharCode tag, size_t size,
                                                    const void* data) {
    std::lock_guard<std::mutex> hold(gControlLock);
    gControlLog.push_back({control, true,
                           data ? std::string(static_cast<const char*>(data), size) : "", 0,
                           flashNowMs()});
    return __real__Z14SetControlDataP9NVControlsjmPKv(control, part, tag, size, data);
}

void __wrap__Z15SetControlValueP9NVControls(ControlRef control, int16_t value) {
    std::lock_guard<std::mutex> hold(gControlLock);
    gControlLog.push_back({control, false, "", value, flashNowMs()});
    __real__Z15SetControlValueP9NVControls(control, value);
}
}

void controlLogClear() {
    std::lock_guard<std::mutex> hold(gControlLock);
    gControlLog.clear();
}

std::vector<ControlChange> controlLog() {
    std::lock_guard<std::mutex> hold(gControlLock);
    return gControlLog;
}

std::vector<std::string> textsOf(ControlRef control) {
    std::vector<std::string> texts;
    for (const ControlChange& c : controlLog())
        if (c.control == control && c.isText && (texts.empty() || texts.back() != c.text))
            texts.push_back(c.text);
    return texts;
}

std::vector<int> valuesOf(ControlRef control) {
    std::vector<int> values;
    for (const ControlChange& c : controlLog())
        if (c.control == control && !c.isText)
            values.push_back(c.value);
    return values;
}

double timeOfText(ControlRef control, const std::string& text) {
    for (const ControlChange& c : controlLog())
        if (c.control == control && c.isText && c.text == text)
            return c.ms;
    return -1;
}

// --- driver calls --------------------------------------------------------------------------

namespace {

std::mutex gCallLock;
std::vector<DriverCall> gCalls;
NxPlatformOps gRecording;
NxPlatformOps gForward;
const NxPlatformOps* gBefore = nullptr;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Control requests in layout B, the one of the simulated QM7's driver (major 2).
int recordingCall(unsigned int connection, uint32_t selector, const void* in, size_t inSize,
                  void* out, size_t* outSize) {
    DriverCall call{};
    const auto* r = static_cast<const uint8_t*>(in);
    if (inSize >= 260) {
        call.code = le32(r);
        if (call.code == 34) {
            call.request = r[152];
            call.in = le32(r + 140) == 0x80;
            call.index = uint16_t(r[138] | r[139] << 8);
        }
    }
    int status = gForward.connectionCall(connection, selector, in, inSize, out, outSize);
    call.ok = status == 0 && *outSize == 260;
    call.ms = flashNowMs();
    std::lock_guard<std::mutex> hold(gCallLock);
    gCalls.push_back(call);
    return status;
}

}  // namespace

// One recorder at a time, over the default table.
DriverCallRecorder::DriverCallRecorder() {
    gBefore = nxSetPlatform(nullptr);
    gForward = nxPlatform();
    gRecording = gForward;
    gRecording.connectionCall = recordingCall;
    nxSetPlatform(&gRecording);
    clear();
}

DriverCallRecorder::~DriverCallRecorder() { nxSetPlatform(gBefore == &gRecording ? nullptr : gBefore); }

void DriverCallRecorder::clear() {
    std::lock_guard<std::mutex> hold(gCallLock);
    gCalls.clear();
}

std::vector<DriverCall> DriverCallRecorder::calls() {
    std::lock_guard<std::mutex> hold(gCallLock);
    return gCalls;
}

std::vector<DriverCall> DriverCallRecorder::pageRequests() {
    std::vector<DriverCall> pages;
    for (const DriverCall& c : calls())
        if (c.code == 34 && c.request == 0x55)
            pages.push_back(c);
    return pages;
}

// --- world ---------------------------------------------------------------------------------

FlashWorld::FlashWorld(const std::string& qm7Options)
    : mKey(0x7F000000 | (int(getpid()) & 0xFFFFFF)) {
    if (kernel.running())
        qm7 = kernel.plugQM7(qm7Options);
    NVBundleSetMainBundlePath(UPDATER_BUNDLE_DIR);
    _fwUpdateSetShmKey(mKey);
    globOKPressed = true;
    fwReplugWaits() = FWReplugWaits();
    fwReplugWaits().comeBack = 4000;   // 20 s instead of an hour
    controlLogClear();
}

FlashWorld::~FlashWorld() {
    fwReplugWaits() = FWReplugWaits();
    int id = shmget(key_t(mKey), 0, 0);
    if (id >= 0)
        shmctl(id, IPC_RMID, nullptr);
    NVBundleSetMainBundlePath("");
}

// --- session -------------------------------------------------------------------------------

FlashSession::FlashSession(FWUpdater& updater) : mUpdater(updater) {}

void FlashSession::bindControls() {
    auto find = [this](const char (&sign)[5], int32_t id) {
        ControlID key{NVFourCC(sign), id};
        ControlRef c = nullptr;
        GetControlByID(mUpdater.getWindow(), &key, &c);
        return c;
    };
    mStatus = find("stxt", 2);
    mProgress = find("prgb", 4);
    mFlash = find("push", 3);
    mOk = find("push", 7);
    mExit = find("push", 10);
}

void FlashSession::onMainThread(std::function<void()> call) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto state = mState;
    QMetaObject::invokeMethod(
        qApp,
        [state, done, call] {
            if (state->alive)
                call();
            *done = true;
        },
        Qt::QueuedConnection);
    while (!*done && mState->alive)
        NVKernelFixture::sleepMs(1);
}

void FlashSession::command(const char fourChars[5]) {
    uint32_t code = (uint32_t(uint8_t(fourChars[0])) << 24) |
                    (uint32_t(uint8_t(fourChars[1])) << 16) |
                    (uint32_t(uint8_t(fourChars[2])) << 8) | uint32_t(uint8_t(fourChars[3]));
    onMainThread([this, code] { NVSendCommand(mUpdater.getWindow(), code); });
}

void FlashSession::closeWindow() {
    onMainThread([this] { CloseWindow(mUpdater.getWindow()); });
}

bool FlashSession::waitFor(const std::function<bool()>& condition, int ms) {
    for (double until = flashNowMs() + ms; mState->alive; NVKernelFixture::sleepMs(2)) {
        if (condition())
            return true;
        if (flashNowMs() > until)
            return false;
    }
    return condition();
}

bool FlashSession::waitUntil(const std::function<bool()>& condition, int ms) {
    for (double until = flashNowMs() + ms;; NVKernelFixture::sleepMs(2)) {
        if (condition())
            return true;
        if (flashNowMs() > until)
            return false;
    }
}

bool FlashSession::waitStatus(const std::string& text, int ms) {
    return waitFor([&] { return status() == text; }, ms);
}

std::string FlashSession::status() {
    NVString text;
    mUpdater.mStatus.GetWindowText(text);
    return std::string(text);
}

bool runFlashSession(FWUpdater& updater, FlashWorld& world,
                     const std::function<void(FlashSession&)>& script, int limitMs) {
    FlashSession session(updater);
    std::atomic<bool> scriptDone(false);
    bool forced = false;
    std::thread runner;
    const double limit = flashNowMs() + limitMs;
    double scriptEnded = 0;

    QTimer::singleShot(0, qApp, [&] {
        session.bindControls();
        runner = std::thread([&] {
            script(session);
            scriptDone = true;
        });
    });
    // Ends a job the script left running: the device goes, any message is confirmed.
    auto force = [&] {
        if (!forced) {
            forced = true;
            world.kernel.unplug(world.qm7);
        }
        globOKPressed = true;
    };
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        double now = flashNowMs();
        if (now > limit)
            force();
        if (!scriptDone)
            return;
        if (scriptEnded == 0)
            scriptEnded = now;
        if (updater.mIdle)
            QuitApplicationEventLoop();
        else if (now - scriptEnded > 2000)
            force();
    });
    watch.start(10);

    updater.run();
    session.mState->alive = false;
    if (runner.joinable())
        runner.join();
    return !forced;
}
