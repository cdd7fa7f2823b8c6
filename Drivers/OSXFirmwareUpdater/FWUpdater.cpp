#include "FWUpdater.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "FWUpdaterDetection.h"
#include "FWWorkerThread.h"
#include "nvbundle.h"
#include "nvstring.h"

std::atomic<bool> globOKPressed(true);

void Sleep(int milliseconds) {
    if (milliseconds > 0)
        usleep(useconds_t(milliseconds) * 1000u);
}

namespace {

const FourCharCode kCmdFlash = NVFourCC("flsh");
const FourCharCode kCmdExit = NVFourCC("exit");
const FourCharCode kCmdOk = NVFourCC("pbok");

const char kTitle[] = "VESK:QM7 Firmware Updater";
const char kNoDevice[] = "Device not detected.";
const char kServiceClass[] = "NVKernelDeviceVESKQM7";

void registryCallback(void* context, USBDevice* device, NXAPI_CBEvent event) {
    FWUpdater::nxapiCallback(static_cast<FWUpdater*>(context), device, event);
}

}  // namespace

FWUpdater::FWUpdater()
    : mIdle(true), mWorker(nullptr), mDevice(nullptr), mBtnSpare(this, 6),
      mComboFirmware(this, 5), mBtnFlash(this, 3), mBtnOk(this, 7), mBtnExit(this, 10),
      mProgress(this, 4), mStatus(this, 2), mDeviceDescriptor(), mUpdating(false),
      mImage(nullptr), mImageSize(0), mFileVersion(), mDeviceVersion(), mReady(false),
      mUSBInterface(nullptr), mControlHandler(nullptr), mClosedHandler(nullptr) {
    IBNibRef nib = nullptr;
    if (CreateNibReference("main", &nib) != noErr)
        return;
    // A description that does not hold what we need is let go of as well.
    if (SetMenuBarFromNib(nib, "MenuBar") != noErr ||
        CreateWindowFromNib(nib, "MainWindow", &mWindow) != noErr) {
        DisposeNibReference(nib);
        return;
    }
    DisposeNibReference(nib);

    setPictImage(1, "NorvaneLogo", 1.0f);

    const EventTypeSpec command{kEventClassCommand, kEventCommandProcess};
    InstallWindowEventHandler(mWindow, mainWindowControlEventHandler, 1, &command, this,
                              &mControlHandler);
    const EventTypeSpec closed{kEventClassWindow, kEventWindowClosed};
    InstallWindowEventHandler(mWindow, mainWindowClosedHandler, 1, &closed, this,
                              &mClosedHandler);
    ShowWindow(mWindow);
}

FWUpdater::~FWUpdater() {
    if (mWorker) {
        delete mWorker;
        mWorker = nullptr;
    }
    // The window outlives this object: it must not call back into it.
    RemoveEventHandler(mControlHandler);
    RemoveEventHandler(mClosedHandler);
    delete[] mImage;
}

void FWUpdater::setPictImage(long id, const char* name, float alpha) {
    ControlID key{NVFourCC("imag"), int32_t(id)};
    ControlRef view = nullptr;
    GetControlByID(mWindow, &key, &view);
    std::string path = NVBundleCopyResourcePath(name, "png");
    if (path.empty())
        return;
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CGImageRef image = CGImageCreateWithPNGData(data.data(), data.size());
    if (!image)
        return;
    HIImageViewSetImage(view, image, alpha);
    CGImageRelease(image);
}

void FWUpdater::run() {
    mWorker = new FWWorkerThread(this);
    atexit(_fwUpdateClearSM);
    mWorker->threadStart();
    if (!OnInitDialog())
        return;

    EventLoopTimerRef redraw = nullptr;
    InstallEventLoopTimer(1.0, 0.25, windowRedrawTimerProc, this, &redraw);
    RunApplicationEventLoop();

    if (redraw)
        RemoveEventLoopTimer(redraw);
    mWorker->threadStop();
    while (mWorker->IsRunning())
        Sleep(20);
    Sleep(20);

    if (USBDevice* device = mDevice) {
        mDevice = nullptr;
        fwupdateUnRegister();
        device->close();
        device->release();
    }
    nxapiTerm();
}

bool FWUpdater::OnInitDialog() {
    SetWindowText(kTitle);
    mUpdating = false;
    mComboFirmware.ShowWindow(false);
    if (!mImage)
        mImage = new char[kFWImageSize];
    mDevice = nullptr;
    populateFirmwareList();
    loadRom(nullptr);
    mBtnFlash.EnableWindow(false);
    mBtnSpare.EnableWindow(false);
    mStatus.SetWindowText(kNoDevice);
    mProgress.SetRange(0, kFWPageCount);
    mProgress.SetPos(0);
    if (!mDevice)
        _fwUpdateSetRegVal(1);
    mReady = true;

    GUID guid;
    memset(&guid, 0, sizeof(guid));
    strncpy(guid.mName, kServiceClass, sizeof(guid.mName) - 1);
    nxapiInit(registryCallback, this, guid);
    return true;
}

OSStatus FWUpdater::mainWindowControlEventHandler(EventHandlerCallRef callRef, EventRef event,
                                                  void* userData) {
    if (!userData)
        return eventNotHandledErr;
    return static_cast<FWUpdater*>(userData)->onEventHandler(callRef, event);
}

OSStatus FWUpdater::onEventHandler(EventHandlerCallRef, EventRef event) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr,
                          sizeof(command), nullptr, &command) != noErr) {
        printf("GetEventParameter error\n");
        fflush(stdout);
        return eventNotHandledErr;
    }
    switch (command.commandID) {
    case kCmdFlash:
        if (mIdle && mWorker)
            mWorker->work(1);
        return noErr;
    case kCmdExit:
        if (mIdle)
            QuitApplicationEventLoop();
        return noErr;
    case kCmdOk:
        globOKPressed = true;
        return noErr;
    default:   // "swin" and everything else belong to the next handler
        return eventNotHandledErr;
    }
}

OSStatus FWUpdater::mainWindowClosedHandler(EventHandlerCallRef, EventRef, void* userData) {
    auto* self = static_cast<FWUpdater*>(userData);
    if (self && !self->mIdle) {
        // Cut the device off under the running job so that its requests and waits end.
        self->onDeviceDetached(self->mDevice);
        Sleep(200);
        for (int step = 0; step < 499 && !self->mIdle; ++step)
            Sleep(10);
    }
    if (self && self->mIdle)
        QuitApplicationEventLoop();
    return noErr;
}

void FWUpdater::windowRedrawTimerProc(EventLoopTimerRef, void* userData) {
    auto* self = static_cast<FWUpdater*>(userData);
    if (self && self->mWindow && !self->mIdle)
        DrawControls(self->mWindow);
}

void FWUpdater::nxapiCallback(FWUpdater* context, USBDevice* device, NXAPI_CBEvent event) {
    if (!context)
        return;
    if (event == NXAPI_CB_DeviceArrived)
        context->onDeviceAttached(device);
    else if (event == NXAPI_CB_DeviceRemoved)
        context->onDeviceDetached(device);
}
