#include "sim_device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nvk_bytes.h"
#include "nxids.h"

namespace nvk {

namespace {

using Record = std::array<uint8_t, kRecordSize>;

constexpr unsigned kQM7 = 1, kHalvorne = 2, kBoth = kQM7 | kHalvorne;

// Control-request layouts of code 34: A (header first) for driver major 1, B (data first).
struct Layout {
    size_t direction, level, recipient, request, value, index, length, data, capacity;
};
constexpr Layout kLayoutA{4, 8, 12, 16, 18, 20, 24, 28, 232};
constexpr Layout kLayoutB{140, 144, 148, 152, 136, 138, 132, 4, 128};

constexpr uint32_t kDirectionIn = 0x80, kLevelVendor = 0x40, kRecipientDevice = 0;
constexpr uint8_t kRequestPage = 0x55, kRequestVersion = 0x56, kRequestReplug = 0x52;

void putText(Record& r, size_t offset, size_t room, const std::string& text)
{
    memset(&r[offset], 0, room);
    memcpy(&r[offset], text.data(), text.size() < room - 1 ? text.size() : room - 1);
}

bool parseNumber(const std::string& text, long min, long max, long* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 0);
    if (errno || *end || v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

// One row per dispatch code: which devices serve it and how. A handler returns the status
// and edits the record in place (the answer starts as a copy of the request).
struct CodeTable {
    using Handler = uint32_t (*)(SimDevice&, Record&, Answer&);
    struct Row {
        uint32_t code;
        unsigned kinds;
        Handler handler;
    };
    static const Row* find(uint32_t code);
};

static uint32_t word(const Record& r, size_t offset) { return get32(&r[offset]); }
static void setWord(Record& r, size_t offset, uint32_t v) { put32(&r[offset], v); }

const CodeTable::Row* CodeTable::find(uint32_t code)
{
    static const Row rows[] = {
        // Digital-out selector and the CPLD byte.
        {2, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mDigitalOutSelector); return uint32_t(kStatusOK); }},
        {3, kHalvorne, [](SimDevice& d, Record& r, Answer&) { d.mDigitalOutSelector = word(r, 4); return uint32_t(kStatusOK); }},
        {4, kHalvorne, [](SimDevice& d, Record& r, Answer&) { r[4] = d.mCpld; return uint32_t(kStatusOK); }},
        {5, kHalvorne, [](SimDevice& d, Record& r, Answer&) { d.mCpld = r[4]; return uint32_t(kStatusOK); }},
        // Configurations.
        {6, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, uint32_t(d.mConfigs.size())); return uint32_t(kStatusOK); }},
        {7, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             uint32_t index = word(r, 4);
             if (index >= d.mConfigs.size())
                 return uint32_t(kStatusBadArgument);
             for (size_t i = 0; i < 5; ++i)
                 setWord(r, 4 + 4 * i, d.mConfigs[index].words[i]);
             return uint32_t(kStatusOK);
         }},
        {8, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 5; ++i)
                 setWord(r, 4 + 4 * i, d.mConfigs[d.mCurrentConfig].words[i]);
             return uint32_t(kStatusOK);
         }},
        {9, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             uint32_t id = word(r, 4);
             if (id >= d.mConfigs.size())
                 return uint32_t(kStatusBadArgument);
             d.mCurrentConfig = id;
             for (size_t i = 0; i < 5; ++i)
                 setWord(r, 4 + 4 * i, d.mConfigs[id].words[i]);
             return uint32_t(kStatusOK);
         }},
        // Buffer sizes: 13 sets one (the word is the size; the answer the size in force).
        {10, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, uint32_t(d.mBufferSizes.size())); return uint32_t(kStatusOK); }},
        {11, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             uint32_t index = word(r, 4);
             if (index >= d.mBufferSizes.size())
                 return uint32_t(kStatusBadArgument);
             setWord(r, 4, d.mBufferSizes[index]);
             return uint32_t(kStatusOK);
         }},
        {12, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mBufferSize); return uint32_t(kStatusOK); }},
        {13, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (uint32_t size : d.mBufferSizes)
                 if (size == word(r, 4))
                     d.mBufferSize = size;
             setWord(r, 4, d.mBufferSize);
             return uint32_t(kStatusOK);
         }},
        // Clock sources 0 to 2.
        {14, kHalvorne, [](SimDevice&, Record& r, Answer&) { setWord(r, 4, word(r, 4) <= 2 ? 1 : 0); return uint32_t(kStatusOK); }},
        {15, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mClockSource); return uint32_t(kStatusOK); }},
        {16, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             if (word(r, 4) <= 2)
                 d.mClockSource = word(r, 4);
             setWord(r, 4, d.mClockSource);
             return uint32_t(kStatusOK);
         }},
        {17, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             setWord(r, 4, 1); // locked
             setWord(r, 8, d.mConfigs[d.mCurrentConfig].words[4]);
             return uint32_t(kStatusOK);
         }},
        // Driver-level codes (control codes 0, 1, 39, 38, 41, 56).
        {18, kBoth, [](SimDevice& d, Record& r, Answer&) {
             putText(r, 4, 256, d.kind() == DeviceKind::QM7 ? "VESK:QM7 (nvkerneld)" : "Halvorne Tessel9 (nvkerneld)");
             return uint32_t(kStatusOK);
         }},
        {19, kBoth, [](SimDevice& d, Record& r, Answer&) {
             char text[32];
             snprintf(text, sizeof text, "NVK-%04d", d.number());
             putText(r, 4, 256, text);
             return uint32_t(kStatusOK);
         }},
        {20, kBoth, [](SimDevice&, Record& r, Answer&) { setWord(r, 4, 1); return uint32_t(kStatusOK); }},
        {21, kBoth, [](SimDevice& d, Record& r, Answer&) {
             memset(&r[4], 0, 16);
             r[4] = 18;   // descriptor length
             r[5] = 1;    // device descriptor
             put16(&r[6], 0x0200);
             put16(&r[10], d.mOptions.vendorId);
             put16(&r[12], d.mOptions.productId);
             put16(&r[14], uint16_t(d.mRunning.major << 8 | (d.mRunning.revision * 10 + d.mRunning.stage)));
             r[16] = 1;
             r[17] = 2;
             r[18] = 3;
             r[19] = 1;
             return uint32_t(kStatusOK);
         }},
        {22, kBoth, [](SimDevice& d, Record& r, Answer&) {
             setWord(r, 4, d.driverWord());
             setWord(r, 8, 0);
             return uint32_t(kStatusOK);
         }},
        {23, kBoth, [](SimDevice& d, Record& r, Answer&) {
             const FirmwareVersion& v = d.mRunning;
             uint32_t w = uint32_t(v.major) << 24 | uint32_t(v.revision) << 16 | uint32_t(v.stage) << 8 | uint8_t(v.kernel);
             setWord(r, 4, d.mOptions.firmwareWordZero ? 0 : w);
             return uint32_t(kStatusOK);
         }},
        {24, kBoth, [](SimDevice& d, Record& r, Answer&) { putText(r, 4, 16, d.mOptions.extra); return uint32_t(kStatusOK); }},
        {25, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mUsb1Mode); return uint32_t(kStatusOK); }},
        {26, kHalvorne, [](SimDevice& d, Record& r, Answer&) { d.mUsb1Mode = word(r, 4); return uint32_t(kStatusOK); }},
        {27, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mDigitalOutMode); return uint32_t(kStatusOK); }},
        {28, kHalvorne, [](SimDevice& d, Record& r, Answer&) { d.mDigitalOutMode = word(r, 4); return uint32_t(kStatusOK); }},
        // Firmware update: prepare, then tunnelled control requests.
        {33, kBoth, [](SimDevice& d, Record&, Answer&) {
             if (d.mFaults.prepareRefused)
                 return uint32_t(kStatusBusy);
             d.mPrepared = true;
             return uint32_t(kStatusOK);
         }},
        {34, kBoth, [](SimDevice& d, Record& r, Answer& a) { return d.controlRequest(r, a); }},
        // Levels, control port, streaming, routing, codec registers.
        {35, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 16; ++i)
                 setWord(r, 4 + 4 * i, d.mInLevels[i]);
             return uint32_t(kStatusOK);
         }},
        {36, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             if (r[4] == 0)
                 return uint32_t(kStatusBadArgument);
             d.mCPortBytes += r[4];
             return uint32_t(kStatusOK);
         }},
        {37, kHalvorne, [](SimDevice& d, Record&, Answer&) { d.mStreaming = true; return uint32_t(kStatusOK); }},
        {38, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             d.mStreaming = false;
             setWord(r, 4, 1);
             return uint32_t(kStatusOK);
         }},
        {39, kHalvorne, [](SimDevice& d, Record& r, Answer&) { setWord(r, 4, d.mStreaming ? 1 : 2); return uint32_t(kStatusOK); }},
        {40, kHalvorne, [](SimDevice& d, Record& r, Answer& a) {
             uint32_t index = word(r, 8);
             if (index >= d.mRoutingIn.size())
                 return uint32_t(kStatusBadArgument);
             (word(r, 4) ? d.mRoutingIn : d.mRoutingOut)[index] = int32_t(word(r, 12));
             a.propertiesChanged = true;
             return uint32_t(kStatusOK);
         }},
        {41, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             auto it = d.mCodecRegisters.find(uint32_t(get16(&r[4])) << 16 | get16(&r[6]));
             put16(&r[8], it == d.mCodecRegisters.end() ? 0 : it->second);
             return uint32_t(kStatusOK);
         }},
        {42, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             d.mCodecRegisters[uint32_t(get16(&r[4])) << 16 | get16(&r[6])] = get16(&r[8]);
             return uint32_t(kStatusOK);
         }},
        {48, kBoth, [](SimDevice& d, Record& r, Answer&) {
             setWord(r, 4, uint32_t(d.number()));
             setWord(r, 8, d.mPrepared ? 1 : 0);
             return uint32_t(kStatusOK);
         }},
        {49, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 32; ++i)
                 setWord(r, 4 + 4 * i, d.mOutLevels[i]);
             return uint32_t(kStatusOK);
         }},
        // Channel map, open info, configuration and map, name.
        {65, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 16; ++i)
                 setWord(r, 4 + 4 * i, d.mChannelMap[i]);
             return uint32_t(kStatusOK);
         }},
        {66, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 16; ++i)
                 d.mChannelMap[i] = word(r, 4 + 4 * i);
             return uint32_t(kStatusOK);
         }},
        {67, kBoth, [](SimDevice& d, Record& r, Answer&) {
             setWord(r, 4, 1);
             setWord(r, 8, uint32_t(d.number()));
             return uint32_t(kStatusOK);
         }},
        {68, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             uint32_t id = word(r, 4);
             if (id >= d.mConfigs.size())
                 return uint32_t(kStatusBadArgument);
             d.mCurrentConfig = id;
             for (size_t i = 0; i < 16; ++i)
                 d.mChannelMap[i] = word(r, 24 + 4 * i);
             for (size_t i = 0; i < 5; ++i)
                 setWord(r, 4 + 4 * i, d.mConfigs[id].words[i]);
             return uint32_t(kStatusOK);
         }},
        {69, kBoth, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 5; ++i)
                 setWord(r, 4 + 4 * i, d.mConfigs[d.mCurrentConfig].words[i]);
             for (size_t i = 0; i < 16; ++i)
                 setWord(r, 24 + 4 * i, d.mChannelMap[i]);
             return uint32_t(kStatusOK);
         }},
        {70, kHalvorne, [](SimDevice& d, Record& r, Answer&) { memcpy(&r[4], d.mName.data(), 32); return uint32_t(kStatusOK); }},
        {71, kHalvorne, [](SimDevice& d, Record& r, Answer&) { memcpy(d.mName.data(), &r[4], 32); return uint32_t(kStatusOK); }},
        {72, kHalvorne, [](SimDevice& d, Record& r, Answer&) {
             for (size_t i = 0; i < 32; ++i)
                 setWord(r, 4 + 4 * i, d.mInLevels[i]);
             return uint32_t(kStatusOK);
         }},
        {76, kBoth, [](SimDevice&, Record&, Answer& a) { a.reenumerate = true; return uint32_t(kStatusOK); }},
    };
    for (const Row& row : rows)
        if (row.code == code)
            return &row;
    return nullptr;
}

