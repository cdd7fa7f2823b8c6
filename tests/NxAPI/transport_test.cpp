// The device handle's transport against an in-process driver: what goes into each record,
// what comes back out, and what a closed handle or a short answer does.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "fake_driver.h"

namespace {

plist_t idProperties(int64_t vendor, int64_t product)
{
    plist_t dict = plist_new_dict();
    if (vendor >= 0) plist_dict_set_item(dict, "idVendor", plist_new_uint(uint64_t(vendor)));
    if (product >= 0) plist_dict_set_item(dict, "idProduct", plist_new_uint(uint64_t(product)));
    return dict;
}

} // namespace

TEST(Transport, ConstructionReadsIdsAndHoldsTheService)
{
    struct Case {
        int64_t vendor, product;
        uint16_t wantVendor, wantProduct;
    } cases[] = {
        {0x1209, 0x0001, 0x1209, 0x0001},
        {-1, 0x0001, 0xFFFF, 0x0001},   // absent property keeps 0xFFFF
        {0x1209, -1, 0x1209, 0xFFFF},
        {-1, -1, 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        driver.mProperties = idProperties(c.vendor, c.product);
        USBDevice* d = new USBDevice(7);
        EXPECT_EQ(d->getVendorID(), c.wantVendor);
        EXPECT_EQ(d->getProductID(), c.wantProduct);
        EXPECT_EQ(driver.mServiceRefs, 1);
        EXPECT_EQ(d->getRefCount(), 0);
        EXPECT_FALSE(d->isOpen());
        d->retain();
        d->release();   // count 1 -> 0 destroys it
        EXPECT_EQ(driver.mServiceRefs, 0);
    }
}

TEST(Transport, EmptyHandleTouchesNothing)
{
    FakeDriver driver;
    Device d(new USBDevice(0));
    d->retain();
    EXPECT_EQ(driver.mServiceRefs, 0);
    EXPECT_FALSE(d->open(true));
    EXPECT_EQ(d->getVendorID(), 0xFFFF);
    EXPECT_EQ(d->getRouting(true, 0), -1);
}

TEST(Transport, OpenReadsVersionFirstThenTheOpenTimeData)
{
    FakeDriver driver;
    driver.answer(22, {0, 4, 5, 0x21});
    driver.answer(18, std::vector<uint8_t>(70, 'x'));
    driver.answer(19, {'Q', 'M', '7', 0});
    driver.answerWord(20, 5);
    driver.answer(67, {1, 0, 0, 0, 2, 0, 0, 0});
    USBDevice* d = new USBDevice(7);
    Device hold(d);
    d->retain();
    ASSERT_TRUE(d->open(true));
    EXPECT_EQ(driver.codes(), (std::vector<uint32_t>{22, 18, 19, 20, 67, 69}));
    EXPECT_STREQ(d->mDriverVersion.mText, "2.1.5");
    EXPECT_EQ(std::strlen(NxDeviceInspector::infoText0(*d)), 63u);   // NUL forced at 63
    EXPECT_STREQ(NxDeviceInspector::infoText1(*d), "QM7");
    EXPECT_EQ(NxDeviceInspector::openInfo(*d, 0), 1u);
    EXPECT_EQ(NxDeviceInspector::openInfo(*d, 1), 2u);
    EXPECT_TRUE(NxDeviceInspector::openFlag(*d));

    driver.mSent.clear();
    EXPECT_TRUE(d->open(true));   // already open: nothing sent
    EXPECT_TRUE(driver.mSent.empty());
    d->close();
    d->close();
    EXPECT_EQ(driver.mClosed, 1);
    EXPECT_FALSE(d->isOpen());
}

TEST(Transport, OpenSurvivesFailedOpenTimeReadsButNotAFailedVersion)
{
    FakeDriver driver;
    driver.answer(22, {0, 4, 5, 0x21});
    driver.fail(67, {0, 100});   // short answer: open info stays 0
    driver.fail(20);
    Device d(new USBDevice(7));
    d->retain();
    EXPECT_TRUE(d->open(true));
    EXPECT_EQ(NxDeviceInspector::openInfo(*d, 0), 0u);
    EXPECT_FALSE(NxDeviceInspector::openFlag(*d));
    d->close();

    driver.fail(22, {0, 259});
    EXPECT_FALSE(d->open(true));
    EXPECT_FALSE(d->isOpen());
    EXPECT_EQ(driver.mOpenConnections, 0);   // the connection was given back

    driver.mOpenStatus = -5;
    EXPECT_FALSE(d->open(true));
}

TEST(Transport, DispatchSizeCheckAndPlatformErrors)
{
    struct Case {
        FakeAnswer how;
        bool checked, unchecked;
    } cases[] = {
        {{0, 260}, true, true},
        {{0, 259}, false, true},
        {{0, 0}, false, true},
        {{-1, 260}, false, false},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(99, {}, c.how);
        NX_Dispatch record{99, {}};
        EXPECT_EQ(d->dispatch(record, true), c.checked);
        EXPECT_EQ(d->dispatch(record, false), c.unchecked);
    }
}

TEST(Transport, ClosedHandleSendsNothing)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    d->close();
    NX_Dispatch record{2, {}};
    char buffer[8] = {};
    NxVersion v;
    std::memset(&v, 0x55, sizeof v);
    EXPECT_FALSE(d->dispatch(record, false));
    EXPECT_FALSE(d->DeviceIoControl(1, 38, nullptr, 0, buffer, 8, nullptr, nullptr));
    EXPECT_FALSE(d->request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x56, 0, 0, buffer, 3,
                            true));
    EXPECT_FALSE(d->getDriverVersion(v));
    EXPECT_EQ(v.mMajor, 0);
    EXPECT_EQ(v.mText[0], 0);
    EXPECT_TRUE(driver.mSent.empty());
}

