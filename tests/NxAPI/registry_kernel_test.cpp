// The registry and the device handle against nvkerneld: discovery, arrivals, removals and
// notices through the run loop, and requests over the real transport.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <cstring>
#include <vector>

#include "NorvaneDriverAPI.h"
#include <glib.h>

#include "nvkernel_fixture.h"
#include "nvrunloop.h"
#include "nxids.h"

namespace {

struct Event {
    USBDevice* device;
    NXAPI_CBEvent event;
    bool open;   // the handle's state during the callback
};

struct Recorder {
    std::vector<Event> events;
    static void callback(void* context, USBDevice* device, NXAPI_CBEvent event)
    {
        static_cast<Recorder*>(context)->events.push_back({device, event, device->isOpen()});
    }
};

GUID guidFor(const char* serviceClass)
{
    GUID guid;
    std::memset(&guid, 0, sizeof guid);
    std::strncpy(guid.mName, serviceClass, sizeof guid.mName - 1);
    return guid;
}

const GUID kQM7 = guidFor("NVKernelDeviceVESKQM7");

class RegistryKernel : public testing::Test {
protected:
    void TearDown() override { nxapiTerm(); }

    bool runUntil(size_t eventCount, int timeoutMs = 5000)
    {
        return NVRunLoopRunUntil(
            NVRunLoopGetCurrent(), [&] { return mRecorder.events.size() >= eventCount; },
            timeoutMs);
    }
    void init(const GUID& guid = kQM7) { nxapiInit(Recorder::callback, &mRecorder, guid); }

    NVKernelFixture mKernel;
    Recorder mRecorder;
};

} // namespace

TEST_F(RegistryKernel, PresentDevicesAreAnnouncedBeforeInitReturns)
{
    ASSERT_TRUE(mKernel.running());
    ASSERT_GE(mKernel.plugQM7(), 0);
    ASSERT_GE(mKernel.plugQM7(), 0);
    ASSERT_GE(mKernel.plugHalvorne(), 0);   // another class: not ours
    const auto start = std::chrono::steady_clock::now();
    init();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    ASSERT_EQ(mRecorder.events.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(mRecorder.events[i].event, NXAPI_CB_DeviceArrived);
        EXPECT_EQ(nxapiDeviceMap[i], mRecorder.events[i].device);
        EXPECT_EQ(mRecorder.events[i].device->getVendorID(), kMakerVendorId);
        EXPECT_EQ(mRecorder.events[i].device->getProductID(), kUpdaterProductId);
        EXPECT_EQ(mRecorder.events[i].device->getRefCount(), 1);
    }
    EXPECT_EQ(nxapiDeviceMap[2], nullptr);
}

TEST_F(RegistryKernel, ArrivalsNoticesAndRemovalsReachTheCallback)
{
    init();
    EXPECT_TRUE(mRecorder.events.empty());
    const int qm7 = mKernel.plugQM7();
    ASSERT_TRUE(runUntil(1));
    USBDevice* device = mRecorder.events[0].device;
    EXPECT_EQ(mRecorder.events[0].event, NXAPI_CB_DeviceArrived);
    EXPECT_EQ(nxapiDeviceMap[0], device);
    device->retain();   // the client's own reference, as the updater keeps one
    ASSERT_TRUE(device->open(true));

    struct Case {
        uint32_t notice;
        NXAPI_CBEvent event;
    } cases[] = {{49, NXAPI_CB_Notice3}, {34, NXAPI_CB_Notice4}, {14, NXAPI_CB_Notice5},
                 {35, NXAPI_CB_Notice6}, {48, NXAPI_CB_Notice7}};
    for (const Case& c : cases) {
        ASSERT_TRUE(mKernel.notice(qm7, 2));   // unlisted: ignored, so the next one is first
        ASSERT_TRUE(mKernel.notice(qm7, c.notice));
        const size_t before = mRecorder.events.size();
        ASSERT_TRUE(runUntil(before + 1)) << c.notice;
        EXPECT_EQ(mRecorder.events.back().event, c.event);
        EXPECT_EQ(mRecorder.events.back().device, device);
    }
    const size_t before = mRecorder.events.size();
    ASSERT_TRUE(mKernel.unplug(qm7)) << mKernel.lastReply();
    ASSERT_TRUE(runUntil(before + 1));
    const Event removed = mRecorder.events.back();
    EXPECT_EQ(removed.event, NXAPI_CB_DeviceRemoved);
    EXPECT_EQ(removed.device, device);
    EXPECT_TRUE(removed.open);   // closed only after the callback
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->getRefCount(), 1);
    EXPECT_EQ(nxapiDeviceMap[0], nullptr);
    device->release();

    ASSERT_TRUE(mKernel.plug(qm7));   // back again: a new handle in slot 0
    ASSERT_TRUE(runUntil(before + 2));
    EXPECT_EQ(mRecorder.events.back().event, NXAPI_CB_DeviceArrived);
    EXPECT_EQ(nxapiDeviceMap[0], mRecorder.events.back().device);
}

