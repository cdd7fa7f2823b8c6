// The device operations: the bytes each one sends, what it makes of the answer, and its
// failure result on a closed handle, a short answer and a failed call.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fake_driver.h"
#include "nxids.h"

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> list)
{
    std::vector<uint8_t> out;
    for (uint32_t w : list)
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(w >> (8 * i)));
    return out;
}

std::vector<uint8_t> halves(std::initializer_list<uint16_t> list)
{
    std::vector<uint8_t> out;
    for (uint16_t h : list) out.insert(out.end(), {uint8_t(h), uint8_t(h >> 8)});
    return out;
}

struct Row {
    const char* name;
    std::function<long(USBDevice&)> call;
    uint32_t code;
    std::vector<uint8_t> sent;     // expected payload from offset 4
    bool checked;                  // a short answer fails it
    std::vector<uint8_t> answer;   // payload the driver answers with
    long success, failure;
};

NX_DeviceConfiguration gConfig;
NX_Halvorne_ChannelMap gMap;
NX_Halvorne_ConfigAndMap gConfigAndMap;
NX_DigitalStatus gStatus;
NX_LevelInfo gLevelInfo;
char gName[32];

const std::vector<Row>& rows()
{
    static const std::vector<Row> table = {
        {"getDigitalOutSelector", [](USBDevice& d) { return d.getDigitalOutSelector(); }, 2, {},
         true, words({9}), 9, -1},
        {"getDigitalOutSelector negative", [](USBDevice& d) { return d.getDigitalOutSelector(); },
         2, {}, true, words({0xFFFFFFFE}), -2, -1},
        {"setDigitalOutSelector", [](USBDevice& d) { return long(d.setDigitalOutSelector(5)); },
         3, words({5}), false, {}, 1, 0},
        {"getQelCpldMixOutSel", [](USBDevice& d) { return long(d.getQelCpldMixOutSel()); }, 4,
         {0}, false, {0x08}, 1, 0},
        {"getQelCpldDigitalMon", [](USBDevice& d) { return long(d.getQelCpldDigitalMon()); }, 4,
         {0}, false, {0x08}, 0, 0},
        {"getCountConfigurations", [](USBDevice& d) { return long(d.getCountConfigurations()); },
         6, {}, true, words({3}), 3, 0},
        {"getConfiguration",
         [](USBDevice& d) { return long(d.getConfiguration(2, gConfig)); }, 7, words({2}), true,
         words({1, 2, 3, 4, 5}), 1, 0},
        {"getCurrentConfiguration",
         [](USBDevice& d) { return long(d.getCurrentConfiguration(gConfig)); }, 8, {}, true,
         words({1, 2, 3, 4, 5}), 1, 0},
        {"setConfiguration",
         [](USBDevice& d) {
             return long(d.setConfiguration(NX_DeviceConfiguration{{6, 7, 8, 9, 10}}, gConfig));
         },
         9, words({6, 7, 8, 9, 10}), true, words({6, 7, 8, 9, 10}), 1, 0},
        {"getCountBufferSizes", [](USBDevice& d) { return long(d.getCountBufferSizes()); }, 10,
         {}, true, words({4}), 4, 0},
        {"getBufferSize", [](USBDevice& d) { return long(d.getBufferSize(1)); }, 11, words({1}),
         true, words({256}), 256, 0},
        {"getCurrentBufferSize", [](USBDevice& d) { return long(d.getCurrentBufferSize()); }, 12,
         {}, true, words({128}), 128, 0},
        {"setBufferSize", [](USBDevice& d) { return long(d.setBufferSize(512)); },
         kNxCodeSetBufferSize, words({512}), true, words({512}), 512, 0},
        {"canClockSource 1",
         [](USBDevice& d) { return long(d.canClockSource(NXE_ClockSource(2))); }, 14, words({2}),
         true, words({1}), 1, 0},
        {"canClockSource 2",
         [](USBDevice& d) { return long(d.canClockSource(NXE_ClockSource(2))); }, 14, words({2}),
         true, words({2}), 0, 0},
        {"getCurrentClockSource", [](USBDevice& d) { return d.getCurrentClockSource(); }, 15, {},
         true, words({1}), 1, -1},
        {"setClockSource", [](USBDevice& d) { return d.setClockSource(NXE_ClockSource(3)); }, 16,
         words({3}), true, words({3}), 3, -1},
        {"getDigitalStatus", [](USBDevice& d) { return long(d.getDigitalStatus(gStatus)); }, 17,
         words({0, 0}), true, words({0x11, 0x22}), 1, 0},
        {"getUSB1Mode", [](USBDevice& d) { return d.getUSB1Mode(); }, 25, {}, true, words({2}),
         2, -1},
        {"setUSB1Mode", [](USBDevice& d) { return d.setUSB1Mode(NXE_USB1Mode(1)); }, 26,
         words({1}), true, words({1}), 1, -1},
        {"getDigitalOutMode", [](USBDevice& d) { return d.getDigitalOutMode(); }, 27, {}, true,
         words({0}), 0, -1},
        {"setDigitalOutMode", [](USBDevice& d) { return d.setDigitalOutMode(NXE_DigitalOutMode(4)); },
         28, words({4}), true, words({4}), 4, -1},
        {"prepareFirmwareUpdate", [](USBDevice& d) { return long(d.prepareFirmwareUpdate()); },
         33, {}, true, {}, 1, 0},
        {"readLevelInfo", [](USBDevice& d) { return long(d.readLevelInfo(gLevelInfo)); }, 35, {},
         true, std::vector<uint8_t>(64, 7), 1, 0},
        {"resumeStreaming", [](USBDevice& d) { return long(d.resumeStreaming()); }, 37, {}, true,
         {}, 1, 0},
        {"suspendStreaming", [](USBDevice& d) { return long(d.suspendStreaming()); }, 38, {},
         true, words({6}), 1, 0},
        {"suspendStreaming zero", [](USBDevice& d) { return long(d.suspendStreaming()); }, 38, {},
         true, words({0}), 0, 0},
        {"getConfigStatus", [](USBDevice& d) { return long(d.getConfigStatus()); },
         kNxCodeGetConfigStatus, {}, true, words({0x33}), 0x33, 0},
        {"setRouting", [](USBDevice& d) { return long(d.setRouting(true, 11, 12)); }, 40,
         words({1, 11, 12}), true, words({1, 11, 21}), 21, 11},
        {"getWMRegister", [](USBDevice& d) { return long(d.getWMRegister(0x101, 0x202)); }, 41,
         halves({0x101, 0x202, 0}), true, halves({0x101, 0x202, 0xBEEF}), 0xBEEF, 0},
        {"setWMRegister", [](USBDevice& d) { return long(d.setWMRegister(1, 2, 3)); }, 42,
         halves({1, 2, 3}), true, halves({1, 2, 4}), 4, 0},
        {"getChannelMap", [](USBDevice& d) { return long(d.getChannelMap(gMap)); }, 65, {}, true,
         std::vector<uint8_t>(64, 2), 1, 0},
        {"setChannelMap", [](USBDevice& d) { return long(d.setChannelMap(NX_Halvorne_ChannelMap{{1, 2}})); },
         66, words({1, 2, 0}), false, {}, 1, 0},
        {"getConfigurationAndChannelMap",
         [](USBDevice& d) { return long(d.getConfigurationAndChannelMap(gConfigAndMap)); }, 69,
         {}, true, std::vector<uint8_t>(84, 3), 1, 0},
        {"setConfigurationAndChannelMap",
         [](USBDevice& d) {
             return long(d.setConfigurationAndChannelMap(NX_Halvorne_ConfigAndMap{{{1}}, {{2}}},
                                                         gConfigAndMap));
         },
         68, words({1, 0, 0, 0, 0, 2}), true, std::vector<uint8_t>(84, 4), 1, 0},
        {"getHalvorneDeviceName", [](USBDevice& d) { return long(d.getHalvorneDeviceName(gName)); },
         70, {}, false, {'U', 'n', 'i', 't'}, 1, 0},
        {"setHalvorneDeviceName",
         [](USBDevice& d) {
             static const char name[32] = "Studio";
             return long(d.setHalvorneDeviceName(name));
         },
         71, {'S', 't', 'u', 'd', 'i', 'o', 0}, false, {}, 1, 0},
        {"reenumerateDevice", [](USBDevice& d) { return long(d.reenumerateDevice()); }, 76, {},
         false, {}, 0, 0},
        {"replugDevice", [](USBDevice& d) { return long(d.replugDevice(true)); }, 34, {}, true,
         {}, 1, 0},
        {"getDeviceDescriptor",
         [](USBDevice& d) {
             NX_DeviceDescriptor descriptor;
             return long(d.getDeviceDescriptor(descriptor));
         },
         21, {}, true, {}, 1, 0},
        {"sendCPortBytes",
         [](USBDevice& d) {
             static const unsigned char bytes[] = {9, 8, 7};
             return long(d.sendCPortBytes(3, bytes));
         },
         36, {3, 9, 8, 7}, false, {}, 1, 0},
    };
    return table;
}

} // namespace