TEST(Transport, DeviceIoControlCodes)
{
    struct Case {
        int control;
        uint32_t dispatch;
        bool text;
    } cases[] = {{0, 18, true},   {1, 19, true},   {38, 21, false},
                 {39, 20, false}, {41, 22, false}, {56, 48, false}};
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(c.dispatch, std::vector<uint8_t>(256, 'a'));
        char out[64];
        unsigned long returned = 99;
        ASSERT_TRUE(d->DeviceIoControl(1, c.control, nullptr, 0, out, sizeof out, &returned,
                                       nullptr));
        ASSERT_EQ(driver.codes(), std::vector<uint32_t>{c.dispatch});
        EXPECT_EQ(returned, 64u);
        EXPECT_EQ(out[63], c.text ? 0 : 'a') << c.control;
        EXPECT_EQ(out[62], 'a');
    }
}

TEST(Transport, DeviceIoControlEdges)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    unsigned long returned = 99;
    // Null output: the request still goes out and succeeds with 0 bytes.
    EXPECT_TRUE(d->DeviceIoControl(1, 39, nullptr, 0, nullptr, 64, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(driver.mSent.size(), 1u);
    // No device, or a code outside the table: fails without sending.
    EXPECT_FALSE(d->DeviceIoControl(0, 39, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(d->DeviceIoControl(1, 40, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(driver.mSent.size(), 1u);
    // More room than the payload: 256 bytes at most; a short answer fails.
    std::vector<uint8_t> big(400, 0xEE);
    driver.answer(21, std::vector<uint8_t>(256, 1));
    EXPECT_TRUE(d->DeviceIoControl(1, 38, nullptr, 0, big.data(), big.size(), &returned, nullptr));
    EXPECT_EQ(returned, 256u);
    EXPECT_EQ(big[255], 1);
    EXPECT_EQ(big[256], 0xEE);
    driver.answer(21, {}, {0, 10});
    EXPECT_FALSE(d->DeviceIoControl(1, 38, nullptr, 0, big.data(), 16, &returned, nullptr));
}

TEST(Transport, ControlRequestLayouts)
{
    struct Case {
        uint8_t majorByte;
        bool force;
        bool layoutA;
    } cases[] = {
        {0x11, false, true},    // major 1 (minor 1)
        {0x01, false, true},    // major 1, no minor
        {0x11, true, false},    // forced
        {0x21, false, false},   // major 2
        {0x10, false, false},   // major 16
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice(c.majorByte));
        char page[64];
        for (int i = 0; i < 64; ++i) page[i] = char(i + 1);
        ASSERT_TRUE(d->request(eDirectionOut, eLevelVendor, eRecipientDevice, 0x55, 0x1234, 7,
                               page, 64, c.force));
        ASSERT_EQ(driver.mSent.size(), 1u);
        const NX_Dispatch& r = driver.mSent[0];
        EXPECT_EQ(r.mCode, 34u);
        if (c.layoutA) {
            EXPECT_EQ(at<uint32_t>(r, 4), 0x00u);
            EXPECT_EQ(at<uint32_t>(r, 8), 0x40u);
            EXPECT_EQ(at<uint32_t>(r, 12), 0u);
            EXPECT_EQ(at<uint8_t>(r, 16), 0x55);
            EXPECT_EQ(at<uint16_t>(r, 18), 0x1234);
            EXPECT_EQ(at<uint16_t>(r, 20), 7);
            EXPECT_EQ(at<uint32_t>(r, 24), 64u);
            EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&r) + 28, page, 64), 0);
        } else {
            EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&r) + 4, page, 64), 0);
            EXPECT_EQ(at<uint32_t>(r, 132), 64u);
            EXPECT_EQ(at<uint16_t>(r, 136), 0x1234);
            EXPECT_EQ(at<uint16_t>(r, 138), 7);
            EXPECT_EQ(at<uint32_t>(r, 140), 0x00u);
            EXPECT_EQ(at<uint32_t>(r, 144), 0x40u);
            EXPECT_EQ(at<uint32_t>(r, 148), 0u);
            EXPECT_EQ(at<uint8_t>(r, 152), 0x55);
        }
    }
}