const char* serviceClassOf(DeviceKind kind)
{
    return kind == DeviceKind::QM7 ? "NVKernelDeviceVESKQM7" : "NVKernelDeviceHalvorneTessel9";
}

SimDevice::SimDevice(int number, const DeviceOptions& options)
    : mNumber(number), mOptions(options), mRunning(options.firmware), mFlash(makePayload(options.firmware))
{
    mConfigs = {{Config{{0, 2, 0, 2, 48000}}, Config{{1, 4, 1, 4, 48000}}, Config{{2, 8, 2, 8, 96000}}}};
    mChannelMap.fill(0xFF);
    mChannelMap[0] = 0;
    mChannelMap[1] = 1;
    mChannelMap[9] = 5; // outputs: entries 8 and 10 unused, the two channels land on 9 and 11
    mChannelMap[11] = 7;
    for (size_t i = 0; i < 32; ++i) {
        mInLevels[i] = 0x1000 + uint32_t(i);
        mOutLevels[i] = 0x2000 + uint32_t(i);
    }
    for (size_t i = 0; i < mRoutingIn.size(); ++i) {
        mRoutingIn[i] = int32_t(i);
        mRoutingOut[i] = int32_t(i) + 100;
    }
    snprintf(mName.data(), mName.size(), "Tessel9 #%d", number);
}

