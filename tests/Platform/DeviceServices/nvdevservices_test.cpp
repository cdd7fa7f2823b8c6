#include "nvdevservices.h"
#include "nvkernel_fixture.h"
#include "nvplist.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kQM7Class = "NVKernelDeviceVESKQM7";

std::vector<NVDSObject> drain(NVDSObject iterator)
{
    std::vector<NVDSObject> services;
    while (NVDSObject s = NVDSIteratorNext(iterator))
        services.push_back(s);
    return services;
}

// Publish and terminate notices of one class on this thread's run loop, as a client arms them.
struct Watcher {
    NVDSObject master = 0;
    NVDSNotificationPortRef port = nullptr;
    NVDSObject published = 0, terminated = 0;
    std::vector<NVDSObject> arrived, gone;
    std::string events; // "+id" and "-id" in the order they came

    static void onPublish(void* self, NVDSObject it)
    {
        auto* w = static_cast<Watcher*>(self);
        for (NVDSObject s : drain(it)) {
            w->arrived.push_back(s);
            w->events += "+" + std::to_string(s);
        }
    }
    static void onTerminate(void* self, NVDSObject it)
    {
        auto* w = static_cast<Watcher*>(self);
        for (NVDSObject s : drain(it)) {
            w->gone.push_back(s);
            w->events += "-" + std::to_string(s);
        }
    }

    explicit Watcher(const char* className = kQM7Class)
    {
        EXPECT_EQ(NVDSGetMasterPort(&master), kNVDSSuccess);
        port = NVDSNotificationPortCreate(master);
        NVRunLoopAddSource(NVRunLoopGetCurrent(), NVDSNotificationPortGetRunLoopSource(port));
        plist_t matching = NVDSServiceMatching(className);
        EXPECT_EQ(NVDSAddMatchingNotification(port, kNVDSServicePublish, matching, onPublish, this, &published), kNVDSSuccess);
        EXPECT_EQ(NVDSAddMatchingNotification(port, kNVDSServiceTerminate, matching, onTerminate, this, &terminated), kNVDSSuccess);
        plist_free(matching);
        onPublish(this, published); // the services present now
        onTerminate(this, terminated);
    }
    ~Watcher()
    {
        for (NVDSObject s : arrived)
            NVDSObjectRelease(s);
        for (NVDSObject s : gone)
            NVDSObjectRelease(s);
        NVDSObjectRelease(published);
        NVDSObjectRelease(terminated);
        NVDSNotificationPortDestroy(port);
        NVDSObjectRelease(master);
    }
    bool runUntil(const std::function<bool()>& done, int ms = 3000)
    {
        return NVRunLoopRunUntil(NVRunLoopGetCurrent(), done, ms);
    }
};

NVDSStatus call(NVDSObject connection, uint32_t code, std::vector<uint8_t>* answer)
{
    uint8_t record[260] = {};
    memcpy(record, &code, 4);
    answer->assign(260, 0);
    size_t size = answer->size();
    NVDSStatus status = NVDSConnectCallStructMethod(connection, 0, record, sizeof record, answer->data(), &size);
    answer->resize(size);
    return status;
}

TEST(DeviceServices, DevicesPluggedBeforeAndAfterTheClientStartsArePublished)
{
    NVKernelFixture kernel;
    ASSERT_TRUE(kernel.running());
    int first = kernel.plugQM7();
    Watcher watcher;
    ASSERT_EQ(watcher.arrived.size(), 1u);
    EXPECT_EQ(watcher.arrived[0], kernel.entryId(first));

    int second = kernel.plugQM7();
    kernel.plugHalvorne(); // another class: not matched
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 2; }));
    EXPECT_EQ(watcher.arrived[1], kernel.entryId(second));
    EXPECT_STREQ(NVDSServiceGetClass(watcher.arrived[1]), kQM7Class);
}

