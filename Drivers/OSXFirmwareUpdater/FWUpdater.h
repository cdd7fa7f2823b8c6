#ifndef FWUPDATER_H
#define FWUPDATER_H

// The updater: its one application object, which is also the main window. It owns the
// controls, the worker thread, the firmware image block, the image and device version
// records and the one open device handle.

#include <atomic>

#include "ControlWrappers.h"
#include "NorvaneDriverAPI.h"
#include "nvusb.h"

class FWWorkerThread;

// Firmware image layout: an 8-byte version header, then 96 pages of 64 bytes.
enum : int {
    kFWImageHeaderSize = 8,
    kFWPageSize = 64,
    kFWPageCount = 96,
    kFWImageSize = kFWPageSize * kFWPageCount,   // 6144
    kFWResourceBufferSize = 65536,
};

// Suspends the calling thread; every millisecond wait of the updater goes through it.
void Sleep(int milliseconds);

// Set by the command "pbok"; cleared and polled by the flash job while a message waits
// for confirmation.
extern std::atomic<bool> globOKPressed;

// The shipped image, read into one process-wide buffer (see FWUpdaterImage.cpp).
const char* loadSingleBinResource();
const char* loadBinResource(int index);
bool initFileversion(char* text);

class FWUpdater : public CWindow {
public:
    FWUpdater();
    ~FWUpdater() override;

    void run();
    bool OnInitDialog();
    void setPictImage(long id, const char* name, float alpha);

    static OSStatus mainWindowControlEventHandler(EventHandlerCallRef callRef, EventRef event,
                                                  void* userData);
    OSStatus onEventHandler(EventHandlerCallRef callRef, EventRef event);
    static OSStatus mainWindowClosedHandler(EventHandlerCallRef callRef, EventRef event,
                                            void* userData);
    static void windowRedrawTimerProc(EventLoopTimerRef timer, void* userData);
    static void nxapiCallback(FWUpdater* context, USBDevice* device, NXAPI_CBEvent event);

    // Firmware image and file version.
    bool loadRom(const char* image);
    bool initFileversion(char* text);
    void populateFirmwareList();
    void OnSelchangeComboFirmware();

    // Device attach, detach and version display.
    void onDeviceAttached(USBDevice* device);
    void onDeviceDetached(USBDevice* device);
    void loadFirmwareVersionFromDevice();
    NVUSBDeviceInterface* getUSBDeviceInterface();
    IOReturn USBVendorDeviceRequest(unsigned char direction, unsigned char request,
                                    unsigned short value, unsigned short index, char* data,
                                    unsigned short length);
    IOReturn USBDeviceRequest(unsigned char direction, unsigned char type,
                              unsigned char recipient, unsigned char request,
                              unsigned short value, unsigned short index, char* data,
                              unsigned short length, unsigned short* lengthDone);

    // Flash procedure (runs on the worker thread).
    void OnButtonFlash();
    bool flashFirmware(bool flag);
    bool verifyFirmware(bool flag);
    void callDoModalMessage(const char* message, bool flag, bool waitForUnplug);
    void OnButtonVerify();
    bool downloadFirmware(char* buffer);

    // Fields in declared order. The flags and the device pointer are shared with the
    // worker thread, which polls them.
    std::atomic<bool> mIdle;
    FWWorkerThread* mWorker;
    std::atomic<USBDevice*> mDevice;
    CButton mBtnSpare;
    CComboBox mComboFirmware;
    CButton mBtnFlash;
    CButton mBtnOk;
    CButton mBtnExit;
    CProgressCtrl mProgress;
    CStatic mStatus;
    NX_DeviceDescriptor mDeviceDescriptor;
    std::atomic<bool> mUpdating;
    char* mImage;
    int32_t mImageSize;
    NxVersion mFileVersion;
    NxVersion mDeviceVersion;
    bool mReady;
    NVUSBDeviceInterface* mUSBInterface;

private:
    // The two handlers this object installed on its window, taken off again when it goes.
    EventHandlerRef mControlHandler;
    EventHandlerRef mClosedHandler;

    FWUpdater(const FWUpdater&) = delete;
    FWUpdater& operator=(const FWUpdater&) = delete;
};

#endif