TEST(Catalogue, EachOperationSendsItsRecordAndReadsItsAnswer)
{
    for (const Row& row : rows()) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(row.code, row.answer);
        EXPECT_EQ(row.call(*d), row.success) << row.name;
        ASSERT_EQ(driver.mSent.size(), 1u) << row.name;
        const NX_Dispatch& r = driver.mSent[0];
        EXPECT_EQ(r.mCode, row.code) << row.name;
        EXPECT_EQ(std::vector<uint8_t>(r.mPayload, r.mPayload + row.sent.size()), row.sent)
            << row.name;
    }
}

TEST(Catalogue, EachOperationFailsWithItsFailureResult)
{
    for (const Row& row : rows()) {
        FakeDriver driver;
        Device d(driver.openDevice());
        const bool inverted = row.code == 76;
        // The structure call fails.
        driver.answer(row.code, row.answer, {-1, 260});
        EXPECT_EQ(row.call(*d), inverted ? 1 : row.failure) << row.name;
        // The answer is short: only the checked operations fail.
        driver.answer(row.code, row.answer, {0, 100});
        EXPECT_EQ(row.call(*d), row.checked ? row.failure : row.success) << row.name;
        // Closed: the failure result, and nothing sent.
        d->close();
        driver.mSent.clear();
        EXPECT_EQ(row.call(*d), row.failure) << row.name;
        EXPECT_TRUE(driver.mSent.empty()) << row.name;
    }
}

