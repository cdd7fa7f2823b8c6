#include <gtest/gtest.h>

#include "nvusb.h"

// The machines the tests run on have no USB device under the build's test ids (and often no
// USB subsystem at all): the steps must report that cleanly, never fail on it.

TEST(USB, NoMatchingDeviceOnTheBus) {
    void* port = nullptr;
    ASSERT_EQ(NVUSBGetMasterPort(&port), IOReturn(kIOReturnSuccess));
    NVUSBMatching* matching = NVUSBCreateMatching(0x1209, 0x0001);
    ASSERT_NE(matching, nullptr);
    NVUSBIterator* it = nullptr;
    ASSERT_EQ(NVUSBGetMatchingServices(port, matching, &it), IOReturn(kIOReturnSuccess));
    EXPECT_EQ(NVUSBIteratorNext(it), nullptr);
    NVUSBReleaseIterator(it);
}

TEST(USB, BadArgumentsAreStatuses) {
    EXPECT_EQ(NVUSBGetMasterPort(nullptr), IOReturn(kIOReturnBadArgument));
    NVUSBIterator* it = nullptr;
    EXPECT_EQ(NVUSBGetMatchingServices(nullptr, NVUSBCreateMatching(1, 2), &it),
              IOReturn(kIOReturnBadArgument));
    EXPECT_EQ(NVUSBIteratorNext(nullptr), nullptr);
    NVUSBPlugIn* plugIn = nullptr;
    EXPECT_EQ(NVUSBCreatePlugIn(nullptr, &plugIn), IOReturn(kIOReturnBadArgument));
    EXPECT_EQ(NVUSBQueryDeviceInterface(nullptr), nullptr);
    IOUSBDevRequest request{0xC0, 0x55, 0, 0, 64, nullptr, 0};
    EXPECT_EQ(NVUSBDeviceRequest(nullptr, &request), IOReturn(kIOReturnBadArgument));
    EXPECT_EQ(NVUSBRelease(nullptr), 0u);
    NVUSBReleaseIterator(nullptr);
    NVUSBReleaseService(nullptr);
    NVUSBDestroyPlugIn(nullptr);
}
