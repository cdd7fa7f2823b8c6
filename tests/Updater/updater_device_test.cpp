// Device attach, detach and the version display against nvkerneld in a private root.

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <string>

#include "FWUpdaterDetection.h"
#include "nvkernel_fixture.h"
#include "updater_fixture.h"

namespace {

const char kTitle[] = "VESK:QM7 Firmware Updater";
const char kVersionTitle[] = "VESK:QM7 Firmware Updater 1.4.1 (kA)";
const char kCurrent[] = "Current firmware version is 1.4.0 (kA)";
const char kNoDevice[] = "Device not detected.";

class DeviceTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        ASSERT_TRUE(mKernel.running());
        setenv("NVKERNEL_ROOT", mKernel.root().c_str(), 1);
    }
    bool showsNoDevice(FWUpdater& u) {
        return statusText(u) == kNoDevice && !IsControlEnabled(controlOf(u, "push", 3)) &&
               u.mDevice.load() == nullptr;
    }
    bool showsVersion(FWUpdater& u, const char* status = kCurrent) {
        return statusText(u) == status && IsControlEnabled(controlOf(u, "push", 3)) &&
               u.mDevice.load() != nullptr;
    }
    NVKernelFixture mKernel;
};

}  // namespace

// The device present at start is taken into use inside OnInitDialog, before the loop runs;
// quitting with it open removes the marker at once.
TEST_F(DeviceTest, StartsWithTheDevicePresent) {
    ASSERT_GT(mKernel.plugQM7("--fw 1.4.0 --kernel A"), 0);
    FWUpdater u;
    testing::internal::CaptureStderr();
    runWith(u, [&] {
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("Unable to find first matching USB device\n"), std::string::npos) << err;
        EXPECT_EQ(titleText(u), kVersionTitle);
        EXPECT_TRUE(showsVersion(u));
        EXPECT_EQ(GetControlValue(controlOf(u, "prgb", 4)), 0);
        EXPECT_EQ(u.mUSBInterface, nullptr);
        EXPECT_EQ(u.mImageSize, kFWImageSize);
        EXPECT_EQ(u.mFileVersion.mKernel, 'A');
        EXPECT_EQ(u.mDeviceVersion.mMajor, 1);
        EXPECT_EQ(u.mDeviceVersion.mRevision, 4);
        EXPECT_EQ(u.mDeviceVersion.mStage, 0);
        EXPECT_EQ(u.mDeviceVersion.mKernel, 'A');
        EXPECT_TRUE(fwUpdaterActive());
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
    EXPECT_EQ(u.mDevice.load(), nullptr);
    EXPECT_FALSE(fwUpdaterActive());
}

// Plugging and unplugging while the window is up; every attach appends the version once
// more to the title; a detach outside a flash sets the marker again.
TEST_F(DeviceTest, AttachAndDetachWhileRunning) {
    FWUpdater u;
    runWith(u, [&] {
        EXPECT_TRUE(showsNoDevice(u));
        int qm7 = mKernel.plugQM7("--fw 1.4.0 --kernel A");
        ASSERT_GT(qm7, 0);
        ASSERT_TRUE(pumpUntil([&] { return showsVersion(u); })) << statusText(u);
        EXPECT_EQ(titleText(u), kVersionTitle);

        fwupdateUnRegister();
        ASSERT_FALSE(fwUpdaterActive());
        u.mProgress.SetPos(50);
        ASSERT_TRUE(mKernel.unplug(qm7));
        ASSERT_TRUE(pumpUntil([&] { return showsNoDevice(u); })) << statusText(u);
        EXPECT_FALSE(IsControlEnabled(controlOf(u, "push", 6)));
        EXPECT_EQ(GetControlValue(controlOf(u, "prgb", 4)), 0);
        EXPECT_TRUE(fwUpdaterActive());

        ASSERT_TRUE(mKernel.plug(qm7));
        ASSERT_TRUE(pumpUntil([&] { return showsVersion(u); })) << statusText(u);
        EXPECT_EQ(titleText(u), std::string(kVersionTitle) + " 1.4.1 (kA)");
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
}

// A second device is ignored, and so is its removal; once the first is gone the second is
// not taken into use until it is reported again.
TEST_F(DeviceTest, SecondDeviceIgnoredUntilReportedAgain) {
    int first = mKernel.plugQM7("--fw 1.4.0 --kernel A");
    ASSERT_GT(first, 0);
    FWUpdater u;
    runWith(u, [&] {
        USBDevice* inUse = u.mDevice;
        ASSERT_NE(inUse, nullptr);
        int second = mKernel.plugQM7("--fw 1.3.0 --kernel A");
        ASSERT_GT(second, 0);
        pumpUntil([] { return false; }, 300);
        EXPECT_EQ(u.mDevice.load(), inUse);
        EXPECT_TRUE(showsVersion(u));

        ASSERT_TRUE(mKernel.unplug(second));
        pumpUntil([] { return false; }, 300);
        EXPECT_EQ(u.mDevice.load(), inUse);
        EXPECT_TRUE(showsVersion(u));
        ASSERT_TRUE(mKernel.plug(second));
        pumpUntil([] { return false; }, 300);

        ASSERT_TRUE(mKernel.unplug(first));
        ASSERT_TRUE(pumpUntil([&] { return showsNoDevice(u); })) << statusText(u);
        pumpUntil([] { return false; }, 300);
        EXPECT_TRUE(showsNoDevice(u));

        ASSERT_TRUE(mKernel.replug(second));
        ASSERT_TRUE(pumpUntil([&] { return showsVersion(u, "Current firmware version is 1.3.0 (kA)"); }))
            << statusText(u);
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
}

// Attaches that fail: the handle is let go at once and the window shows no device.
TEST_F(DeviceTest, AttachFailures) {
    struct Row {
        const char* what;
        const char* fault;   // nvkerneld fault, or null
        int image;           // 0 shipped, 1 missing, 2 short
    } rows[] = {
        {"driver version read fails", "fail 22", 0},
        {"image missing", nullptr, 1},
        {"image short", nullptr, 2},
    };
    std::string shipped = shippedImage();
    ASSERT_EQ(shipped.size(), size_t(8 + kFWImageSize));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeImage(shipped);
        if (row.image == 1)
            removeImage();
        else if (row.image == 2)
            writeImage(shipped.substr(0, shipped.size() - 64));
        int qm7 = mKernel.plugQM7("--fw 1.4.0 --kernel A");
        ASSERT_GT(qm7, 0);
        if (row.fault) {
            ASSERT_TRUE(mKernel.fault(qm7, row.fault)) << mKernel.lastReply();
        }
        FWUpdater u;
        runWith(u, [&] {
            EXPECT_TRUE(showsNoDevice(u));
            EXPECT_FALSE(IsControlEnabled(controlOf(u, "push", 6)));
            EXPECT_EQ(titleText(u), kTitle);
            EXPECT_EQ(u.mImageSize, 0);
            EXPECT_EQ(u.mDeviceVersion.mMajor, 0);
            NVSendCommand(u.getWindow(), NVFourCC("exit"));
        });
        ASSERT_TRUE(mKernel.ctlOk("remove " + std::to_string(qm7))) << mKernel.lastReply();
    }
}

// A failed firmware-version read goes unnoticed: zero numbers, and the zero kernel tag ends
// the text right after the k.
TEST_F(DeviceTest, FailedVersionReadShowsZero) {
    int qm7 = mKernel.plugQM7("--fw 1.4.0 --kernel A");
    ASSERT_TRUE(mKernel.fault(qm7, "fail 23")) << mKernel.lastReply();
    FWUpdater u;
    runWith(u, [&] {
        EXPECT_TRUE(showsVersion(u, "Current firmware version is 0.0.0 (k"));
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
}

// In the replug phase of a flash a detach leaves the marker alone.
TEST_F(DeviceTest, DetachDuringReplugPhaseKeepsTheMarkerOff) {
    int qm7 = mKernel.plugQM7("--fw 1.4.0 --kernel A");
    FWUpdater u;
    runWith(u, [&] {
        ASSERT_TRUE(showsVersion(u));
        fwupdateUnRegister();
        u.mUpdating = true;
        ASSERT_TRUE(mKernel.unplug(qm7));
        ASSERT_TRUE(pumpUntil([&] { return showsNoDevice(u); }));
        EXPECT_FALSE(fwUpdaterActive());
        ASSERT_TRUE(mKernel.plug(qm7));
        ASSERT_TRUE(pumpUntil([&] { return showsVersion(u); }));
        u.mUpdating = false;
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
}

// The window as a user sees it with a device attached, kept as a build artifact.
TEST_F(DeviceTest, ScreenshotWithADevice) {
    ASSERT_GT(mKernel.plugQM7("--fw 1.4.0 --kernel A"), 0);
    FWUpdater u;
    std::string path = std::string(UPDATER_ARTIFACT_DIR) + "/updater-window.png";
    ASSERT_EQ(system("mkdir -p " UPDATER_ARTIFACT_DIR), 0);
    runWith(u, [&] {
        ASSERT_TRUE(showsVersion(u));
        pumpUntil([] { return false; }, 100);
        EXPECT_TRUE(NVWindowSaveImage(u.getWindow(), path.c_str()));
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
    QImage shot(QString::fromStdString(path));
    ASSERT_FALSE(shot.isNull());
    EXPECT_GE(shot.width(), 400);

    // The offscreen platform draws no window frame: a framed copy carries the title too.
    const int bar = 28;
    QImage framed(shot.width() + 2, shot.height() + bar + 1, QImage::Format_RGB32);
    framed.fill(QColor(0x3a, 0x3f, 0x44));
    QPainter painter(&framed);
    painter.drawImage(1, bar, shot);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, framed.width(), bar), Qt::AlignCenter,
                     QString::fromStdString(titleText(u)));
    painter.end();
    EXPECT_TRUE(framed.save(QString::fromStdString(std::string(UPDATER_ARTIFACT_DIR) +
                                                   "/updater-window-framed.png")));
}

// Without a USB device under the build's ids the direct path holds nothing, and both
// request operations answer that the device is missing.
TEST_F(UpdaterTest, DirectUSBRequestsWithoutAnInterface) {
    FWUpdater u;
    char page[64] = {0};
    unsigned short done = 77;
    EXPECT_EQ(u.USBVendorDeviceRequest(1, 0x55, 0, 3, page, 64), IOReturn(kIOReturnNoDevice));
    EXPECT_EQ(u.USBDeviceRequest(1, 2, 0, 0x55, 0, 3, page, 64, &done), IOReturn(kIOReturnNoDevice));
    EXPECT_EQ(done, 77);
    testing::internal::CaptureStderr();
    EXPECT_EQ(u.getUSBDeviceInterface(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to find first matching USB device\n");
}