TEST(Catalogue, FailedReadsLeaveOutputsAsTheirRowSays)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    for (uint32_t code : {7u, 35u, 70u, 69u}) driver.fail(code);
    NX_DeviceConfiguration config = {{1, 2, 3, 4, 5}};
    EXPECT_FALSE(d->getConfiguration(0, config));
    EXPECT_EQ(config.mWord[4], 5u);   // untouched
    NX_LevelInfo info;
    std::memset(&info, 0x77, sizeof info);
    EXPECT_FALSE(d->readLevelInfo(info));
    for (uint8_t b : info.mBytes) ASSERT_EQ(b, 0);   // zeroed
    char name[32] = "Old name";
    EXPECT_FALSE(d->getHalvorneDeviceName(name));
    EXPECT_EQ(name[0], 0);   // empty text
    EXPECT_STREQ(name + 1, "ld name");
}

TEST(Catalogue, ConfigAndMapCacheFollowsOnlySuccessfulSets)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    std::vector<uint8_t> answer = words({1, 2, 3, 4, 5});
    for (uint32_t i = 0; i < 16; ++i) {
        auto w = words({0x100 + i});
        answer.insert(answer.end(), w.begin(), w.end());
    }
    driver.answer(68, answer);
    NX_Halvorne_ConfigAndMap value{}, out{};
    ASSERT_TRUE(d->setConfigurationAndChannelMap(value, out));
    EXPECT_EQ(out.mMap.mEntry[15], 0x10Fu);
    EXPECT_EQ(std::memcmp(&d->getConfigAndMap(), &out, sizeof out), 0);

    driver.fail(68, {0, 100});
    NX_Halvorne_ConfigAndMap untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_FALSE(d->setConfigurationAndChannelMap(value, untouched));
    EXPECT_EQ(untouched.mMap.mEntry[0], 0x5A5A5A5Au);
    EXPECT_EQ(d->getConfigAndMap().mMap.mEntry[15], 0x10Fu);

    // setConfiguration and setChannelMap leave the cache alone.
    NX_DeviceConfiguration config;
    d->setConfiguration(NX_DeviceConfiguration{}, config);
    d->setChannelMap(NX_Halvorne_ChannelMap{});
    EXPECT_EQ(d->getConfigAndMap().mMap.mEntry[15], 0x10Fu);
}

