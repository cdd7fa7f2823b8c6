#ifndef NORVANEDRIVERAPI_H
#define NORVANEDRIVERAPI_H

// The driver access API: the device registry, the device handle with its one request
// transport, the device operations and the version records with their text forms.
//
// Nothing here throws. Every failure is a result: false, null, or the fixed failure value
// each operation names (-1, 0, or an argument).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <plist/plist.h>

// ---------------------------------------------------------------------------------------
// Version records

// Driver, firmware and firmware-image version. Cleared to zero before every fill.
struct NxVersion {
    int32_t mMajor;
    int32_t mMinor;      // 15: there is no minor number
    int32_t mRevision;   // second number of the three-number text
    int32_t mStage;      // 0 development, 1 alpha, 2 beta, 3 release candidate, 4 release
    int32_t mBuild;      // build within a stage
    char mKernel;        // kernel tag; an image only fits a device with the same tag
    char mText[64];      // NUL-terminated
    char mExtra[16];     // NUL-terminated; only the firmware version carries one
};

// Full form into mText: "2.1.5", "3.05", "2.1.5.b3", "1.07.rc1"; an unknown stage prints "d".
void _nxapiMakeVersionString(NxVersion& version);
// Three-number form "major.revision.stage" into mText.
void _nxapiMakeVersionStringStd(NxVersion& version);
// The firmware's text: the three-number form.
void _nxapiMakeVersionStringFirmware(NxVersion& version);

// Decoders shared by the handle's version reads (and usable on their own). Each clears the
// record first and writes its text form.
// Driver version from the first four answer bytes of control code 41 (b3 is the top byte);
// full form.
void nxapiDecodeDriverVersion(const uint8_t answer[4], NxVersion& version);
// Firmware version from its 32-bit word (major, revision, stage, build/kernel tag from the
// top byte down); three-number form.
void nxapiDecodeFirmwareWord(uint32_t word, NxVersion& version);
// The firmware word built from the three bytes that vendor request 0x56 returns.
uint32_t nxapiFirmwareWordFromRequest(const uint8_t bytes[3]);

// Major number of "NXModuleVersionString" in a property-list file; 0 when there is none.
// Declared here and in GetDriverFileVer.h.
int getMajorVersionFromPList(char const* path);

// ---------------------------------------------------------------------------------------
// The request record and the records that travel in it. Host byte order (little-endian).

struct NX_Dispatch {
    uint32_t mCode;           // dispatch code
    uint8_t mPayload[256];    // arguments in, results out; layout per code
};
static_assert(sizeof(NX_Dispatch) == 260, "the driver exchanges exactly 260 bytes");

enum EDirection : uint32_t { eDirectionOut = 0x00, eDirectionIn = 0x80 };
enum EDRQ_Level : uint32_t { eLevelVendor = 0x40 };
enum EDRQ_Recipient : uint32_t { eRecipientDevice = 0 };

// Enumerations passed through to the driver as one payload word; their values are the
// driver's.
enum NXE_ClockSource : uint32_t {};
enum NXE_USB1Mode : uint32_t {};
enum NXE_DigitalOutMode : uint32_t {};

struct NX_DeviceDescriptor {
    uint8_t mBytes[16];   // offset 6: vendor id, offset 8: product id (16-bit each)
    uint16_t vendorID() const { return uint16_t(mBytes[6] | (mBytes[7] << 8)); }
    uint16_t productID() const { return uint16_t(mBytes[8] | (mBytes[9] << 8)); }
};
static_assert(sizeof(NX_DeviceDescriptor) == 16, "descriptor size");

struct NX_LevelInfo {
    uint8_t mBytes[64];   // as the driver returns it
};
struct NX_LevelInfo32 {
    uint32_t mIn[32];
    uint32_t mOut[32];
};
struct NX_LevelInfoExtended1 {};

struct NX_DeviceConfiguration {
    uint32_t mWord[5];    // word 1: input channels, word 3: output channels
};
struct NX_Halvorne_ChannelMap {
    uint32_t mEntry[16];  // 0-7 input slots, 8-15 output slots; low byte 0xFF: unused
};
struct NX_Halvorne_ConfigAndMap {
    NX_DeviceConfiguration mConfig;
    NX_Halvorne_ChannelMap mMap;
};
struct NX_DigitalStatus {
    uint32_t mWord[2];
};
static_assert(sizeof(NX_LevelInfo) == 64 && sizeof(NX_LevelInfo32) == 256, "level records");
static_assert(sizeof(NX_DeviceConfiguration) == 20 && sizeof(NX_Halvorne_ChannelMap) == 64,
              "configuration records");