TEST(Transport, ControlRequestWithoutDataSendsZeroedDataArea)
{
    FakeDriver driver;
    Device d(driver.openDevice(0x21));
    ASSERT_TRUE(d->replugDevice(false));
    const NX_Dispatch& r = driver.mSent.at(0);
    for (int i = 4; i < 132; ++i) ASSERT_EQ(at<uint8_t>(r, i), 0) << i;
    EXPECT_EQ(at<uint32_t>(r, 132), 0u);
    EXPECT_EQ(at<uint32_t>(r, 144), 0x40u);
    EXPECT_EQ(at<uint8_t>(r, 152), 0x52);
}

TEST(Transport, ControlRequestLengthLimits)
{
    struct Case {
        uint8_t majorByte;
        bool force;
        unsigned short length;
        bool sent;
    } cases[] = {
        {0x11, false, 232, true},  {0x11, false, 233, false}, {0x21, false, 128, true},
        {0x21, false, 129, false}, {0x11, true, 129, false},  {0x11, false, 257, false},
        {0x21, false, 256, false},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice(c.majorByte));
        std::vector<char> buffer(300, 'z');
        EXPECT_EQ(d->request(eDirectionOut, eLevelVendor, eRecipientDevice, 0x55, 0, 0,
                             buffer.data(), c.length, c.force),
                  c.sent)
            << c.length;
        EXPECT_EQ(driver.mSent.size(), c.sent ? 1u : 0u);
    }
}

TEST(Transport, InRequestCopiesNoMoreThanAskedOrAnswered)
{
    struct Case {
        uint8_t majorByte;
        uint32_t answered;
        size_t copied;
    } cases[] = {
        {0x21, 5, 3}, {0x21, 1, 1}, {0x21, 0, 0}, {0x21, 0xFFFFFFFF, 3}, {0x11, 5, 3},
        {0x11, 2, 2},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice(c.majorByte));
        const size_t lengthAt = c.majorByte == 0x11 ? 24 : 132;
        const size_t dataAt = c.majorByte == 0x11 ? 28 : 4;
        const uint32_t answered = c.answered;
        driver.on(34, [=](NX_Dispatch& r) {
            uint8_t* bytes = reinterpret_cast<uint8_t*>(&r);
            std::memcpy(bytes + lengthAt, &answered, 4);
            for (int i = 0; i < 8; ++i) bytes[dataAt + i] = uint8_t(0xA0 + i);
            return FakeAnswer{};
        });
        uint8_t buffer[8];
        std::memset(buffer, 0xEE, sizeof buffer);
        ASSERT_TRUE(d->request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x56, 0, 0,
                               reinterpret_cast<char*>(buffer), 3, false));
        for (size_t i = 0; i < 8; ++i)
            EXPECT_EQ(buffer[i], i < c.copied ? 0xA0 + i : 0xEE) << c.answered << " " << i;
    }
}

TEST(Transport, ShortAnswerFailsControlRequest)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    driver.answer(34, {}, {0, 200});
    char buffer[3];
    EXPECT_FALSE(d->request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x56, 0, 0, buffer, 3,
                            true));
}

TEST(Transport, DriverVersionDecoding)
{
    struct Case {
        uint8_t bytes[4];
        int major, minor;
        const char* text;
    } cases[] = {
        {{0x00, 0x04, 0x05, 0x21}, 2, 1, "2.1.5"},
        {{0x03, 0x02, 0x07, 0x01}, 1, 15, "1.07.b3"},
        {{0x00, 0x04, 0x05, 0x10}, 16, 15, "16.05"},
        {{0x00, 0x04, 0x05, 0x11}, 1, 1, "1.1.5"},
        {{0x02, 0x00, 0x09, 0x03}, 3, 15, "3.09.d2"},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(22, {c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3], 9, 9, 9, 9});
        NxVersion v;
        ASSERT_TRUE(d->getDriverVersion(v));
        EXPECT_EQ(v.mMajor, c.major);
        EXPECT_EQ(v.mMinor, c.minor);
        EXPECT_EQ(v.mKernel, '0');
        EXPECT_STREQ(v.mText, c.text);
    }
}

// The handle's count is shared by the flash worker and the main thread.
TEST(Transport, ReferenceCountAcrossThreads)
{
    FakeDriver driver;
    USBDevice* d = new USBDevice(7);
    d->retain();
    auto churn = [d] {
        for (int i = 0; i < 20000; ++i) {
            d->retain();
            d->release();
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(d->getRefCount(), 1);
    d->release();
    EXPECT_EQ(driver.mServiceRefs, 0);
}
