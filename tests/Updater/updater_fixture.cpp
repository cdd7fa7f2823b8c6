#include "updater_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "FWUpdaterDetection.h"
#include "nvbundle.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

void UpdaterTest::SetUp() {
    char pattern[] = "/tmp/nvupdater-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDir = pattern;
    mBundle = mDir + "/bundle";
    mRoot = mDir + "/root";
    ASSERT_EQ(system(("mkdir -p " + mBundle + "/Resources " + mRoot).c_str()), 0);
    for (const char* name : {"main.ui", "NorvaneLogo.png"}) {
        std::string bytes = readFile(std::string(UPDATER_BUNDLE_DIR "/Resources/") + name);
        ASSERT_FALSE(bytes.empty()) << name;
        writeFile(mBundle + "/Resources/" + name, bytes);
    }
    writeFile(mBundle + "/Info.plist", readFile(UPDATER_BUNDLE_DIR "/Info.plist"));
    std::string image = shippedImage();
    writeImage(image.empty() ? makeImage("1041009A") : image);
    NVBundleSetMainBundlePath(mBundle);
    setenv("NVKERNEL_ROOT", mRoot.c_str(), 1);
    // A key of this test process: a running updater's marker is never touched.
    mKey = 0x7E000000 | (int(getpid()) & 0xFFFFFF);
    _fwUpdateSetShmKey(mKey);
    globOKPressed = true;
}

void UpdaterTest::TearDown() {
    int id = shmget(key_t(mKey), 0, 0);
    if (id >= 0)
        shmctl(id, IPC_RMID, nullptr);
    NVBundleSetMainBundlePath("");
    ASSERT_EQ(system(("rm -rf " + mDir).c_str()), 0);
}

void UpdaterTest::writeImage(const std::string& bytes) {
    writeFile(mBundle + "/Resources/tz_qm7_v141.bin", bytes);
}

void UpdaterTest::removeImage() { unlink((mBundle + "/Resources/tz_qm7_v141.bin").c_str()); }

std::string UpdaterTest::shippedImage() {
    return readFile(UPDATER_BUNDLE_DIR "/Resources/tz_qm7_v141.bin");
}

std::string UpdaterTest::makeImage(const char header[8], size_t extra) {
    std::string bytes(header, 8);
    for (int i = 0; i < kFWImageSize + int(extra); ++i)
        bytes += char((i * 7 + i / 64) & 0xFF);
    return bytes;
}

void UpdaterTest::runWith(FWUpdater& u, const std::function<void()>& body, int limitMs) {
    bool timedOut = false;
    QTimer::singleShot(0, qApp, body);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QuitApplicationEventLoop();
    });
    guard.start(limitMs);
    u.run();
    EXPECT_FALSE(timedOut) << "the event loop had to be stopped";
}

bool pumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

std::string statusText(FWUpdater& u) {
    NVString text;
    u.mStatus.GetWindowText(text);
    return std::string(text);
}

std::string titleText(FWUpdater& u) {
    NVString text;
    u.GetWindowText(text);
    return std::string(text);
}

ControlRef controlOf(FWUpdater& u, const char (&sign)[5], int32_t id) {
    ControlID key{NVFourCC(sign), id};
    ControlRef c = nullptr;
    GetControlByID(u.getWindow(), &key, &c);
    return c;
}

uint32_t commandCode(const char* c) {
    return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) |
           (uint32_t(uint8_t(c[2])) << 8) | uint32_t(uint8_t(c[3]));
}
