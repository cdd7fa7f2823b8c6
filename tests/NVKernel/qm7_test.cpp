#include "device_client.h"
#include "nvk_image.h"

#include <string>

namespace {

struct CodeCase {
    uint32_t code;
    NVDSStatus status;
    size_t offset; // where the answer is checked
    std::vector<uint8_t> expected;
};

TEST(SimulatedQM7, AnswersTheDriverAndFirmwareCodes)
{
    NVKernelFixture kernel;
    DeviceClient qm7(kernel, kernel.plugQM7());
    const CodeCase cases[] = {
        {18, kNVDSSuccess, 4, {'V', 'E', 'S', 'K', ':', 'Q', 'M', '7'}},
        {19, kNVDSSuccess, 4, {'N', 'V', 'K', '-', '0', '0', '0', '1', 0}},
        {20, kNVDSSuccess, 4, {1, 0, 0, 0}},
        {21, kNVDSSuccess, 4 + 6, {0x09, 0x12, 0x01, 0x00}}, // vendor and product id
        {22, kNVDSSuccess, 4, {0x00, 0x04, 0x05, 0x21}},     // driver 2.1.5
        {23, kNVDSSuccess, 4, {'A', 0, 4, 1}},               // firmware 1.4.0, kernel tag A
        {24, kNVDSSuccess, 4, {'Q', 'M', '7', ' ', 's', 'i', 'm', 0}},
        {48, kNVDSSuccess, 4, {1, 0, 0, 0}},
        {67, kNVDSSuccess, 4, {1, 0, 0, 0, 1, 0, 0, 0}},
        {69, kNVDSSuccess, 4, {0, 0, 0, 0, 2, 0, 0, 0}},
        {2, kNVDSErrorUnsupported, 0, {}},  // a Halvorne code
        {300, kNVDSErrorUnsupported, 0, {}},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        Record answer;
        ASSERT_EQ(qm7.call(c.code, &answer), c.status);
        if (c.status != kNVDSSuccess)
            continue;
        EXPECT_EQ(answer.length, 260u);
        EXPECT_EQ(std::vector<uint8_t>(&answer.bytes[c.offset], &answer.bytes[c.offset + c.expected.size()]), c.expected);
    }
}

TEST(SimulatedQM7, PlugOptionsShapeTheAnswers)
{
    NVKernelFixture kernel;
    DeviceClient qm7(kernel, kernel.plugQM7("--fw 2.3.4 --kernel U --driver-major 1 --product 0x0002 --fw-word-zero --extra hello"));
    Record answer;
    ASSERT_EQ(qm7.call(22, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.bytes[7], 0x11); // major 1 with minor 1
    ASSERT_EQ(qm7.call(23, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.word(4), 0u); // the client must ask the device with request 0x56
    ASSERT_EQ(qm7.call(21, &answer), kNVDSSuccess);
    EXPECT_EQ(nvk::get16(&answer.bytes[12]), 0x0002);
    ASSERT_EQ(qm7.call(24, &answer), kNVDSSuccess);
    EXPECT_STREQ(reinterpret_cast<const char*>(&answer.bytes[4]), "hello");

    EXPECT_EQ(kernel.plugQM7("--fw 1.4"), -1);
    EXPECT_EQ(kernel.plugQM7("--driver-major 0"), -1);
    EXPECT_EQ(kernel.plugQM7("--bogus"), -1);
    EXPECT_NE(kernel.lastReply().find("unknown option --bogus"), std::string::npos);
}

struct LayoutCase {
    const char* options;
    bool layoutA;
};

class ControlLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ControlLayouts, VersionRequestAndPagesGoThroughTheDriversLayout)
{
    NVKernelFixture kernel;
    DeviceClient qm7(kernel, kernel.plugQM7(GetParam().options));
    bool a = GetParam().layoutA;

    ControlRequest version{a, 0x56, true, 0, 3};
    Record r = version.record();
    ASSERT_EQ(qm7.call(r), kNVDSSuccess);
    EXPECT_EQ(r.word(version.lengthOffset()), 3u);
    EXPECT_EQ(r.bytes[version.dataOffset()], 'A');       // c0: kernel tag
    EXPECT_EQ(r.bytes[version.dataOffset() + 1], 1);     // c1: major
    EXPECT_EQ(r.bytes[version.dataOffset() + 2], 40);    // c2: revision 4, stage 0

    // A major-1 driver also reads layout B, in which the version request always comes; to a
    // later driver layout A's fields are garbage.
    Record other = ControlRequest{!a, 0x56, true, 0, 3}.record();
    if (a)
        EXPECT_EQ(qm7.call(other), kNVDSSuccess);
    else
        EXPECT_NE(qm7.call(other), kNVDSSuccess);

    uint8_t page[64];
    for (int i = 0; i < 64; ++i)
        page[i] = uint8_t(i * 3);
    Record write = ControlRequest{a, 0x55, false, 7, 64}.record(page);
    EXPECT_EQ(qm7.call(write), kNVDSErrorDevice); // not prepared
    ASSERT_EQ(qm7.call(33), kNVDSSuccess);
    write = ControlRequest{a, 0x55, false, 7, 64}.record(page);
    ASSERT_EQ(qm7.call(write), kNVDSSuccess);
    ControlRequest read{a, 0x55, true, 7, 64};
    r = read.record();
    ASSERT_EQ(qm7.call(r), kNVDSSuccess);
    EXPECT_EQ(r.word(read.lengthOffset()), 64u);
    EXPECT_EQ(memcmp(&r.bytes[read.dataOffset()], page, 64), 0);

    Record outOfRange = ControlRequest{a, 0x55, true, 96, 64}.record();
    EXPECT_EQ(qm7.call(outOfRange), kNVDSErrorBadArgument);
    Record tooLong = ControlRequest{a, 0x56, true, 0, a ? 233u : 129u}.record();
    EXPECT_EQ(qm7.call(tooLong), kNVDSErrorBadArgument);
    Record unknown = ControlRequest{a, 0x77, true, 0, 1}.record();
    EXPECT_EQ(qm7.call(unknown), kNVDSErrorUnsupported);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ControlLayouts,
                         ::testing::Values(LayoutCase{"--driver-major 1", true}, LayoutCase{"--driver-major 2", false},
                                           LayoutCase{"--driver-major 3", false}));

// Writes a payload page by page after prepare, then replugs and reads the version.
uint32_t flashAndReplug(NVKernelFixture& kernel, int device, const nvk::Payload& payload)
{
    {
        DeviceClient qm7(kernel, device);
        EXPECT_EQ(qm7.call(33), kNVDSSuccess);
        for (uint16_t n = 0; n < 96; ++n) {
            Record write = ControlRequest{false, 0x55, false, n, 64}.record(&payload[n * 64u]);
            EXPECT_EQ(qm7.call(write), kNVDSSuccess);
        }
    }
    EXPECT_TRUE(kernel.replug(device));
    DeviceClient again(kernel, device);
    Record answer;
    EXPECT_EQ(again.call(23, &answer), kNVDSSuccess);
    return answer.word(4);
}

TEST(SimulatedQM7, ReplugBootsWhatWasWrittenWhenItChecksOut)
{
    nvk::FirmwareVersion v141;
    v141.stage = 1;
    nvk::Payload good = nvk::makePayload(v141);
    nvk::Payload bad = good;
    bad[64 * 50 + 7] ^= 0x01;
    struct Case {
        const char* name;
        const nvk::Payload* payload;
        const char* fault;
        uint32_t version;
    } cases[] = {
        {"the new image", &good, nullptr, 0x01040141},
        {"one changed byte", &bad, nullptr, 0x01040041},
        {"a different version after replug", &good, "version-after-replug 2.0.0:A", 0x02000041},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NVKernelFixture kernel;
        int device = kernel.plugQM7();
        if (c.fault) {
            ASSERT_TRUE(kernel.fault(device, c.fault));
        }
        EXPECT_EQ(flashAndReplug(kernel, device, *c.payload), c.version);
    }

    // Without writing anything a replug keeps the firmware.
    NVKernelFixture kernel;
    int device = kernel.plugQM7();
    ASSERT_TRUE(kernel.replug(device));
    DeviceClient qm7(kernel, device);
    Record answer;
    ASSERT_EQ(qm7.call(23, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.word(4), 0x01040041u);
}

struct FaultCase {
    const char* fault;
    uint16_t page;
    bool in;
    NVDSStatus status;
};

TEST(SimulatedQM7, PageFaultsHitOnlyTheirPage)
{
    const FaultCase cases[] = {
        {"write-fail 17", 17, false, kNVDSErrorDevice},
        {"write-fail 17", 16, false, kNVDSSuccess},
        {"read-fail 5", 5, true, kNVDSErrorDevice},
        {"read-fail 5", 5, false, kNVDSSuccess},
        {"read-fail 5", 6, true, kNVDSSuccess},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " page " + std::to_string(c.page));
        NVKernelFixture kernel;
        int device = kernel.plugQM7();
        ASSERT_TRUE(kernel.fault(device, c.fault));
        DeviceClient qm7(kernel, device);
        ASSERT_EQ(qm7.call(33), kNVDSSuccess);
        uint8_t data[64] = {};
        Record r = ControlRequest{false, 0x55, c.in, c.page, 64}.record(data);
        EXPECT_EQ(qm7.call(r), c.status);
    }
}

TEST(SimulatedQM7, RequestFaultsShowAsTheContractSays)
{
    NVKernelFixture kernel;
    int device = kernel.plugQM7();
    DeviceClient qm7(kernel, device);

    ASSERT_TRUE(kernel.fault(device, "prepare-refused"));
    EXPECT_EQ(qm7.call(33), kNVDSErrorBusy);
    ASSERT_TRUE(kernel.fault(device, "clear"));
    ASSERT_EQ(qm7.call(33), kNVDSSuccess);

    // A read-back byte changed at page 95: the write went through, the read differs there only.
    ASSERT_TRUE(kernel.fault(device, "corrupt-read 95 3"));
    uint8_t page[64];
    memset(page, 0x5A, sizeof page);
    Record write = ControlRequest{false, 0x55, false, 95, 64}.record(page);
    ASSERT_EQ(qm7.call(write), kNVDSSuccess);
    Record read = ControlRequest{false, 0x55, true, 95, 64}.record();
    ASSERT_EQ(qm7.call(read), kNVDSSuccess);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(read.bytes[4 + i], i == 3 ? 0xA5 : 0x5A) << "byte " << i;

    ASSERT_TRUE(kernel.fault(device, "short-answer 23 100"));
    Record answer;
    ASSERT_EQ(qm7.call(23, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.length, 100u);
    ASSERT_EQ(qm7.call(24, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.length, 260u);

    ASSERT_TRUE(kernel.fault(device, "fail 41"));
    EXPECT_EQ(qm7.call(41), kNVDSErrorDevice);

    for (const char* bad : {"write-fail", "write-fail 96", "corrupt-read 1 64", "short-answer 23 260", "nonsense"})
        EXPECT_FALSE(kernel.fault(device, bad)) << bad;
}

// Polls the device's entry id until it matches the expectation.
bool plugged(NVKernelFixture& kernel, int device, bool expected, int ms = 3000)
{
    return NVKernelFixture::waitFor([&] { return (kernel.entryId(device) != 0) == expected; }, ms);
}

TEST(SimulatedQM7, ReplugFaultsChangeHowTheDeviceComesBack)
{
    NVKernelFixture kernel;
    int device = kernel.plugQM7();

    ASSERT_TRUE(kernel.fault(device, "no-return"));
    ASSERT_TRUE(kernel.replug(device));
    EXPECT_EQ(kernel.lastReply(), "ok device 1 does not return");
    EXPECT_EQ(kernel.entryId(device), 0u);
    ASSERT_TRUE(kernel.plug(device)); // only once
    EXPECT_NE(kernel.entryId(device), 0u);

    ASSERT_TRUE(kernel.fault(device, "drop-again 200 300"));
    ASSERT_TRUE(kernel.replug(device));
    uint32_t back = kernel.entryId(device);
    EXPECT_NE(back, 0u);
    ASSERT_TRUE(plugged(kernel, device, false));
    ASSERT_TRUE(plugged(kernel, device, true));
    EXPECT_GT(kernel.entryId(device), back);
    NVKernelFixture::sleepMs(600); // and it stays
    EXPECT_NE(kernel.entryId(device), 0u);

    ASSERT_TRUE(kernel.replug(device, 200)); // the user takes a moment
    EXPECT_EQ(kernel.entryId(device), 0u);
    ASSERT_TRUE(plugged(kernel, device, true));
}

TEST(SimulatedQM7, ReenumerationDropsTheDeviceAndBringsItBack)
{
    for (bool request : {true, false}) {
        SCOPED_TRACE(request ? "request 0x52" : "code 76");
        NVKernelFixture kernel;
        int device = kernel.plugQM7();
        uint32_t before = kernel.entryId(device);
        {
            DeviceClient qm7(kernel, device);
            Record r = request ? ControlRequest{false, 0x52, false, 0, 0}.record() : Record(76);
            ASSERT_EQ(qm7.call(r), kNVDSSuccess); // answered before it goes
        }
        ASSERT_TRUE(plugged(kernel, device, false));
        ASSERT_TRUE(plugged(kernel, device, true));
        EXPECT_GT(kernel.entryId(device), before);
    }
}

} // namespace