TEST_F(RegistryKernel, TermRaisesNoEventAndClosesEveryHandle)
{
    mKernel.plugQM7();
    mKernel.plugQM7();
    init();
    ASSERT_EQ(mRecorder.events.size(), 2u);
    USBDevice* held = mRecorder.events[1].device;
    held->retain();
    ASSERT_TRUE(held->open(true));
    ASSERT_TRUE(nxapiDeviceMap[0]->open(true));
    nxapiTerm();
    EXPECT_EQ(mRecorder.events.size(), 2u);
    EXPECT_FALSE(held->isOpen());
    EXPECT_EQ(held->getRefCount(), 1);
    for (USBDevice* slot : nxapiDeviceMap) EXPECT_EQ(slot, nullptr);
    held->release();
    // Nothing arrives any more, and a new start finds the devices again.
    mKernel.plugQM7();
    NVRunLoopRunFor(NVRunLoopGetCurrent(), 300);
    EXPECT_EQ(mRecorder.events.size(), 2u);
    init();
    EXPECT_EQ(mRecorder.events.size(), 5u);
}

TEST_F(RegistryKernel, SecondInitChangesNothing)
{
    init();
    Recorder other;
    nxapiInit(Recorder::callback, &other, guidFor("NVKernelDeviceHalvorneTessel9"));
    mKernel.plugQM7();
    mKernel.plugHalvorne();
    ASSERT_TRUE(runUntil(1));
    NVRunLoopRunFor(NVRunLoopGetCurrent(), 300);
    EXPECT_EQ(mRecorder.events.size(), 1u);
    EXPECT_TRUE(other.events.empty());
}

TEST_F(RegistryKernel, MarkAsRemovedDropsTheDeviceOnce)
{
    const int qm7 = mKernel.plugQM7();
    init();
    ASSERT_EQ(mRecorder.events.size(), 1u);
    USBDevice* device = mRecorder.events[0].device;
    device->retain();
    _nxapiMarkAsRemoved(device);
    ASSERT_EQ(mRecorder.events.size(), 2u);
    EXPECT_EQ(mRecorder.events[1].event, NXAPI_CB_DeviceRemoved);
    mKernel.unplug(qm7);   // the table no longer holds it: no second event
    NVRunLoopRunFor(NVRunLoopGetCurrent(), 300);
    EXPECT_EQ(mRecorder.events.size(), 2u);
    device->release();
}

TEST_F(RegistryKernel, FirmwareVersionThroughBothPaths)
{
    struct Case {
        const char* options;
        const char* text;
        char kernel;
    } cases[] = {
        {"--fw 1.4.0 --kernel A", "1.4.0", 'A'},
        {"--fw 1.4.1 --kernel K --fw-word-zero", "1.4.1", 'K'},
        {"--fw 1.4.0 --kernel A --driver-major 1", "1.4.0", 'A'},
        {"--fw 1.4.1 --kernel K --fw-word-zero --driver-major 1", "1.4.1", 'K'},
    };
    for (const Case& c : cases) {
        NVKernelFixture kernel;
        ASSERT_GE(kernel.plugQM7(c.options), 0) << kernel.lastReply();
        Recorder recorder;
        nxapiInit(Recorder::callback, &recorder, kQM7);
        ASSERT_EQ(recorder.events.size(), 1u);
        USBDevice* device = recorder.events[0].device;
        ASSERT_TRUE(device->open(true));
        for (bool useRequest : {false, true}) {
            NxVersion version;
            testing::internal::CaptureStdout();
            EXPECT_TRUE(device->getFirmwareVersion(version, useRequest));
            testing::internal::GetCapturedStdout();
            EXPECT_STREQ(version.mText, c.text) << c.options;
            EXPECT_EQ(version.mKernel, c.kernel) << c.options;
            EXPECT_STREQ(version.mExtra, "QM7 sim");
        }
        NX_DeviceDescriptor descriptor;
        ASSERT_TRUE(device->getDeviceDescriptor(descriptor));
        EXPECT_EQ(descriptor.vendorID(), kMakerVendorId);
        EXPECT_EQ(descriptor.productID(), kUpdaterProductId);
        nxapiTerm();
    }
}

