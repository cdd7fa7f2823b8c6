#include "VendorList.h"

#include "child_process.h"
#include "nvkernel_fixture.h"
#include "prefs_home.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<uint64_t> sortedUIDs(plist_t list)
{
    std::vector<uint64_t> uids;
    for (uint32_t i = 0; i < plist_array_get_size(list); ++i)
        uids.push_back(unitUID(plist_array_get_item(list, i)));
    std::sort(uids.begin(), uids.end());
    return uids;
}

plist_t registryUnits()
{
    plist_t list = nullptr;
    getHalvorneDevicesFromRegistry(&list);
    return list;
}

// Only present units of the Halvorne class with the Halvorne vendor id are listed: not a
// unit of another vendor, not one that publishes no ids, not a QM7, not an unplugged one.
TEST(HalvorneRegistry, ListsPresentUnitsOfTheVendor)
{
    NVKernelFixture kernel;
    ASSERT_TRUE(kernel.running());
    ASSERT_GT(kernel.plugHalvorne("--uid 0x1111"), 0);
    ASSERT_GT(kernel.plugHalvorne("--uid 0x2222"), 0);
    int gone = kernel.plugHalvorne("--uid 0x3333");
    ASSERT_TRUE(kernel.unplug(gone));
    ASSERT_GT(kernel.plugHalvorne("--uid 0x4444 --vendor 0x1234"), 0);
    ASSERT_GT(kernel.plugHalvorne("--uid 0x5555 --no-ids"), 0);
    ASSERT_GT(kernel.plugQM7(), 0);

    plist_t list = registryUnits();
    ASSERT_TRUE(list);
    EXPECT_EQ(sortedUIDs(list), (std::vector<uint64_t> { 0x1111, 0x2222 }));
    int64_t vendor = 0;
    EXPECT_TRUE(NVPlistDictGetInt(plist_array_get_item(list, 0), "idVendor", &vendor));
    EXPECT_EQ(vendor, kHalvorneVendorId);
    plist_free(list);

    ASSERT_TRUE(kernel.stop());
    list = registryUnits();
    ASSERT_TRUE(list) << "a service directory without units is an empty registry";
    EXPECT_EQ(plist_array_get_size(list), 0u);
    plist_free(list);
}

// A service directory that cannot be used leaves the caller's pointer as it was.
TEST(HalvorneRegistry, UnusableRegistryLeavesTheOutputUntouched)
{
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("file"), "not a directory"));
    ScopedEnv root("NVKERNEL_ROOT", dir.file("file/root"));
    plist_t sentinel = plist_new_array();
    plist_t list = sentinel;
    getHalvorneDevicesFromRegistry(&list);
    EXPECT_EQ(list, sentinel);
    plist_free(sentinel);
}

// The application remembers the units it has seen; the list outlives a unit's unplugging,
// another process reads the same list, and a remembered unit can be forgotten by its
// remembered description.
TEST(HalvorneRegistry, RememberedUnitsOutliveThePlugIn)
{
    PrefsHome home;
    ASSERT_TRUE(home.ok());
    NVKernelFixture kernel;
    ASSERT_TRUE(kernel.running());
    ASSERT_GT(kernel.plugHalvorne("--uid 0xA1"), 0);
    int second = kernel.plugHalvorne("--uid 0xB2");
    ASSERT_GT(second, 0);

    plist_t remembered = nullptr;
    getHalvorneDevicesFromPrefs(&remembered);
    plist_t present = registryUnits();
    ASSERT_TRUE(present);
    for (uint32_t i = 0; i < plist_array_get_size(present); ++i)
        EXPECT_TRUE(addHalvorneDeviceToDeviceList(remembered, plist_array_get_item(present, i)));
    for (uint32_t i = 0; i < plist_array_get_size(present); ++i)
        EXPECT_FALSE(addHalvorneDeviceToDeviceList(remembered, plist_array_get_item(present, i)));
    plist_free(present);

    ASSERT_TRUE(kernel.unplug(second));
    present = registryUnits();
    EXPECT_EQ(sortedUIDs(present), (std::vector<uint64_t> { 0xA1 }));
    plist_free(present);
    EXPECT_EQ(sortedUIDs(remembered), (std::vector<uint64_t> { 0xA1, 0xB2 }));

    ChildProcess other;
    ChildProcess::Options options { home.childEnv(), static_cast<uid_t>(-1) };
    EXPECT_EQ(runChild(other, { VENDORLIST_PROBE, home.bundle(), "list" }, options), 0) << other.err();
    std::string out = other.out();
    EXPECT_TRUE(out == "00000000000000a1\n00000000000000b2\n" || out == "00000000000000b2\n00000000000000a1\n") << out;

    plist_t forget = nullptr;
    for (uint32_t i = 0; i < plist_array_get_size(remembered); ++i)
        if (unitUID(plist_array_get_item(remembered, i)) == 0xB2)
            forget = plist_copy(plist_array_get_item(remembered, i));
    ASSERT_TRUE(forget);
    EXPECT_TRUE(removeHalvorneDeviceFromDeviceList(remembered, forget));
    plist_free(forget);
    plist_free(remembered);

    ChildProcess after;
    EXPECT_EQ(runChild(after, { VENDORLIST_PROBE, home.bundle(), "list" }, options), 0) << after.err();
    EXPECT_EQ(after.out(), "00000000000000a1\n");
}

} // namespace
