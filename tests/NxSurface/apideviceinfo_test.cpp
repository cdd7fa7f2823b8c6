#include "APIDeviceInfo.h"

#include "device_builder.h"
#include "nxids.h"

#include <gtest/gtest.h>

namespace {

constexpr uint8_t K0 = 1;   // format keys asked for throughout
constexpr uint8_t K1 = 24;
constexpr uint8_t OUT = 0x01;   // endpoint addresses
constexpr uint8_t IN = 0x81;

DeviceBuilder generic() { return DeviceBuilder(0x1234, 0x5678); }
DeviceBuilder fixedRow1() { return DeviceBuilder(kMakerVendorId, kMakerProduct1); }

DeviceBuilder oneDiscrete() { return generic().configuration().interface(1).rates(1, K0, K1, { 44100, 48000 }).endpoint(OUT, 64); }
DeviceBuilder range100to200() { return generic().configuration().interface(1).range(1, K0, K1, 100, 200).endpoint(OUT, 64); }

// Fixed-layout device: input interface (type 2) first, then output interface (type 1) whose
// first setting has the wrong setting type. Endpoint directions are deliberately wrong:
// the fixed layout does not look at them.
DeviceBuilder fixedInOut()
{
    return fixedRow1().configuration()
        .interface(2).rates(2, K0, K1, { 48000 }).endpoint(OUT, 64)
        .interface(1).rates(1, K0, K1, { 48000 }).endpoint(IN, 64).rates(2, K0, K1, { 48000 }).endpoint(IN, 64);
}

struct Query {
    unsigned configuration;
    unsigned rate;
    bool exact;
    bool output;
};

struct ScanCase {
    const char* name;
    DeviceBuilder (*build)();
    Query query;
    bool found;
    uint16_t configuration, interface, setting;
};

const ScanCase kScanCases[] = {
    { "discrete rate listed", oneDiscrete, { 0, 48000, false, true }, true, 0, 0, 0 },
    { "discrete rate not listed", oneDiscrete, { 0, 96000, false, true }, false, 0, 0, 0 },
    { "discrete rate with exact rates only", oneDiscrete, { 0, 44100, true, true }, true, 0, 0, 0 },
    { "discrete rate past the rate count",
      [] { return generic().configuration().interface(1).rates(1, K0, K1, { 44100, 48000 }, 1).endpoint(OUT, 64); },
      { 0, 48000, false, true }, false, 0, 0, 0 },
    { "range includes its lower end", range100to200, { 0, 100, false, true }, true, 0, 0, 0 },
    { "range includes its upper end", range100to200, { 0, 200, false, true }, true, 0, 0, 0 },
    { "range above", range100to200, { 0, 201, false, true }, false, 0, 0, 0 },
    { "range below", range100to200, { 0, 99, false, true }, false, 0, 0, 0 },
    { "range with exact rates only", range100to200, { 0, 150, true, true }, false, 0, 0, 0 },
    { "both format keys must match",
      [] { return generic().configuration().interface(1)
               .rates(1, K0, K1 + 1, { 48000 }).endpoint(OUT, 64)
               .rates(1, K0 + 1, K1, { 48000 }).endpoint(OUT, 64)
               .rates(1, K0, K1, { 48000 }).endpoint(OUT, 64); },
      { 0, 48000, false, true }, true, 0, 0, 2 },
    { "generic input skips small and host-to-device endpoints",
      [] { return generic().configuration().interface(1)
               .rates(1, K0, K1, { 48000 }).endpoint(IN, 3).endpoint(0x02, 64)
               .rates(1, K0, K1, { 48000 }).endpoint(IN, 3).endpoint(0x82, 4); },
      { 0, 48000, false, false }, true, 0, 0, 1 },
    { "generic output needs a host-to-device endpoint",
      [] { return generic().configuration().interface(1)
               .rates(1, K0, K1, { 48000 }).endpoint(IN, 64)
               .rates(1, K0, K1, { 48000 }).endpoint(0x02, 4); },
      { 0, 48000, false, true }, true, 0, 0, 1 },
    { "a setting without endpoints never matches",
      [] { return fixedRow1().configuration().interface(1)
               .rates(2, K0, K1, { 48000 })
               .rates(2, K0, K1, { 48000 }).endpoint(OUT, 64); },
      { 0, 48000, false, true }, true, 0, 0, 1 },
    { "fixed layout output: interface type 1, setting type 2", fixedInOut, { 0, 48000, false, true }, true, 0, 1, 1 },
    { "fixed layout input: interface type 2, setting type 2", fixedInOut, { 0, 48000, false, false }, true, 0, 0, 0 },
    { "row 3 is fixed layout at release 0x0200",
      [] { return DeviceBuilder(kMakerVendorId, kMakerProduct3, 0x0200).configuration()
               .interface(1).rates(2, K0, K1, { 48000 }).endpoint(IN, 64); },
      { 0, 48000, false, true }, true, 0, 0, 0 },
    { "row 3 at another release is matched by endpoints",
      [] { return DeviceBuilder(kMakerVendorId, kMakerProduct3, 0x0100).configuration()
               .interface(1).rates(2, K0, K1, { 48000 }).endpoint(IN, 64); },
      { 0, 48000, false, true }, false, 0, 0, 0 },
    { "row 7 is fixed layout",
      [] { return DeviceBuilder(kSecondVendorId, kSecondProduct4, 0x0999).configuration()
               .interface(1).rates(2, K0, K1, { 48000 }).endpoint(IN, 64); },
      { 0, 48000, false, true }, true, 0, 0, 0 },
    { "a valid feature block decides, also for a fixed-layout device",
      [] { return fixedRow1().features(5, 6, 7, 8).configuration()
               .interface(1).rates(2, K0, K1, { 48000 }).endpoint(OUT, 64)
               .interface(7).rates(6, K0, K1, { 48000 }).endpoint(OUT, 64).rates(8, K0, K1, { 48000 }).endpoint(IN, 1); },
      { 0, 48000, false, true }, true, 0, 1, 1 },
    { "feature block input types",
      [] { return generic().features(5, 6, 7, 8).configuration()
               .interface(7).rates(8, K0, K1, { 48000 }).endpoint(IN, 64)
               .interface(5).rates(6, K0, K1, { 48000 }).endpoint(OUT, 1); },
      { 0, 48000, false, false }, true, 0, 1, 0 },
    { "a feature block not marked valid is ignored",
      [] { return generic().features(5, 6, 7, 8, false).configuration()
               .interface(7).rates(8, K0, K1, { 48000 }).endpoint(IN, 64); },
      { 0, 48000, false, true }, false, 0, 0, 0 },
    { "only the configuration asked for is searched, first interface wins",
      [] { return generic()
               .configuration().interface(1).rates(1, K0, K1, { 48000 }).endpoint(OUT, 64)
               .configuration().interface(1).rates(1, K0, K1, { 44100 }).endpoint(OUT, 64)
               .interface(1).rates(1, K0, K1, { 48000 }).endpoint(OUT, 64)
               .interface(1).rates(1, K0, K1, { 48000 }).endpoint(OUT, 64); },
      { 1, 48000, false, true }, true, 1, 1, 0 },
    { "configuration index equal to the count", oneDiscrete, { 1, 48000, false, true }, false, 0, 0, 0 },
    { "configuration count past the array",
      [] { DeviceBuilder b = oneDiscrete(); b.info().mConfigurationCount = 200; return b; },
      { 5, 48000, false, true }, false, 0, 0, 0 },
    { "counts past the arrays in the last configuration",
      [] {
          DeviceBuilder b = generic().configuration().configuration().configuration().configuration();
          APIInterfaceInfo* interfaces = b.info().mConfigurations[3].mInterfaces;
          b.info().mConfigurations[3].mInterfaceCount = 255;
          interfaces[15].mSettingCount = 255;
          APISettingInfo& last = interfaces[15].mSettings[15];
          last.mFormat = { K0, K1, 0, 255, 0, 0, { 48000 } };
          last.mEndpointCount = 255;
          return b;
      },
      { 3, 48000, false, true }, false, 0, 0, 0 },
};

TEST(ScanAPIDeviceInfo, Cases)
{
    for (const ScanCase& c : kScanCases) {
        SCOPED_TRACE(c.name);
        DeviceBuilder device = c.build();
        APIDeviceMatch m = scanAPIDeviceInfo(device.info(), c.query.configuration, c.query.rate, K0, K1,
                                             c.query.exact, c.query.output);
        EXPECT_EQ(m.mFound, c.found);
        EXPECT_EQ(m.mRate, c.query.rate);
        EXPECT_EQ(m.mKey0, K0);
        EXPECT_EQ(m.mKey1, K1);
        if (c.found && m.mFound) {
            EXPECT_EQ(m.mConfiguration, c.configuration);
            EXPECT_EQ(m.mInterface, c.interface);
            EXPECT_EQ(m.mSetting, c.setting);
        }
    }
}

TEST(VIDPID, IsDeviceTreatsReleaseFFFFAsAny)
{
    const VIDPID row1(kMakerVendorId, kMakerProduct1, 0x0100, nullptr);
    const VIDPID row3(kMakerVendorId, kMakerProduct3, 0x0200, nullptr);
    struct {
        const VIDPID& device;
        unsigned short vid, pid, release;
        bool expected;
    } const cases[] = {
        { row1, kMakerVendorId, kMakerProduct1, 0xFFFF, true },
        { row1, kMakerVendorId, kMakerProduct1, 0x0100, true },
        { row1, kMakerVendorId, kMakerProduct1, 0x0200, false },
        { row1, kMakerVendorId, kMakerProduct2, 0xFFFF, false },
        { row1, kSecondVendorId, kMakerProduct1, 0xFFFF, false },
        { row3, kMakerVendorId, kMakerProduct3, 0x0200, true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.device.isDevice(c.vid, c.pid, c.release), c.expected) << c.vid << ":" << c.pid << " " << c.release;

    EXPECT_TRUE(row1.isFixedLayoutDevice());
    EXPECT_TRUE(row3.isFixedLayoutDevice());
    EXPECT_FALSE(VIDPID(kMakerVendorId, kMakerProduct3, 0x0201, nullptr).isFixedLayoutDevice());
    EXPECT_FALSE(VIDPID(kMakerVendorId, kMakerProduct3, 0xFFFF, nullptr).isFixedLayoutDevice());
    EXPECT_FALSE(VIDPID(kHalvorneVendorId, kMakerProduct1, 0x0100, nullptr).isFixedLayoutDevice());
}

TEST(VIDPID, NorvaneBulkNeedsAValidBlockWithTheBulkByte)
{
    struct {
        bool hasBlock, valid, bulk;
        bool expected;
    } const cases[] = {
        { false, false, false, false },
        { true, false, true, false },
        { true, true, false, false },
        { true, true, true, true },
    };
    for (const auto& c : cases) {
        APISpecificFeatures features {};
        features.mValid = c.valid;
        features.mNorvaneBulk = c.bulk;
        VIDPID device(1, 2, 3, c.hasBlock ? &features : nullptr);
        EXPECT_EQ(device.isNorvaneBulkDevice(true), c.expected);
        EXPECT_FALSE(device.isNorvaneBulkDevice(false));
    }
}

TEST(NVAudio, BytesFromBits)
{
    const std::pair<int, int> cases[] = { { 16, 2 }, { 20, 3 }, { 24, 3 }, { 32, 4 }, { 8, 0 }, { 0, 0 }, { -16, 0 }, { 64, 0 } };
    for (const auto& c : cases)
        EXPECT_EQ(NVAudio__bytesFromBits(c.first), c.second) << c.first;
}

} // namespace