TEST(DeviceServices, UnplugTerminatesTheSameIdentityAndReplugPublishesANewOne)
{
    NVKernelFixture kernel;
    int qm7 = kernel.plugQM7();
    Watcher watcher;
    ASSERT_EQ(watcher.arrived.size(), 1u);
    NVDSObject first = watcher.arrived[0];

    ASSERT_TRUE(kernel.unplug(qm7));
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.gone.size() == 1; }));
    EXPECT_EQ(watcher.gone[0], first);
    EXPECT_EQ(kernel.entryId(qm7), 0u);

    ASSERT_TRUE(kernel.plug(qm7));
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 2; }));
    EXPECT_NE(watcher.arrived[1], first); // entry ids are never reused
    EXPECT_EQ(watcher.arrived[1], kernel.entryId(qm7));

    // Replugged at once: the old service is told gone before the new one arrives.
    NVDSObject second = watcher.arrived[1];
    ASSERT_TRUE(kernel.replug(qm7));
    NVDSObject third = kernel.entryId(qm7);
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 3; }));
    EXPECT_EQ(watcher.events, "+" + std::to_string(first) + "-" + std::to_string(first) + "+" + std::to_string(second) +
                                  "-" + std::to_string(second) + "+" + std::to_string(third));

    // The gone service's handle stays valid while referenced, but its service is not there.
    NVDSObject connection = 0;
    EXPECT_NE(NVDSServiceOpen(first, 2, &connection), kNVDSSuccess);
    plist_t properties = nullptr;
    EXPECT_EQ(NVDSServiceCopyProperties(first, &properties), kNVDSErrorNotFound);
    EXPECT_EQ(properties, nullptr);
}

TEST(DeviceServices, ClassFoldersThatComeWithALaterDaemonAreWatched)
{
    NVKernelFixture kernel(false); // no daemon yet: nothing but the root
    Watcher watcher;
    EXPECT_TRUE(watcher.arrived.empty());
    ASSERT_TRUE(kernel.start("--plug", "qm7"));
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 1; }));
    ASSERT_TRUE(kernel.stop());
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.gone.size() == 1; }));
    ASSERT_TRUE(kernel.start({"--plug", "qm7", "--plug", "qm7"})); // the class folder is made anew
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 3; }));
}

TEST(DeviceServices, MatchingServicesListsWhatIsPresentInIdOrder)
{
    NVKernelFixture kernel;
    int a = kernel.plugQM7();
    int b = kernel.plugQM7();
    kernel.plugHalvorne();
    NVDSObject master = 0, iterator = 0;
    ASSERT_EQ(NVDSGetMasterPort(&master), kNVDSSuccess);
    plist_t matching = NVDSServiceMatching(kQM7Class);
    ASSERT_EQ(NVDSGetMatchingServices(master, matching, &iterator), kNVDSSuccess);
    std::vector<NVDSObject> found = drain(iterator);
    EXPECT_EQ(found, (std::vector<NVDSObject>{kernel.entryId(a), kernel.entryId(b)}));
    for (NVDSObject s : found)
        NVDSObjectRelease(s);
    NVDSObjectRelease(iterator);
    EXPECT_EQ(NVDSGetMatchingServices(master, nullptr, &iterator), kNVDSErrorBadArgument);
    plist_free(matching);
    NVDSObjectRelease(master);
}

TEST(DeviceServices, PropertiesAreADictionaryOfTheRegistryValues)
{
    NVKernelFixture kernel;
    kernel.plugHalvorne("--uid 0x0102030405060708 --product 8");
    kernel.plugQM7("--no-ids");
    NVDSObject master = 0, iterator = 0;
    ASSERT_EQ(NVDSGetMasterPort(&master), kNVDSSuccess);
    plist_t matching = NVDSServiceMatching("NVKernelDeviceHalvorneTessel9");
    ASSERT_EQ(NVDSGetMatchingServices(master, matching, &iterator), kNVDSSuccess);
    NVDSObject unit = NVDSIteratorNext(iterator);
    plist_t properties = nullptr;
    ASSERT_EQ(NVDSServiceCopyProperties(unit, &properties), kNVDSSuccess);
    int64_t vendor = 0, product = 0, routing = -1;
    EXPECT_TRUE(NVPlistDictGetInt(properties, "idVendor", &vendor));
    EXPECT_EQ(vendor, 0xFFF2);
    EXPECT_TRUE(NVPlistDictGetInt(properties, "idProduct", &product));
    EXPECT_EQ(product, 8);
    uint8_t uid[8] = {};
    size_t size = 0;
    EXPECT_TRUE(NVPlistDictGetData(properties, "HalvorneUID", uid, sizeof uid, &size));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(uid[0], 0x08);
    EXPECT_EQ(uid[7], 0x01);
    EXPECT_TRUE(NVPlistDictGetInt(NVPlistDictGet(properties, "ZrExtData"), "RoutingIn3", &routing));
    EXPECT_EQ(routing, 3);
    plist_free(properties);

    // A properties file that does not parse is a failed status, not a crash or a dictionary.
    std::string dir = kernel.root() + "/NVKernelDeviceHalvorneTessel9/" + std::to_string(unit);
    std::ofstream(dir + "/properties.plist") << "<plist><dict><key>broken";
    EXPECT_EQ(NVDSServiceCopyProperties(unit, &properties), kNVDSErrorProtocol);
    EXPECT_EQ(properties, nullptr);

    NVDSObjectRelease(unit);
    NVDSObjectRelease(iterator);
    plist_free(matching);

    matching = NVDSServiceMatching(kQM7Class);
    ASSERT_EQ(NVDSGetMatchingServices(master, matching, &iterator), kNVDSSuccess);
    NVDSObject qm7 = NVDSIteratorNext(iterator);
    ASSERT_EQ(NVDSServiceCopyProperties(qm7, &properties), kNVDSSuccess);
    EXPECT_EQ(NVPlistDictGet(properties, "idVendor"), nullptr);
    plist_free(properties);
    NVDSObjectRelease(qm7);
    NVDSObjectRelease(iterator);
    plist_free(matching);
    NVDSObjectRelease(master);
}