static_assert(sizeof(NX_Halvorne_ConfigAndMap) == 84 && sizeof(NX_DigitalStatus) == 8,
              "configuration-and-map record");

class ZRCPortBase;

// setBufferSize and getConfigStatus have codes of their own, so that setting a buffer size
// never lands on setConfiguration (9) and reading the status never suspends streaming (38).
// The driver (nvkerneld) serves them under these codes.
enum : uint32_t {
    kNxCodeSetBufferSize = 13,
    kNxCodeGetConfigStatus = 39,
};

// ---------------------------------------------------------------------------------------
// The device handle

// One published service of the kernel driver. Lives on the heap; holders count themselves in
// with retain() and out with release(), and the release that brings the count to 0 deletes
// it. The count is atomic: the flash worker holds a reference while the main thread may drop
// its own.
class USBDevice {
public:
    explicit USBDevice(unsigned int service);
    virtual ~USBDevice();
    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    void retain();
    void release();

    bool open(bool unused = true);
    void close();
    bool isOpen() const { return mConnection != 0; }
    unsigned int getDeviceInstance() const { return mService; }
    int getIORegistryProperties();   // platform status; 0 fills mProperties

    // The transport. Every exchange with the driver goes through dispatch().
    bool dispatch(NX_Dispatch& record, bool checkSize);
    bool DeviceIoControl(unsigned int device, int code, void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long* returned,
                         void* overlapped);
    bool request(EDirection direction, EDRQ_Level level, EDRQ_Recipient recipient,
                 unsigned char request, unsigned short value, unsigned short index,
                 char* buffer, unsigned short length, bool forceLayoutB);

    bool getDriverVersion(NxVersion& version);
    bool getFirmwareVersion(NxVersion& version, bool useRequest);
    void updateHalvorneConfigAndMap();

    // Driver notices (the registry registers ServiceInterestCallback with the handle as
    // refcon); messageArgument points at the notice's 32-bit words.
    static void ServiceInterestCallback(void* refcon, unsigned int service,
                                        uint32_t messageType, void* messageArgument);
    void onServiceInterestCallback(uint32_t messageType, void* messageArgument);

    // Device operations. Failure results: -1 for the selector and mode families, 0 for
    // counts, buffer sizes, configuration status and codec registers, the first int for
    // setRouting, false elsewhere.
    long getDigitalOutSelector();
    bool setDigitalOutSelector(long selector);
    bool getQelCpldMixOutSel();
    bool getQelCpldDigitalMon();
    bool setQelCpldMixOutSel(bool on);
    bool setQelCpldDigitalMon(bool on);
    unsigned long getCountConfigurations();
    bool getConfiguration(unsigned long index, NX_DeviceConfiguration& out);
    bool getCurrentConfiguration(NX_DeviceConfiguration& out);
    bool setConfiguration(NX_DeviceConfiguration configuration, NX_DeviceConfiguration& out);
    unsigned long getCountBufferSizes();
    unsigned long getBufferSize(unsigned long index);
    unsigned long getCurrentBufferSize();
    unsigned long setBufferSize(unsigned long size);
    bool canClockSource(NXE_ClockSource source);
    long getCurrentClockSource();
    long setClockSource(NXE_ClockSource source);
    bool getDigitalStatus(NX_DigitalStatus& out);
    long getUSB1Mode();
    long setUSB1Mode(NXE_USB1Mode mode);
    long getDigitalOutMode();
    long setDigitalOutMode(NXE_DigitalOutMode mode);
    bool prepareFirmwareUpdate();
    bool readLevelInfo(NX_LevelInfo& out);
    bool sendCPortBytes(unsigned long count, unsigned char const* bytes);
    static bool sendCPortBytesStatic(void* device, unsigned char const* bytes,
                                     unsigned long count);
    bool resumeStreaming();
    bool suspendStreaming();
    unsigned long getConfigStatus();
    int setRouting(bool input, int first, int second);
    int getRouting(bool input, int index);
    unsigned short getWMRegister(unsigned short first, unsigned short second);
    unsigned short setWMRegister(unsigned short first, unsigned short second,
                                 unsigned short third);
    bool getInLevels(unsigned long* levels);    // 32 entries
    bool getOutLevels(unsigned long* levels);   // 32 entries
    bool readLevelInfoEx(NX_LevelInfo32& out);
    bool levelInfoExAttach();
    bool levelInfoExDetach();
    bool readLevelInfoExtended1(NX_LevelInfoExtended1& out);
    bool getChannelMap(NX_Halvorne_ChannelMap& out);
    bool setChannelMap(NX_Halvorne_ChannelMap map);
    bool setConfigurationAndChannelMap(NX_Halvorne_ConfigAndMap value,
                                       NX_Halvorne_ConfigAndMap& out);
    bool getConfigurationAndChannelMap(NX_Halvorne_ConfigAndMap& out);
    bool getHalvorneDeviceName(char* name);          // writes 32 bytes, no terminator added
    bool setHalvorneDeviceName(char const* name);    // reads 32 bytes
    bool reenumerateDevice();                        // inverted: false when the driver completes
    bool getDeviceDescriptor(NX_DeviceDescriptor& descriptor);
    bool replugDevice(bool forceLayoutB);
    bool writeZRData(ZRCPortBase* data, unsigned long size);