uint32_t SimDevice::driverWord() const
{
    // Bytes (low to high) build 0, stage 4 (release), revision 5, major and minor as nibbles.
    uint8_t top = uint8_t((mOptions.driverMajor & 0x0F) << 4 | 1);
    return uint32_t(top) << 24 | 5u << 16 | 4u << 8;
}

Answer SimDevice::call(const uint8_t* input, size_t size)
{
    Answer answer;
    if (size != kRecordSize) {
        answer.status = kStatusBadArgument;
        answer.length = 0;
        return answer;
    }
    memcpy(answer.record.data(), input, kRecordSize);
    uint32_t code = word(answer.record, 0);
    auto matches = [code](int faultCode) { return faultCode == kAnyCode || (faultCode >= 0 && uint32_t(faultCode) == code); };
    if (matches(mFaults.stallCode)) {
        answer.action = Answer::kStall;
        return answer;
    }
    if (matches(mFaults.closeCode)) {
        answer.action = Answer::kClose;
        return answer;
    }
    const CodeTable::Row* row = CodeTable::find(code);
    unsigned kind = mOptions.kind == DeviceKind::QM7 ? kQM7 : kHalvorne;
    if (mFaults.failCodes.count(code))
        answer.status = kStatusDevice;
    else if (!row || !(row->kinds & kind))
        answer.status = kStatusUnsupported;
    else
        answer.status = row->handler(*this, answer.record, answer);
    if (answer.status != kStatusOK)
        answer.length = 0;
    else if (matches(mFaults.shortCode))
        answer.length = mFaults.shortLength;
    return answer;
}

