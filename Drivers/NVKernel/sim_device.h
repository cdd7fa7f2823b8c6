#ifndef NVK_SIM_DEVICE_H
#define NVK_SIM_DEVICE_H

// One simulated device behind nvkerneld: the QM7 or a Halvorne unit. It answers dispatch
// records (the 260-byte record of the user client's one call) from its state, keeps its
// firmware pages, and carries the faults that the control command injects. The daemon owns
// publishing; the device only says what its registry properties are and what should happen
// after an answer (stall, close the connection, re-enumerate).

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include <plist/plist.h>

#include "nvk_image.h"
#include "nvkernel_protocol.h"

namespace nvk {

enum class DeviceKind { QM7, Halvorne };

struct DeviceOptions {
    DeviceKind kind = DeviceKind::QM7;
    FirmwareVersion firmware;     // running at the first plug-in
    bool firmwareWordZero = false; // code 23 answers 0, so the client asks with request 0x56
    uint8_t driverMajor = 2;      // 1 selects control-request layout A, anything else B
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    bool publishIds = true;       // "idVendor" and "idProduct" in the registry properties
    std::string extra = "sim";    // code 24 text
    uint64_t uid = 0;             // Halvorne: "HalvorneUID"
};

// Parses plug options ("--fw 1.4.0 --kernel A --driver-major 1 …") over defaults for the
// kind. False with a message for an unknown option or a bad value.
bool parseDeviceOptions(DeviceKind kind, const std::string* args, size_t count, DeviceOptions* options,
                        std::string* error);
const char* serviceClassOf(DeviceKind kind);

constexpr int kAnyCode = -1;
constexpr int kNoCode = -2;

struct Faults {
    bool prepareRefused = false;
    int writeFailPage = -1;
    int readFailPage = -1;
    int corruptPage = -1;
    int corruptOffset = 0;
    bool noReturn = false;        // the next plug-back does not happen
    int dropAgainMs = -1;         // after the next plug-back: drop off after this time…
    int dropBackMs = 500;         // …and come back after this one
    bool replugVersionSet = false; // the next boot runs this version whatever was written
    FirmwareVersion replugVersion;
    int shortCode = kNoCode;      // answers to this code (or any) are cut to shortLength
    uint32_t shortLength = 100;
    int stallCode = kNoCode;      // calls with this code get no answer
    int closeCode = kNoCode;      // calls with this code close the connection
    std::set<uint32_t> failCodes; // calls with these codes fail with a device error
};

// Parses "NAME [ARGS]" into the faults ("clear" resets them). False with a message.
bool applyFault(const std::string* args, size_t count, Faults* faults, std::string* error);

struct Answer {
    enum Action { kReply, kStall, kClose };
    Action action = kReply;
    uint32_t status = kStatusOK;
    uint32_t length = kRecordSize;
    std::array<uint8_t, kRecordSize> record{};
    bool reenumerate = false;       // drop off and come back after the reply
    bool propertiesChanged = false; // republish properties.plist
};

class SimDevice {
public:
    SimDevice(int number, const DeviceOptions& options);

    int number() const { return mNumber; }
    DeviceKind kind() const { return mOptions.kind; }
    const DeviceOptions& options() const { return mOptions; }
    Faults& faults() { return mFaults; }
    const FirmwareVersion& running() const { return mRunning; }
    bool prepared() const { return mPrepared; }

    // A call of the user client with its structure input (any size).
    Answer call(const uint8_t* input, size_t size);
    // A new dictionary of the registry properties.
    plist_t properties() const;
    // The device is plugged in again: it boots what its pages hold, or keeps its firmware
    // when they do not check out.
    void boot();
    void unplugged() { mPrepared = false; }
    std::string describe() const;

    struct Config {
        std::array<uint32_t, 5> words;
    };

private:
    friend struct CodeTable;
    uint32_t controlRequest(std::array<uint8_t, kRecordSize>& r, Answer& answer);
    uint32_t driverWord() const;

    int mNumber;
    DeviceOptions mOptions;
    Faults mFaults;
    FirmwareVersion mRunning;
    Payload mFlash;
    bool mPrepared = false;

    // Halvorne state, served to every operation of the catalogue.
    uint32_t mDigitalOutSelector = 0;
    uint8_t mCpld = 0x1C;
    std::array<Config, 3> mConfigs;
    uint32_t mCurrentConfig = 0;
    std::array<uint32_t, 5> mBufferSizes{{64, 128, 256, 512, 1024}};
    uint32_t mBufferSize = 256;
    uint32_t mClockSource = 0;
    uint32_t mUsb1Mode = 0;
    uint32_t mDigitalOutMode = 0;
    bool mStreaming = true;
    uint32_t mCPortBytes = 0;
    std::array<int32_t, 8> mRoutingIn{};
    std::array<int32_t, 8> mRoutingOut{};
    std::map<uint32_t, uint16_t> mCodecRegisters;
    std::array<uint32_t, 16> mChannelMap{};
    std::array<char, 32> mName{};
    std::array<uint32_t, 32> mInLevels{};
    std::array<uint32_t, 32> mOutLevels{};
};

} // namespace nvk

#endif