    // Read access for the registry and for clients.
    uint16_t getVendorID() const { return mVendorID; }
    uint16_t getProductID() const { return mProductID; }
    int32_t getRefCount() const { return mRefCount.load(); }
    const NX_Halvorne_ConfigAndMap& getConfigAndMap() const { return mConfigAndMap; }

    // Public: the updater reads the driver version again into this very field after open.
    NxVersion mDriverVersion;
    // The general-interest notification the registry registered for this handle; 0 if none.
    unsigned int mNotification;

private:
    bool levels(bool input, unsigned long* levels);
    bool setCpldBit(uint8_t bit, bool on);

    char mInfoText0[64];
    char mInfoText1[64];
    uint32_t mOpenInfo[2];
    bool mOpenFlag;
    unsigned int mService;
    // Atomic: the flash worker sends through the handle while a detach on the main thread
    // may close it; a call already under way keeps its socket and fails cleanly.
    std::atomic<unsigned int> mConnection;
    plist_t mProperties;
    uint16_t mProductID;
    uint16_t mVendorID;
    NX_Halvorne_ConfigAndMap mConfigAndMap;
    std::atomic<int32_t> mRefCount;

    friend struct NxDeviceInspector;   // tests read the open-time fields
};

// Closes a user-client connection when it is nonzero.
void CloseHandle(unsigned int connection);

// ---------------------------------------------------------------------------------------
// The registry

// The name of what to look for: the NUL-terminated service class name.
struct GUID {
    char mName[256];
};

enum NXAPI_CBEvent : uint32_t {
    NXAPI_CB_DeviceArrived = 1,
    NXAPI_CB_DeviceRemoved = 2,
    NXAPI_CB_Notice3 = 3,   // notice 3, 49, 50, 55 or 56
    NXAPI_CB_Notice4 = 4,   // notice 34
    NXAPI_CB_Notice5 = 5,   // notice 14
    NXAPI_CB_Notice6 = 6,   // notice 35
    NXAPI_CB_Notice7 = 7,   // notice 48
};

// Interest message that carries the driver's notices; its argument starts with the words 36
// and the notice code.
enum : uint32_t { kNxNoticeMessageType = 0xE0000130, kNxNoticeTag = 36 };

typedef void (*NXAPI_Callback)(void* context, USBDevice* device, NXAPI_CBEvent event);

// Starts the registry (once; a second call changes nothing). Devices already present are
// announced before it returns; later events arrive on the calling thread's run loop.
void nxapiInit(NXAPI_Callback callback, void* context, GUID const& name);
// Stops the registry, closes and drops every handle it holds; raises no events.
void nxapiTerm();
// Takes a device out of the table as if its service had terminated.
void _nxapiMarkAsRemoved(USBDevice* device);
void _nxapiScanServices();

enum { kNxapiDeviceSlots = 128 };
extern USBDevice* nxapiDeviceMap[kNxapiDeviceSlots];

#endif