uint32_t SimDevice::controlRequest(Record& r, Answer& answer)
{
    // A driver of major 1 reads layout A, but the version request always comes in layout B:
    // a record whose A header does not check out is read as B.
    auto headerChecks = [&r](const Layout& l) {
        return word(r, l.level) == kLevelVendor && word(r, l.recipient) == kRecipientDevice;
    };
    const Layout& L = (mOptions.driverMajor == 1 && headerChecks(kLayoutA)) ? kLayoutA : kLayoutB;
    uint32_t direction = word(r, L.direction);
    uint32_t length = word(r, L.length);
    uint16_t index = get16(&r[L.index]);
    uint8_t request = r[L.request];
    if (word(r, L.level) != kLevelVendor || word(r, L.recipient) != kRecipientDevice || length > L.capacity)
        return kStatusBadArgument;
    if (direction != kDirectionIn && direction != 0)
        return kStatusBadArgument;
    bool in = direction == kDirectionIn;
    uint8_t* data = &r[L.data];
    switch (request) {
    case kRequestPage: {
        if (!mPrepared)
            return kStatusDevice;
        if (length != kPageSize || index >= kPageCount)
            return kStatusBadArgument;
        uint8_t* page = &mFlash[size_t(index) * kPageSize];
        if (in) {
            if (mFaults.readFailPage == index)
                return kStatusDevice;
            memcpy(data, page, kPageSize);
            if (mFaults.corruptPage == index)
                data[mFaults.corruptOffset] ^= 0xFF;
        } else {
            if (mFaults.writeFailPage == index)
                return kStatusDevice;
            memcpy(page, data, kPageSize);
        }
        setWord(r, L.length, kPageSize);
        return kStatusOK;
    }
    case kRequestVersion: {
        if (!in || length < 3)
            return kStatusBadArgument;
        data[0] = uint8_t(mRunning.kernel);
        data[1] = mRunning.major;
        data[2] = uint8_t(mRunning.revision * 10 + mRunning.stage);
        setWord(r, L.length, 3);
        return kStatusOK;
    }
    case kRequestReplug:
        if (in)
            return kStatusBadArgument;
        answer.reenumerate = true;
        setWord(r, L.length, 0);
        return kStatusOK;
    default:
        return kStatusUnsupported;
    }
}