struct Opened {
    NVKernelFixture kernel;
    int device = -1;
    NVDSObject master = 0, service = 0, connection = 0;
    explicit Opened(const std::string& options = std::string())
    {
        device = kernel.plugQM7(options);
        EXPECT_EQ(NVDSGetMasterPort(&master), kNVDSSuccess);
        plist_t matching = NVDSServiceMatching(kQM7Class);
        NVDSObject iterator = 0;
        EXPECT_EQ(NVDSGetMatchingServices(master, matching, &iterator), kNVDSSuccess);
        service = NVDSIteratorNext(iterator);
        NVDSObjectRelease(iterator);
        plist_free(matching);
        EXPECT_EQ(NVDSServiceOpen(service, 2, &connection), kNVDSSuccess);
    }
    ~Opened()
    {
        NVDSServiceClose(connection);
        NVDSObjectRelease(service);
        NVDSObjectRelease(master);
    }
};

TEST(DeviceServices, ACallReturnsTheStatusAndTheAnswerLength)
{
    Opened d;
    std::vector<uint8_t> answer;
    ASSERT_EQ(call(d.connection, 22, &answer), kNVDSSuccess); // driver version
    EXPECT_EQ(answer.size(), 260u);
    EXPECT_EQ(answer[7], 0x21);

    ASSERT_TRUE(d.kernel.fault(d.device, "short-answer 22 100"));
    ASSERT_EQ(call(d.connection, 22, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.size(), 100u);

    EXPECT_EQ(call(d.connection, 999, &answer), kNVDSErrorUnsupported);
    uint8_t record[260] = {};
    size_t size = 260;
    EXPECT_EQ(NVDSConnectCallStructMethod(d.connection, 1, record, 260, record, &size), kNVDSErrorUnsupported);
    EXPECT_EQ(size, 0u);

    NVDSObject other = 0;
    EXPECT_EQ(NVDSServiceOpen(d.service, 3, &other), kNVDSErrorUnsupported); // only type 2
    EXPECT_EQ(other, 0u);
}

TEST(DeviceServices, StalledAndClosedConnectionsFailTheCall)
{
    Opened d;
    NVDSSetCallTimeout(200);
    std::vector<uint8_t> answer;
    ASSERT_TRUE(d.kernel.fault(d.device, "stall 23"));
    EXPECT_EQ(call(d.connection, 23, &answer), kNVDSErrorTimeout);
    EXPECT_EQ(call(d.connection, 22, &answer), kNVDSErrorIO); // the connection is spent
    NVDSSetCallTimeout(0);

    ASSERT_TRUE(d.kernel.fault(d.device, "clear"));
    ASSERT_TRUE(d.kernel.fault(d.device, "close all"));
    NVDSObject fresh = 0;
    ASSERT_EQ(NVDSServiceOpen(d.service, 2, &fresh), kNVDSSuccess);
    EXPECT_EQ(call(fresh, 22, &answer), kNVDSErrorIO);
    NVDSServiceClose(fresh);
    EXPECT_EQ(call(fresh, 22, &answer), kNVDSErrorNotOpen);
}

TEST(DeviceServices, ADaemonThatDiesLeavesFailedCallsAndRefusedSockets)
{
    Opened d;
    NVDSSetCallTimeout(2000);
    ASSERT_TRUE(d.kernel.fault(d.device, "stall 23"));
    std::vector<uint8_t> answer;
    std::thread killer([&] {
        NVKernelFixture::sleepMs(100);
        d.kernel.kill(); // dies mid-call
    });
    EXPECT_EQ(call(d.connection, 23, &answer), kNVDSErrorIO);
    killer.join();
    NVDSSetCallTimeout(0);

    // Its service folders stay behind; their sockets refuse.
    NVDSObject connection = 0;
    EXPECT_EQ(NVDSServiceOpen(d.service, 2, &connection), kNVDSErrorRefused);
    NVDSObject notification = 0;
    NVDSNotificationPortRef port = NVDSNotificationPortCreate(d.master);
    EXPECT_EQ(NVDSAddInterestNotification(port, d.service, nullptr, nullptr, &notification), kNVDSErrorRefused);
    NVDSNotificationPortDestroy(port);

    // A new daemon clears them.
    ASSERT_TRUE(d.kernel.start());
    EXPECT_EQ(d.kernel.rootListing(), ".control");
}

struct Notices {
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> got;
    NVDSObject service = 0;
    static void onNotice(void* self, NVDSObject service, uint32_t type, void* argument)
    {
        auto* n = static_cast<Notices*>(self);
        n->service = service;
        const uint32_t* words = static_cast<const uint32_t*>(argument);
        n->got.push_back({type, std::vector<uint32_t>(words, words + 3)});
    }
};

TEST(DeviceServices, InterestNoticesArriveWithTheirWords)
{
    Opened d;
    NVDSNotificationPortRef port = NVDSNotificationPortCreate(d.master);
    NVRunLoopAddSource(NVRunLoopGetCurrent(), NVDSNotificationPortGetRunLoopSource(port));
    Notices notices;
    NVDSObject notification = 0;
    ASSERT_EQ(NVDSAddInterestNotification(port, d.service, Notices::onNotice, &notices, &notification), kNVDSSuccess);
    ASSERT_TRUE(d.kernel.notice(d.device, 49));
    ASSERT_TRUE(d.kernel.ctlOk("notice " + std::to_string(d.device) + " --type 0xE0000200 37 34"));
    ASSERT_TRUE(NVRunLoopRunUntil(NVRunLoopGetCurrent(), [&] { return notices.got.size() == 2; }, 3000));
    EXPECT_EQ(notices.service, d.service);
    EXPECT_EQ(notices.got[0].first, 0xE0000130u);
    EXPECT_EQ(notices.got[0].second, (std::vector<uint32_t>{36, 49, 0}));
    EXPECT_EQ(notices.got[1].first, 0xE0000200u);
    EXPECT_EQ(notices.got[1].second, (std::vector<uint32_t>{37, 34, 0}));

    // Released: no more notices.
    NVDSObjectRelease(notification);
    ASSERT_TRUE(d.kernel.notice(d.device, 3));
    NVRunLoopRunFor(NVRunLoopGetCurrent(), 100);
    EXPECT_EQ(notices.got.size(), 2u);
    NVDSNotificationPortDestroy(port);
}

TEST(DeviceServices, AWorkerCallsWhileTheRunLoopDeliversNotices)
{
    Opened d;
    Watcher watcher;
    std::atomic<int> answered{0};
    std::thread worker([&] {
        std::vector<uint8_t> answer;
        for (int i = 0; i < 200; ++i)
            answered += call(d.connection, 23, &answer) == kNVDSSuccess;
    });
    int second = d.kernel.plugQM7();
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.arrived.size() == 2; }));
    ASSERT_TRUE(d.kernel.unplug(second));
    ASSERT_TRUE(watcher.runUntil([&] { return watcher.gone.size() == 1; }));
    worker.join();
    EXPECT_EQ(answered.load(), 200);
}

