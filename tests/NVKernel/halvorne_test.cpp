#include "device_client.h"
#include "nvplist.h"

#include <string>

namespace {

using Words = std::vector<std::pair<size_t, uint32_t>>; // (record offset, 32-bit word)

struct Step {
    uint32_t code;
    Words in;
    NVDSStatus status;
    Words out;
};

// Every operation of the catalogue, in an order where each set is read back.
const Step kSteps[] = {
    {2, {}, kNVDSSuccess, {{4, 0}}},
    {3, {{4, 5}}, kNVDSSuccess, {}},
    {2, {}, kNVDSSuccess, {{4, 5}}},
    {4, {{4, 0}}, kNVDSSuccess, {{4, 0x1C}}},
    {5, {{4, 0x0C}}, kNVDSSuccess, {}},
    {4, {{4, 0}}, kNVDSSuccess, {{4, 0x0C}}},
    {6, {}, kNVDSSuccess, {{4, 3}}},
    {7, {{4, 1}}, kNVDSSuccess, {{4, 1}, {8, 4}, {12, 1}, {16, 4}, {20, 48000}}},
    {7, {{4, 3}}, kNVDSErrorBadArgument, {}},
    {8, {}, kNVDSSuccess, {{4, 0}, {8, 2}, {16, 2}}},
    {9, {{4, 2}}, kNVDSSuccess, {{4, 2}, {8, 8}, {20, 96000}}},
    {8, {}, kNVDSSuccess, {{4, 2}}},
    {10, {}, kNVDSSuccess, {{4, 5}}},
    {11, {{4, 2}}, kNVDSSuccess, {{4, 256}}},
    {11, {{4, 5}}, kNVDSErrorBadArgument, {}},
    {12, {}, kNVDSSuccess, {{4, 256}}},
    {13, {{4, 512}}, kNVDSSuccess, {{4, 512}}},
    {13, {{4, 500}}, kNVDSSuccess, {{4, 512}}}, // not a size of the list: unchanged
    {14, {{4, 1}}, kNVDSSuccess, {{4, 1}}},
    {14, {{4, 7}}, kNVDSSuccess, {{4, 0}}},
    {16, {{4, 2}}, kNVDSSuccess, {{4, 2}}},
    {16, {{4, 9}}, kNVDSSuccess, {{4, 2}}},
    {15, {}, kNVDSSuccess, {{4, 2}}},
    {17, {}, kNVDSSuccess, {{4, 1}, {8, 96000}}},
    {26, {{4, 1}}, kNVDSSuccess, {}},
    {25, {}, kNVDSSuccess, {{4, 1}}},
    {28, {{4, 3}}, kNVDSSuccess, {}},
    {27, {}, kNVDSSuccess, {{4, 3}}},
    {35, {}, kNVDSSuccess, {{4, 0x1000}, {64, 0x100F}}},
    {36, {{4, 255}}, kNVDSSuccess, {}},
    {36, {{4, 0}}, kNVDSErrorBadArgument, {}},
    {38, {}, kNVDSSuccess, {{4, 1}}},
    {39, {}, kNVDSSuccess, {{4, 2}}},
    {37, {}, kNVDSSuccess, {}},
    {39, {}, kNVDSSuccess, {{4, 1}}},
    {40, {{4, 1}, {8, 3}, {12, 77}}, kNVDSSuccess, {{12, 77}}},
    {40, {{4, 0}, {8, 8}, {12, 1}}, kNVDSErrorBadArgument, {}},
    {42, {{4, 0x00020001}, {8, 0xBEEF}}, kNVDSSuccess, {}},
    {41, {{4, 0x00020001}, {8, 0}}, kNVDSSuccess, {{8, 0xBEEF}}},
    {41, {{4, 0x00020002}, {8, 0}}, kNVDSSuccess, {{8, 0}}},
    {49, {}, kNVDSSuccess, {{4, 0x2000}, {128, 0x201F}}},
    {72, {}, kNVDSSuccess, {{4, 0x1000}, {128, 0x101F}}},
    {65, {}, kNVDSSuccess, {{4, 0}, {8, 1}, {12, 0xFF}, {36, 0xFF}, {40, 5}, {48, 7}}},
    {66, {{4, 0xFF}, {8, 0xFF}, {12, 0}}, kNVDSSuccess, {}},
    {65, {}, kNVDSSuccess, {{4, 0xFF}, {12, 0}}},
    {68, {{4, 1}, {24, 3}, {28, 4}}, kNVDSSuccess, {{4, 1}, {8, 4}, {16, 4}}},
    {69, {}, kNVDSSuccess, {{4, 1}, {8, 4}, {24, 3}, {28, 4}}},
    {71, {{4, 0x6D617247}, {8, 0x00000070}}, kNVDSSuccess, {}}, // "Gramp"
    {70, {}, kNVDSSuccess, {{4, 0x6D617247}, {8, 0x00000070}}},
};

TEST(SimulatedHalvorne, EveryCatalogueOperationGetsAMeaningfulAnswer)
{
    NVKernelFixture kernel;
    DeviceClient unit(kernel, kernel.plugHalvorne());
    int index = 0;
    for (const Step& step : kSteps) {
        SCOPED_TRACE("step " + std::to_string(index++) + ", code " + std::to_string(step.code));
        Record r(step.code);
        for (auto& w : step.in)
            r.set(w.first, w.second);
        ASSERT_EQ(unit.call(r), step.status);
        if (step.status != kNVDSSuccess)
            continue;
        EXPECT_EQ(r.length, 260u);
        for (auto& w : step.out)
            EXPECT_EQ(r.word(w.first), w.second) << "at offset " << w.first;
    }
}

TEST(SimulatedHalvorne, SetRoutingShowsInTheRegistryProperties)
{
    NVKernelFixture kernel;
    int device = kernel.plugHalvorne("--uid 42");
    DeviceClient unit(kernel, device);
    Record r = Record(40).set(4, 0).set(8, 2).set(12, uint32_t(-5));
    ASSERT_EQ(unit.call(r), kNVDSSuccess);
    plist_t properties = nullptr;
    ASSERT_EQ(NVDSServiceCopyProperties(unit.service, &properties), kNVDSSuccess);
    plist_t ext = NVPlistDictGet(properties, "ZrExtData");
    int64_t value = 0;
    ASSERT_TRUE(NVPlistDictGetInt(ext, "RoutingOut2", &value));
    EXPECT_EQ(int32_t(value), -5);
    ASSERT_TRUE(NVPlistDictGetInt(ext, "RoutingIn2", &value));
    EXPECT_EQ(value, 2);
    uint8_t uid[8];
    size_t size = 0;
    ASSERT_TRUE(NVPlistDictGetData(properties, "HalvorneUID", uid, sizeof uid, &size));
    EXPECT_EQ(uid[0], 42);
    plist_free(properties);
}

} // namespace