void SimDevice::boot()
{
    mPrepared = false;
    FirmwareVersion written;
    if (mFaults.replugVersionSet) {
        mRunning = mFaults.replugVersion;
        mFaults.replugVersionSet = false;
    } else if (readDescriptor(mFlash.data(), mFlash.size(), &written)) {
        mRunning = written;
    }
    // Pages that do not check out leave the old firmware running.
}

plist_t SimDevice::properties() const
{
    plist_t dict = plist_new_dict();
    if (mOptions.publishIds) {
        plist_dict_set_item(dict, "idVendor", plist_new_uint(mOptions.vendorId));
        plist_dict_set_item(dict, "idProduct", plist_new_uint(mOptions.productId));
    }
    plist_dict_set_item(dict, "NVDeviceNumber", plist_new_uint(uint64_t(mNumber)));
    plist_dict_set_item(dict, "USB Product Name",
                        plist_new_string(mOptions.kind == DeviceKind::QM7 ? "VESK:QM7" : "Tessel9"));
    if (mOptions.kind == DeviceKind::Halvorne) {
        uint8_t uid[8];
        for (int i = 0; i < 8; ++i)
            uid[i] = uint8_t(mOptions.uid >> (8 * i));
        plist_dict_set_item(dict, "HalvorneUID", plist_new_data(reinterpret_cast<const char*>(uid), sizeof uid));
        plist_t ext = plist_new_dict();
        for (size_t i = 0; i < mRoutingIn.size(); ++i) {
            plist_dict_set_item(ext, ("RoutingIn" + std::to_string(i)).c_str(), plist_new_uint(uint64_t(int64_t(mRoutingIn[i]))));
            plist_dict_set_item(ext, ("RoutingOut" + std::to_string(i)).c_str(), plist_new_uint(uint64_t(int64_t(mRoutingOut[i]))));
        }
        plist_dict_set_item(dict, "ZrExtData", ext);
    }
    return dict;
}

std::string SimDevice::describe() const
{
    char text[160];
    snprintf(text, sizeof text, "%s fw %s driver-major %u vendor 0x%04x product 0x%04x%s", mOptions.kind == DeviceKind::QM7 ? "qm7" : "halvorne",
             versionText(mRunning).c_str(), unsigned(mOptions.driverMajor), unsigned(mOptions.vendorId),
             unsigned(mOptions.productId), mPrepared ? " prepared" : "");
    return text;
}