TEST(Catalogue, ControlPortBytesGoInChunksOf255)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    std::vector<unsigned char> bytes(600);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
    ASSERT_TRUE(d->sendCPortBytes(bytes.size(), bytes.data()));
    ASSERT_EQ(driver.codes(), (std::vector<uint32_t>{36, 36, 36}));
    size_t offset = 0;
    for (size_t i = 0; i < 3; ++i) {
        const NX_Dispatch& r = driver.mSent[i];
        const size_t length = i < 2 ? 255 : 90;
        EXPECT_EQ(r.mPayload[0], length);
        EXPECT_EQ(std::memcmp(r.mPayload + 1, bytes.data() + offset, length), 0);
        offset += length;
    }

    driver.mSent.clear();   // nothing to send succeeds without a record
    EXPECT_TRUE(d->sendCPortBytes(0, bytes.data()));
    EXPECT_TRUE(d->sendCPortBytes(10, nullptr));
    EXPECT_TRUE(driver.mSent.empty());

    int calls = 0;   // a failed chunk ends the transfer
    driver.on(36, [&](NX_Dispatch&) { return FakeAnswer{++calls == 2 ? -1 : 0, 260}; });
    EXPECT_FALSE(d->sendCPortBytes(bytes.size(), bytes.data()));
    EXPECT_EQ(driver.mSent.size(), 2u);

    EXPECT_FALSE(USBDevice::sendCPortBytesStatic(nullptr, bytes.data(), 3));
    driver.on(36, [](NX_Dispatch&) { return FakeAnswer{}; });
    EXPECT_TRUE(USBDevice::sendCPortBytesStatic(d.get(), bytes.data(), 3));
}

TEST(Catalogue, CpldBitsAreReadThenWrittenBack)
{
    struct Case {
        bool mixOut, on;
        uint8_t read, written;
    } cases[] = {
        {false, false, 0x1C, 0x0C}, {false, true, 0x00, 0x10}, {true, true, 0x10, 0x18},
        {true, false, 0xFF, 0xF7},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(4, {c.read, 0xAB});
        EXPECT_TRUE(c.mixOut ? d->setQelCpldMixOutSel(c.on) : d->setQelCpldDigitalMon(c.on));
        ASSERT_EQ(driver.codes(), (std::vector<uint32_t>{4, 5}));
        EXPECT_EQ(driver.mSent[0].mPayload[0], 0);
        EXPECT_EQ(driver.mSent[1].mPayload[0], c.written);
        EXPECT_EQ(driver.mSent[1].mPayload[1], 0xAB);   // the rest as read
    }
    FakeDriver driver;
    Device d(driver.openDevice());
    driver.fail(4);
    EXPECT_FALSE(d->setQelCpldDigitalMon(true));
    EXPECT_EQ(driver.codes(), std::vector<uint32_t>{4});   // no write after a failed read
}

TEST(Catalogue, LevelsOfOtherVendorsAreCopiedWhole)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    std::vector<uint8_t> answer;
    for (uint32_t i = 0; i < 32; ++i) {
        auto w = words({1000 + i});
        answer.insert(answer.end(), w.begin(), w.end());
    }
    driver.answer(72, answer);
    driver.answer(49, answer);
    unsigned long levels[32] = {};
    ASSERT_TRUE(d->getInLevels(levels));
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(levels[i], 1000 + i);
    NX_LevelInfo32 both{};
    EXPECT_TRUE(d->readLevelInfoEx(both));
    EXPECT_EQ(both.mIn[31], 1031u);
    EXPECT_EQ(both.mOut[0], 1000u);

    driver.fail(72, {0, 20});
    unsigned long untouched[32];
    std::fill(std::begin(untouched), std::end(untouched), 9ul);
    EXPECT_FALSE(d->getInLevels(untouched));
    EXPECT_EQ(untouched[0], 9u);
}

