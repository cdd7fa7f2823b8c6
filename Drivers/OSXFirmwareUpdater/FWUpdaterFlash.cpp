// The flash procedure: write, read back, verify and commit the image, then the unplug and
// replug of the device, the version check and the outcome. Runs as job 1 of the worker.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FWFlashPacing.h"
#include "FWUpdater.h"
#include "FWUpdaterDefines.h"
#include "FWUpdaterDetection.h"
#include "FWWorkerThread.h"
#include "nvstring.h"

namespace {

enum : int {
    kProgressMax = 3 * kFWPageCount,          // 288: write, verify and commit
    kCommitFirst = 2 * kFWPageCount + 1,      // 193
    kSettleMs = 500,
    kWriteGapMs = 10,
    kVerifyGapMs = 20,
    kCommitStepMs = 62,
    kUnplugPollMs = 20,
    kReplugPollMs = 5,
    kConfirmPollMs = 20,
    kPageRequest = 0x55,
};

const char kMsgFailed[] = "Failed updating firmware. Unplug the device now.";
const char kMsgNotSuitable[] =
    "This update is not suitable for your device.\nPlease contact your manufacturer.";
const char kMsgUnplug[] = "Unplug the device now";
const char kMsgPlugIn[] = "plug in the device again...";
const char kMsgNoReturn[] = "Failed verifying firmware update.\r\nUnplug the device and retry.";
const char kMsgVersionDiffers[] = "Update failed. Unplug the device now.";
const char kMsgSuccess[] = "Update to version %s successful. Unplug the device now.";
const char kMsgInUse[] =
    "The device is in use and cannot be updated.\r\n"
    "Close all other applications and retry the firmware update.";

// The detailed reason of a failure goes to standard output, for a user's report; the
// status line keeps the generic outcome.
void reportDetail(const char* format, int address) {
    printf(format, address);
    printf("\n");
    fflush(stdout);
}

bool pageRequest(USBDevice* device, EDirection direction, int page, char* data) {
    return device->request(direction, eLevelVendor, eRecipientDevice, kPageRequest, 0,
                           uint16_t(page), data, kFWPageSize, false);
}

// Offset of the first byte that differs, or -1.
int firstDifference(const char* a, const char* b, int size) {
    for (int i = 0; i < size; ++i)
        if (a[i] != b[i])
            return i;
    return -1;
}

// The job's own reference on the open device, so the handle outlives a detach that closes
// it and drops the updater's reference while a request is under way. A handle this thread
// does not hold yet is taken on the thread that runs the attach and detach: between reading
// mDevice and counting in, it cannot go. One it holds already is counted in here. The count
// is atomic, so it is given back from here too.
class DeviceHold {
public:
    explicit DeviceHold(FWUpdater& owner) : mOwner(owner), mOuter(tlsInnermost) {
        tlsInnermost = this;
        take();
    }
    ~DeviceHold() {
        drop();
        tlsInnermost = mOuter;
    }
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    // Lets go of the held handle and holds the one in use now, if any.
    void take() {
        drop();
        USBDevice* current = mOwner.mDevice;
        for (DeviceHold* h = mOuter; current && h; h = h->mOuter) {
            if (h->mDevice == current) {
                current->retain();
                mDevice = current;
                return;
            }
        }
        USBDevice* taken = nullptr;
        auto retainCurrent = [this, &taken] {
            taken = mOwner.mDevice;
            if (taken)
                taken->retain();
        };
        if (mOwner.mWorker)
            mOwner.mWorker->callOnOwnerLoop(retainCurrent);
        else
            retainCurrent();
        mDevice = taken;
    }
    void release() { drop(); }
    USBDevice* get() const { return mDevice; }
    explicit operator bool() const { return mDevice != nullptr; }
    USBDevice* operator->() const { return mDevice; }

private:
    void drop() {
        if (mDevice)
            mDevice->release();
        mDevice = nullptr;
    }

    static thread_local DeviceHold* tlsInnermost;