bool parseDeviceOptions(DeviceKind kind, const std::string* args, size_t count, DeviceOptions* options, std::string* error)
{
    DeviceOptions o;
    o.kind = kind;
    if (kind == DeviceKind::QM7) {
        o.vendorId = kMakerVendorId;
        o.productId = kUpdaterProductId;
        o.extra = "QM7 sim";
    } else {
        o.vendorId = kHalvorneVendorId;
        o.productId = 3;
        o.extra = "Tessel9 sim";
        o.firmware.kernel = 'H';
        o.uid = 0x4E564B0000000000ull;
    }
    for (size_t i = 0; i < count; ++i) {
        const std::string& name = args[i];
        const std::string* value = i + 1 < count ? &args[i + 1] : nullptr;
        long number = 0;
        auto needs = [&](bool ok) {
            if (!ok)
                *error = "bad or missing value for " + name;
            return ok;
        };
        if (name == "--fw") {
            if (!needs(value && parseVersion(*value, &o.firmware)))
                return false;
            ++i;
        } else if (name == "--kernel") {
            if (!needs(value && value->size() == 1))
                return false;
            o.firmware.kernel = (*value)[0];
            ++i;
        } else if (name == "--driver-major") {
            if (!needs(value && parseNumber(*value, 1, 15, &number)))
                return false;
            o.driverMajor = uint8_t(number);
            ++i;
        } else if (name == "--vendor" || name == "--product") {
            if (!needs(value && parseNumber(*value, 0, 0xFFFF, &number)))
                return false;
            (name == "--vendor" ? o.vendorId : o.productId) = uint16_t(number);
            ++i;
        } else if (name == "--uid") {
            if (!needs(value && !value->empty()))
                return false;
            char* end = nullptr;
            errno = 0;
            unsigned long long uid = strtoull(value->c_str(), &end, 0);
            if (!needs(!errno && !*end))
                return false;
            o.uid = uid;
            ++i;
        } else if (name == "--extra") {
            if (!needs(value && value->size() < 16))
                return false;
            o.extra = *value;
            ++i;
        } else if (name == "--fw-word-zero") {
            o.firmwareWordZero = true;
        } else if (name == "--no-ids") {
            o.publishIds = false;
        } else {
            *error = "unknown option " + name;
            return false;
        }
    }
    *options = o;
    return true;
}

bool applyFault(const std::string* args, size_t count, Faults* faults, std::string* error)
{
    if (count == 0) {
        *error = "fault needs a name";
        return false;
    }
    const std::string& name = args[0];
    long a = 0, b = 0;
    auto arg = [&](size_t i, long min, long max, long fallback, long* out) {
        if (i >= count) {
            *out = fallback;
            return fallback >= min;
        }
        return parseNumber(args[i], min, max, out);
    };
    auto code = [&](size_t i, int* out) {
        if (i >= count || args[i] == "all") {
            *out = kAnyCode;
            return true;
        }
        long c = 0;
        if (!parseNumber(args[i], 0, 0xFFFFFFFFL, &c))
            return false;
        *out = int(c);
        return true;
    };
    bool ok = true;
    if (name == "clear") {
        *faults = Faults();
    } else if (name == "prepare-refused") {
        faults->prepareRefused = true;
    } else if (name == "write-fail" && (ok = arg(1, 0, 95, -1, &a))) {
        faults->writeFailPage = int(a);
    } else if (name == "read-fail" && (ok = arg(1, 0, 95, -1, &a))) {
        faults->readFailPage = int(a);
    } else if (name == "corrupt-read" && (ok = arg(1, 0, 95, -1, &a) && arg(2, 0, 63, 0, &b))) {
        faults->corruptPage = int(a);
        faults->corruptOffset = int(b);
    } else if (name == "no-return") {
        faults->noReturn = true;
    } else if (name == "drop-again" && (ok = arg(1, 0, 60000, 500, &a) && arg(2, 0, 60000, 500, &b))) {
        faults->dropAgainMs = int(a);
        faults->dropBackMs = int(b);
    } else if (name == "version-after-replug") {
        faults->replugVersion.kernel = 'A';
        ok = count > 1 && parseVersion(args[1], &faults->replugVersion);
        faults->replugVersionSet = ok;
    } else if (name == "short-answer" && (ok = code(1, &faults->shortCode) && arg(2, 0, kRecordSize - 1, 100, &a))) {
        faults->shortLength = uint32_t(a);
    } else if (name == "stall") {
        ok = code(1, &faults->stallCode);
    } else if (name == "close") {
        ok = code(1, &faults->closeCode);
    } else if (name == "fail" && (ok = arg(1, 0, 0xFFFFFFFFL, -1, &a))) {
        faults->failCodes.insert(uint32_t(a));
    } else if (ok) {
        *error = "unknown fault " + name;
        return false;
    }
    if (!ok)
        *error = "bad or missing argument for fault " + name;
    return ok;
}

} // namespace nvk