TEST(DeviceServices, BadHandlesAreStatusesNotCrashes)
{
    NVKernelFixture kernel;
    plist_t properties = nullptr;
    NVDSObject out = 0;
    EXPECT_EQ(NVDSServiceCopyProperties(12345, &properties), kNVDSErrorBadArgument);
    EXPECT_EQ(NVDSServiceOpen(0, 2, &out), kNVDSErrorBadArgument);
    EXPECT_EQ(NVDSServiceClose(7), kNVDSErrorBadArgument);
    EXPECT_EQ(NVDSIteratorNext(0), 0u);
    EXPECT_EQ(NVDSNotificationPortCreate(0), nullptr);
    EXPECT_EQ(NVDSServiceGetClass(99), nullptr);
    EXPECT_EQ(NVDSServiceMatching(nullptr), nullptr);
    size_t size = 260;
    uint8_t record[260] = {};
    EXPECT_EQ(NVDSConnectCallStructMethod(0x80001234u, 0, record, 260, record, &size), kNVDSErrorNotOpen);
    NVDSObjectRelease(0);
    NVDSObjectRetain(0);

    setenv("NVKERNEL_ROOT", (kernel.root() + "/.control/x").c_str(), 1); // under a socket: no directory
    EXPECT_EQ(NVDSGetMasterPort(&out), kNVDSErrorNoRoot);
    EXPECT_EQ(out, 0u);
}

} // namespace