    FWUpdater& mOwner;
    DeviceHold* const mOuter;
    USBDevice* mDevice = nullptr;
};

thread_local DeviceHold* DeviceHold::tlsInnermost = nullptr;

}  // namespace

FWReplugWaits& fwReplugWaits() {
    static FWReplugWaits waits;
    return waits;
}

bool FWUpdater::flashFirmware(bool) {
    // Anything short of a whole payload must never reach the device.
    if (!mImage || mImageSize < kFWImageSize)
        return false;
    DeviceHold device(*this);
    if (!device)
        return false;
    if (mDeviceVersion.mKernel != mFileVersion.mKernel) {
        printf("New version kernel: %d, Current: %d\n", int(int8_t(mFileVersion.mKernel)),
               int(int8_t(mDeviceVersion.mKernel)));
        fflush(stdout);
        callDoModalMessage(kMsgNotSuitable, true, false);
        return false;
    }

    NVString base;
    mStatus.GetWindowText(base);
    NVString status(base);
    status += " - writing";
    mStatus.SetWindowText(status);
    mProgress.SetRange(0, kProgressMax);
    mProgress.SetPos(0);

    bool failed = false;
    char page[kFWPageSize];
    if (!device->prepareFirmwareUpdate()) {
        failed = true;
        printf("%s\n", kMsgInUse);
        fflush(stdout);
    } else {
        Sleep(kSettleMs);
        pageRequest(device.get(), eDirectionIn, 0, page);   // primes the device; not examined

        for (int n = 0; n < kFWPageCount && !failed; ++n) {
            const char* expected = mImage + kFWPageSize * n;
            Sleep(kWriteGapMs);
            if (!pageRequest(device.get(), eDirectionOut, n, const_cast<char*>(expected))) {
                failed = true;
                reportDetail("Write failed at address 0x%04X.", kFWPageSize * n);
                break;
            }
            if (!pageRequest(device.get(), eDirectionIn, n, page)) {
                failed = true;
                reportDetail("Read failed at address 0x%04X.", kFWPageSize * n);
            } else if (firstDifference(page, expected, kFWPageSize) >= 0) {
                failed = true;
                reportDetail("Verify failed at address 0x%04X.", kFWPageSize * n);
            }
            mProgress.SetPos(n);
        }
        mProgress.SetPos(kFWPageCount);
    }

    if (!failed) {
        status.assign(base);
        status += " - verifying";
        mStatus.SetWindowText(status);
        failed = !verifyFirmware(true);
    }
    mStatus.SetWindowText(base);

    if (!failed && mDevice) {
        // Nothing is sent: the device takes its time to keep the new pages.
        status.assign(base);
        status += " - commit";
        mStatus.SetWindowText(status);
        for (int step = 0; step < kFWPageCount; ++step) {
            Sleep(kCommitStepMs);
            mProgress.SetPos(kCommitFirst + step);
        }
    }
    mProgress.SetPos(0);
    return !failed;
}

bool FWUpdater::verifyFirmware(bool) {
    if (!mImage || mImageSize <= 0 || mImageSize < kFWImageSize || !mDevice)
        return false;
    DeviceHold device(*this);
    if (!device)
        return false;
    mProgress.SetRange(0, kProgressMax);
    mProgress.SetPos(kFWPageCount);

    bool failed = false;
    char page[kFWPageSize];
    for (int n = 0; n < kFWPageCount; ++n) {
        Sleep(kVerifyGapMs);
        if (!pageRequest(device.get(), eDirectionIn, n, page)) {
            failed = true;
            reportDetail("Read failed at address 0x%04X.", kFWPageSize * n);
            break;
        }
        int differs = firstDifference(page, mImage + kFWPageSize * n, kFWPageSize);
        if (differs >= 0) {
            failed = true;
            reportDetail("Verify failed at address 0x%04X.", kFWPageSize * n + differs);
            break;
        }
        mProgress.SetPos(kFWPageCount + n);
    }
    mProgress.SetPos(kProgressMax);
    if (failed) {
        mProgress.SetPos(0);
        return false;
    }
    return true;
}