TEST_F(RegistryKernel, PagesRoundTripInBothLayouts)
{
    for (const char* options : {"--driver-major 1", "--driver-major 2"}) {
        NVKernelFixture kernel;
        ASSERT_GE(kernel.plugQM7(options), 0);
        Recorder recorder;
        nxapiInit(Recorder::callback, &recorder, kQM7);
        ASSERT_EQ(recorder.events.size(), 1u);
        USBDevice* device = recorder.events[0].device;
        ASSERT_TRUE(device->open(true));
        ASSERT_TRUE(device->prepareFirmwareUpdate());
        char page[64], back[64] = {};
        for (int i = 0; i < 64; ++i) page[i] = char(i * 3 + 1);
        EXPECT_TRUE(device->request(eDirectionOut, eLevelVendor, eRecipientDevice, 0x55, 0, 5,
                                    page, 64, false));
        EXPECT_TRUE(device->request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x55, 0, 5,
                                    back, 64, false));
        EXPECT_EQ(std::memcmp(page, back, 64), 0) << options;
        nxapiTerm();
    }
}

TEST_F(RegistryKernel, ShortAnswersFailCheckedOperations)
{
    const int qm7 = mKernel.plugQM7();
    init();
    ASSERT_EQ(mRecorder.events.size(), 1u);
    USBDevice* device = mRecorder.events[0].device;
    ASSERT_TRUE(device->open(true));
    ASSERT_TRUE(mKernel.fault(qm7, "short-answer 33 100"));
    EXPECT_FALSE(device->prepareFirmwareUpdate());
    ASSERT_TRUE(mKernel.fault(qm7, "short-answer 21 100"));
    NX_DeviceDescriptor descriptor;
    EXPECT_FALSE(device->getDeviceDescriptor(descriptor));
    ASSERT_TRUE(mKernel.fault(qm7, "short-answer 34 100"));
    char bytes[3];
    EXPECT_FALSE(device->request(eDirectionIn, eLevelVendor, eRecipientDevice, 0x56, 0, 0,
                                 bytes, 3, true));
    ASSERT_TRUE(mKernel.fault(qm7, "clear"));
    EXPECT_TRUE(device->prepareFirmwareUpdate());
}

TEST_F(RegistryKernel, HalvorneCatalogueOverTheTransport)
{
    mKernel.plugHalvorne();
    init(guidFor("NVKernelDeviceHalvorneTessel9"));
    ASSERT_EQ(mRecorder.events.size(), 1u);
    USBDevice* device = mRecorder.events[0].device;
    EXPECT_EQ(device->getVendorID(), kHalvorneVendorId);
    ASSERT_TRUE(device->open(true));
    EXPECT_EQ(device->setBufferSize(512), 512u);
    EXPECT_EQ(device->getCurrentBufferSize(), 512u);
    EXPECT_EQ(device->getConfigStatus(), 1u);   // streaming
    EXPECT_TRUE(device->suspendStreaming());
    EXPECT_EQ(device->getConfigStatus(), 2u);
    EXPECT_TRUE(device->resumeStreaming());
    EXPECT_TRUE(device->canClockSource(NXE_ClockSource(1)));
    EXPECT_EQ(device->setClockSource(NXE_ClockSource(2)), 2);
    EXPECT_EQ(device->getCurrentClockSource(), 2);

    char name[32] = "Studio B";
    EXPECT_TRUE(device->setHalvorneDeviceName(name));
    char back[33] = {};
    EXPECT_TRUE(device->getHalvorneDeviceName(back));
    EXPECT_STREQ(back, "Studio B");

    testing::internal::CaptureStdout();
    EXPECT_EQ(device->setRouting(true, 3, 42), 42);
    EXPECT_TRUE(NVKernelFixture::waitFor([&] { return device->getRouting(true, 3) == 42; }, 2000));
    testing::internal::GetCapturedStdout();

    unsigned long levels[32];
    EXPECT_TRUE(device->getInLevels(levels));
    EXPECT_TRUE(device->getOutLevels(levels));
}

// Events come on the run loop of the thread that started the registry, even when another
// thread runs the default one.
TEST_F(RegistryKernel, EventsArriveOnTheStartingThread)
{
    struct ThreadRecorder {
        std::vector<std::thread::id> threads;
        static void callback(void* context, USBDevice*, NXAPI_CBEvent)
        {
            static_cast<ThreadRecorder*>(context)->threads.push_back(std::this_thread::get_id());
        }
    } recorder;
    mKernel.plugQM7();
    std::thread::id starter;
    std::thread worker([&] {
        starter = std::this_thread::get_id();
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        nxapiInit(ThreadRecorder::callback, &recorder, kQM7);
        mKernel.plugQM7();
        NVRunLoopRunUntil(NVRunLoopGetCurrent(), [&] { return recorder.threads.size() >= 2; },
                          5000);
        nxapiTerm();
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    });
    worker.join();
    ASSERT_EQ(recorder.threads.size(), 2u);
    for (const std::thread::id& id : recorder.threads) EXPECT_EQ(id, starter);
}