TEST(Catalogue, HalvorneLevelsFollowTheChannelMap)
{
    const uint32_t X = 0xFF;   // unused slot
    struct Case {
        const char* name;
        bool input;
        uint16_t product;
        uint32_t channels;
        std::vector<uint32_t> map;             // 16 entries
        std::vector<unsigned long> expected;   // the first 16 level entries
        unsigned long untouched;               // value expected at entry 20
    } cases[] = {
        {"outputs skip unused slots", false, 3, 2, {0, 0, 0, 0, 0, 0, 0, 0, X, 5, X, 7, 0, 0, 0, 0},
         {0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"outputs stop at six slots", false, 3, 9, std::vector<uint32_t>(16, 0),
         {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"inputs keep entries past 8", true, 3, 9, std::vector<uint32_t>(16, 0),
         {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99, 99, 99, 99, 99}, 99},
        {"inputs low byte only", true, 3, 2, {0x1FF, 0xFF00, X, X, X, X, X, X, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 1, 0, 0, 0, 0, 0, 0, 99, 99, 99, 99, 99, 99, 99, 99}, 99},
        // Product 8: input slots 8 and 9 are output entries 0 and 1 of the map.
        {"wide inputs reach into the output entries", true, 8, 10,
         {0, 0, 0, 0, 0, 0, 0, 0, X, 0, 0, 0, 0, 0, 0, 0},
         {1, 2, 3, 4, 5, 6, 7, 8, 99, 9, 99, 99, 99, 99, 99, 99}, 99},
        // Product 8: output slots 8 to 11 lie past the map and count as unused.
        {"wide outputs stay inside the map", false, 8, 12, std::vector<uint32_t>(16, 0),
         {1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        NxDeviceInspector::setIds(*d, kHalvorneVendorId, c.product);
        NX_Halvorne_ConfigAndMap cache{};
        cache.mConfig.mWord[c.input ? 1 : 3] = c.channels;
        for (size_t i = 0; i < 16; ++i) cache.mMap.mEntry[i] = c.map[i];
        NxDeviceInspector::setConfigAndMap(*d, cache);
        std::vector<uint8_t> answer;
        for (uint32_t i = 1; i <= 32; ++i) {
            auto w = words({i});
            answer.insert(answer.end(), w.begin(), w.end());
        }
        driver.answer(c.input ? 72 : 49, answer);
        unsigned long levels[32];
        std::fill(std::begin(levels), std::end(levels), 99ul);
        ASSERT_TRUE(c.input ? d->getInLevels(levels) : d->getOutLevels(levels)) << c.name;
        EXPECT_EQ(std::vector<unsigned long>(levels, levels + 16), c.expected) << c.name;
        EXPECT_EQ(levels[20], c.untouched) << c.name;
    }
}

TEST(Catalogue, RoutingReadsTheRegistry)
{
    FakeDriver driver;
    plist_t props = plist_new_dict();
    plist_t ext = plist_new_dict();
    plist_dict_set_item(ext, "RoutingIn3", plist_new_uint(5));
    plist_dict_set_item(ext, "RoutingOut0", plist_new_uint(uint64_t(int64_t(-4))));
    plist_dict_set_item(props, "ZrExtData", ext);
    Device d(driver.openDevice(0x21, props));
    d->close();   // works on a closed handle
    struct Case {
        bool input;
        int index;
        int value;
        const char* line;
    } cases[] = {
        {true, 3, 5, "getRouting RoutingIn3 returns: 5\n"},
        {false, 0, -4, "getRouting RoutingOut0 returns: -4\n"},
        {true, 4, -1, "getRouting RoutingIn4 returns: -1\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(d->getRouting(c.input, c.index), c.value);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    }
    EXPECT_TRUE(driver.mSent.empty());

    plist_dict_remove_item(driver.mProperties, "ZrExtData");
    testing::internal::CaptureStdout();
    EXPECT_EQ(d->getRouting(true, 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error No ZrExtData\n");

    driver.mPropertiesStatus = 0x2c7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(d->getRouting(true, 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error 2c7\n");
}

TEST(Catalogue, OperationsWithoutADriverCall)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    NX_LevelInfoExtended1 extended;
    EXPECT_TRUE(d->levelInfoExAttach());
    EXPECT_TRUE(d->levelInfoExDetach());
    EXPECT_TRUE(d->readLevelInfoExtended1(extended));
    EXPECT_FALSE(d->writeZRData(nullptr, 4));
    // Without a caller's buffer nothing is sent.
    EXPECT_FALSE(d->getHalvorneDeviceName(nullptr));
    EXPECT_FALSE(d->setHalvorneDeviceName(nullptr));
    EXPECT_FALSE(d->getInLevels(nullptr));
    EXPECT_FALSE(d->getOutLevels(nullptr));
    EXPECT_TRUE(driver.mSent.empty());
}

TEST(Catalogue, DescriptorCarriesTheIds)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    driver.answer(21, {18, 1, 0, 2, 0, 0, 0x09, 0x12, 0x01, 0x00, 1, 2, 3, 4, 5, 6});
    NX_DeviceDescriptor descriptor;
    ASSERT_TRUE(d->getDeviceDescriptor(descriptor));
    EXPECT_EQ(descriptor.vendorID(), 0x1209);
    EXPECT_EQ(descriptor.productID(), 0x0001);
    d->close();
    NX_DeviceDescriptor untouched;
    std::memset(&untouched, 0x42, sizeof untouched);
    EXPECT_FALSE(d->getDeviceDescriptor(untouched));
    EXPECT_EQ(untouched.mBytes[0], 0x42);
}