void FWUpdater::callDoModalMessage(const char* message, bool, bool waitForUnplug) {
    NVString kept;
    mStatus.GetWindowText(kept);
    mStatus.SetWindowText(message);
    if (waitForUnplug) {
        while (mDevice)
            Sleep(kUnplugPollMs);
    } else {
        globOKPressed = false;
        mBtnFlash.ShowWindow(false);
        mBtnOk.ShowWindow(true);
        while (!globOKPressed)
            Sleep(kConfirmPollMs);
        mBtnFlash.ShowWindow(true);
        mBtnOk.ShowWindow(false);
    }
    mStatus.SetWindowText(kept);
}

void FWUpdater::OnButtonFlash() {
    mBtnExit.EnableWindow(false);
    // Held from the write through the unplug wait: while it lives, a device that is
    // unplugged and back within one poll cannot come back at its address and pass for it.
    DeviceHold written(*this);
    const bool ok = flashFirmware(false);
    const NxVersion fileVersion = mFileVersion;

    if (!ok) {
        written.release();
        callDoModalMessage(kMsgFailed, true, true);
    } else {
        mBtnFlash.EnableWindow(false);
        mStatus.SetWindowText(kMsgUnplug);
        if (mDevice != written.get())
            written.take();
        USBDevice* const remembered = written.get();
        if (remembered)
            mUpdating = true;
        while (mDevice && mDevice == remembered)
            Sleep(kUnplugPollMs);
        written.release();

        const FWReplugWaits& waits = fwReplugWaits();
        mStatus.SetWindowText(kMsgPlugIn);
        for (int poll = 0; !mDevice && poll < waits.comeBack; ++poll)
            Sleep(kReplugPollMs);
        if (mDevice) {
            // It may drop off once more as it restarts.
            for (int poll = 0; mDevice && poll < waits.stay; ++poll)
                Sleep(kReplugPollMs);
            if (!mDevice)
                for (int poll = 0; !mDevice && poll < waits.returnAfterDrop; ++poll)
                    Sleep(kReplugPollMs);
        }

        mBtnFlash.EnableWindow(false);
        mUpdating = false;
        if (!mDevice) {
            Sleep(kSettleMs);
            callDoModalMessage(kMsgNoReturn, true, false);
        } else {
            Sleep(kSettleMs);
            DeviceHold device(*this);
            if (device)
                device->prepareFirmwareUpdate();
            memset(&mDeviceVersion, 0, sizeof(mDeviceVersion));
            if (mDevice) {
                if (mDevice != device.get())
                    device.take();
                if (device)
                    loadFirmwareVersionFromDevice();
            }

            NVString deviceText(mDeviceVersion.mText);
            deviceText.trim();
            NxVersion expected = fileVersion;
            FWMakeVersionStringNORVANE(expected);
            NVString fileText(expected.mText);
            fileText.trim();

            mBtnFlash.EnableWindow(false);
            if (deviceText.compare(fileText) != 0) {
                callDoModalMessage(kMsgVersionDiffers, true, true);
            } else {
                NVString message;
                message.printf(kMsgSuccess, static_cast<const char*>(deviceText));
                callDoModalMessage(message, true, true);
            }
        }
    }

    mStatus.SetWindowText("");
    mUpdating = false;
    _fwUpdateSetRegVal(1);
    mBtnExit.EnableWindow(true);
}

void FWUpdater::OnButtonVerify() { verifyFirmware(false); }

bool FWUpdater::downloadFirmware(char* buffer) {
    if (!mDevice)
        return false;
    DeviceHold device(*this);
    if (!device)
        return false;
    for (int n = 0; n < kFWPageCount; ++n)
        if (!pageRequest(device.get(), eDirectionIn, n, buffer + kFWPageSize * n))
            return false;
    return true;
}
