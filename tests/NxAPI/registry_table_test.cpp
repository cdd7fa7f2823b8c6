// The registry's device table and notice mapping, driven through its handlers directly with
// the in-process driver behind the handles (no service directory involved).

#include <gtest/gtest.h>

#include <vector>

#include "NxRegistry.h"
#include "fake_driver.h"

namespace {

struct Event {
    USBDevice* device;
    NXAPI_CBEvent event;
    int slotOfDevice;   // where the device sat in the table during the callback; -1 none
    bool open;
};

std::vector<Event> gEvents;

int slotOf(USBDevice* device)
{
    for (int i = 0; i < kNxapiDeviceSlots; ++i)
        if (nxapiDeviceMap[i] == device) return i;
    return -1;
}

void record(void* context, USBDevice* device, NXAPI_CBEvent event)
{
    EXPECT_EQ(context, &gEvents);
    gEvents.push_back({device, event, slotOf(device), device->isOpen()});
}

// A table in the state a running registry leaves it, without a service directory.
class RegistryTable : public testing::Test {
protected:
    void SetUp() override
    {
        gEvents.clear();
        for (USBDevice*& slot : nxapiDeviceMap) slot = nullptr;
        _nxapiCallbackFunction = record;
        nxapiCallbackContext = &gEvents;
    }
    void TearDown() override
    {
        for (USBDevice*& slot : nxapiDeviceMap)
            if (slot) {
                USBDevice* d = slot;
                slot = nullptr;
                d->release();
            }
        _nxapiCallbackFunction = nullptr;
        nxapiCallbackContext = nullptr;
    }
    FakeDriver mDriver;
};

} // namespace

TEST_F(RegistryTable, PublishedDevicesTakeTheLowestFreeSlots)
{
    ServicePublished(11);
    ServicePublished(12);
    ASSERT_EQ(gEvents.size(), 2u);
    EXPECT_EQ(gEvents[0].slotOfDevice, 0);
    EXPECT_EQ(gEvents[1].slotOfDevice, 1);
    EXPECT_EQ(gEvents[0].event, NXAPI_CB_DeviceArrived);
    EXPECT_EQ(nxapiDeviceMap[0]->getDeviceInstance(), 11u);
    EXPECT_EQ(nxapiDeviceMap[0]->getRefCount(), 1);   // the table's own reference

    ServiceTerminated(11);
    EXPECT_EQ(nxapiDeviceMap[0], nullptr);
    ServicePublished(13);   // reuses slot 0
    EXPECT_EQ(nxapiDeviceMap[0]->getDeviceInstance(), 13u);
}

TEST_F(RegistryTable, TerminationAnnouncesThenClosesAndDrops)
{
    ServicePublished(11);
    USBDevice* device = nxapiDeviceMap[0];
    device->retain();   // the client's own reference
    mDriver.answer(22, {0, 4, 5, 0x21});
    ASSERT_TRUE(device->open(true));
    ServiceTerminated(99);   // not in the table: ignored
    EXPECT_EQ(gEvents.size(), 1u);

    ServiceTerminated(11);
    ASSERT_EQ(gEvents.size(), 2u);
    EXPECT_EQ(gEvents[1].device, device);
    EXPECT_EQ(gEvents[1].event, NXAPI_CB_DeviceRemoved);
    EXPECT_EQ(gEvents[1].slotOfDevice, 0);   // still in the table and open during the call
    EXPECT_TRUE(gEvents[1].open);
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->getRefCount(), 1);
    device->release();
    EXPECT_EQ(mDriver.mServiceRefs, 0);
}

TEST_F(RegistryTable, MarkAsRemovedClearsTheSlotBeforeTheCallback)
{
    ServicePublished(11);
    USBDevice* device = nxapiDeviceMap[0];
    device->retain();
    _nxapiMarkAsRemoved(nullptr);
    USBDevice stranger(0);
    _nxapiMarkAsRemoved(&stranger);
    EXPECT_EQ(gEvents.size(), 1u);

    _nxapiMarkAsRemoved(device);
    ASSERT_EQ(gEvents.size(), 2u);
    EXPECT_EQ(gEvents[1].event, NXAPI_CB_DeviceRemoved);
    EXPECT_EQ(gEvents[1].slotOfDevice, -1);
    EXPECT_EQ(device->getRefCount(), 1);
    ServiceTerminated(11);   // already gone: no second event
    EXPECT_EQ(gEvents.size(), 2u);
    device->release();
}

TEST_F(RegistryTable, TheDeviceAfterAFullTableIsAnnouncedButNotKept)
{
    for (unsigned s = 1; s <= kNxapiDeviceSlots; ++s) ServicePublished(s);
    ServicePublished(1000);
    ASSERT_EQ(gEvents.size(), size_t(kNxapiDeviceSlots) + 1);
    Event last = gEvents.back();
    EXPECT_EQ(last.event, NXAPI_CB_DeviceArrived);
    EXPECT_EQ(last.slotOfDevice, -1);
    EXPECT_EQ(last.device->getRefCount(), 0);   // the client decides its fate
    ServiceTerminated(1000);
    EXPECT_EQ(gEvents.size(), size_t(kNxapiDeviceSlots) + 1);   // never an event 2
    last.device->retain();
    last.device->release();
}

TEST_F(RegistryTable, NoticesMapToEvents)
{
    ServicePublished(11);
    USBDevice* device = nxapiDeviceMap[0];
    gEvents.clear();
    struct Case {
        uint32_t type, tag, code;
        int event;   // 0: ignored
    } cases[] = {
        {kNxNoticeMessageType, 36, 3, 3},  {kNxNoticeMessageType, 36, 49, 3},
        {kNxNoticeMessageType, 36, 50, 3}, {kNxNoticeMessageType, 36, 55, 3},
        {kNxNoticeMessageType, 36, 56, 3}, {kNxNoticeMessageType, 36, 34, 4},
        {kNxNoticeMessageType, 36, 14, 5}, {kNxNoticeMessageType, 36, 35, 6},
        {kNxNoticeMessageType, 36, 48, 7}, {kNxNoticeMessageType, 36, 2, 0},
        {kNxNoticeMessageType, 37, 34, 0}, {0xE0000131, 36, 34, 0},
        {kNxNoticeMessageType, 36, 0, 0},
    };
    for (const Case& c : cases) {
        gEvents.clear();
        uint32_t words[16] = {c.tag, c.code};
        USBDevice::ServiceInterestCallback(device, 11, c.type, words);
        if (c.event == 0) {
            EXPECT_TRUE(gEvents.empty()) << c.code;
        } else {
            ASSERT_EQ(gEvents.size(), 1u) << c.code;
            EXPECT_EQ(gEvents[0].event, c.event) << c.code;
            EXPECT_EQ(gEvents[0].device, device);
        }
    }
    gEvents.clear();
    uint32_t words[2] = {36, 49};
    USBDevice::ServiceInterestCallback(nullptr, 11, kNxNoticeMessageType, words);
    USBDevice::ServiceInterestCallback(device, 11, kNxNoticeMessageType, nullptr);
    EXPECT_TRUE(gEvents.empty());
}
