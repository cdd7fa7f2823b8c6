#include "VendorList.h"

#include "child_process.h"
#include "halvorne_units.h"
#include "prefs_home.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

class DeviceListPrefs : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mHome.ok()); }

    std::unique_ptr<std::vector<std::string>> stored() const { return mHome.storedNames(); }
    ChildProcess::Options childOptions() const { return { mHome.childEnv(), static_cast<uid_t>(-1) }; }

    PrefsHome mHome;
};

struct Entry {
    const char* name;
    Bytes uid;
    bool hasUID;
};

Entry with(const char* name, Bytes uid) { return { name, std::move(uid), true }; }
Entry without(const char* name) { return { name, {}, false }; }

plist_t makeList(const std::vector<Entry>& entries)
{
    plist_t list = plist_new_array();
    for (const Entry& e : entries)
        plist_array_append_item(list, makeUnit(e.name, e.hasUID ? &e.uid : nullptr));
    return list;
}

enum Op { Add, Remove };

struct ListCase {
    const char* what;
    std::vector<Entry> listed;
    Op op;
    Entry unit;
    bool result;
    std::vector<std::string> after;   // the list afterwards, in memory and, when changed, on disk
};

const Bytes A = { 1, 2, 3, 4, 5, 6, 7, 8 };
const Bytes B = { 9, 9, 9, 9, 9, 9, 9, 9 };
const Bytes ZERO = { 0, 0, 0, 0, 0, 0, 0, 0 };

const ListCase kListCases[] = {
    { "add to an empty list", {}, Add, with("a", A), true, { "a" } },
    { "add a listed identifier", { with("a", A) }, Add, with("a2", A), false, { "a" } },
    { "add another identifier", { with("a", A) }, Add, with("b", B), true, { "a", "b" } },
    { "identifier 0 is never listed", { with("z", ZERO) }, Add, with("z2", ZERO), true, { "z", "z2" } },
    { "empty data reads as 0", { with("z", {}) }, Add, with("z2", ZERO), true, { "z", "z2" } },
    { "entries without identifier never count", { without("n") }, Add, with("a", A), true, { "n", "a" } },
    { "short data fills the low bytes", { with("a", { 1, 2, 3, 0, 0, 0, 0, 0 }) }, Add, with("s", { 1, 2, 3 }), false, { "a" } },
    { "short data is not the high bytes", { with("a", { 0, 0, 0, 0, 0, 1, 2, 3 }) }, Add, with("s", { 1, 2, 3 }), true, { "a", "s" } },
    { "only 8 bytes of long data count", { with("a", { 1, 2, 3, 4, 5, 6, 7, 8, 0xAA }) }, Add,
      with("l", { 1, 2, 3, 4, 5, 6, 7, 8, 0xBB, 0xCC }), false, { "a" } },
    { "add without identifier", { with("a", A) }, Add, without("n"), false, { "a" } },
    { "remove the first of two", { with("a", A), with("b", B), with("a2", A) }, Remove, with("x", A), true, { "b", "a2" } },
    { "remove identifier 0", { with("a", A), with("z", ZERO) }, Remove, with("x", ZERO), true, { "a" } },
    { "remove short data", { with("a", { 7, 0, 0, 0, 0, 0, 0, 0 }) }, Remove, with("x", { 7 }), true, {} },
    { "remove an unlisted identifier", { with("a", A) }, Remove, with("b", B), false, { "a" } },
    { "remove without identifier", { without("n") }, Remove, without("n"), false, { "n" } },
};

TEST_F(DeviceListPrefs, AddAndRemove)
{
    int row = 0;
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE(c.what);
        mHome.useConfig("row" + std::to_string(row++));
        plist_t list = makeList(c.listed);
        plist_t unit = makeUnit(c.unit.name, c.unit.hasUID ? &c.unit.uid : nullptr);
        bool result = c.op == Add ? addHalvorneDeviceToDeviceList(list, unit) : removeHalvorneDeviceFromDeviceList(list, unit);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(unitNames(list), c.after);
        auto onDisk = stored();
        if (c.result) {
            ASSERT_TRUE(onDisk);
            EXPECT_EQ(*onDisk, c.after);
        } else {
            EXPECT_FALSE(onDisk) << "stored although nothing changed";
        }
        plist_free(unit);
        plist_free(list);
    }
}

TEST_F(DeviceListPrefs, RefusesWhatIsNotAList)
{
    plist_t unit = makeUnit("a", &A);
    plist_t notAList = plist_new_dict();
    EXPECT_FALSE(addHalvorneDeviceToDeviceList(nullptr, unit));
    EXPECT_FALSE(addHalvorneDeviceToDeviceList(notAList, unit));
    EXPECT_FALSE(removeHalvorneDeviceFromDeviceList(notAList, unit));
    plist_t list = plist_new_array();
    EXPECT_FALSE(addHalvorneDeviceToDeviceList(list, nullptr));
    EXPECT_FALSE(stored());
    plist_free(list);
    plist_free(notAList);
    plist_free(unit);
}

// The list one application stores is what another process reads back, in order; with
// nothing stored it reads an empty list, not a missing one.
TEST_F(DeviceListPrefs, ListIsSharedThroughThePreferencesFile)
{
    plist_t list = reinterpret_cast<plist_t>(1);
    getHalvorneDevicesFromPrefs(&list);
    ASSERT_NE(list, reinterpret_cast<plist_t>(1));
    ASSERT_TRUE(list);
    EXPECT_EQ(plist_get_node_type(list), PLIST_ARRAY);
    EXPECT_EQ(plist_array_get_size(list), 0u);

    plist_t a = makeUnit("a", &A), b = makeUnit("b", &B);
    EXPECT_TRUE(addHalvorneDeviceToDeviceList(list, a));
    EXPECT_TRUE(addHalvorneDeviceToDeviceList(list, b));
    plist_free(a);
    plist_free(b);
    plist_free(list);

    ChildProcess other;
    EXPECT_EQ(runChild(other, { VENDORLIST_PROBE, mHome.bundle(), "list" }, childOptions()), 0) << other.err();
    EXPECT_EQ(other.out(), "0807060504030201\n0909090909090909\n");
}

TEST_F(DeviceListPrefs, ValueOfAnotherTypeIsNoList)
{
    ASSERT_EQ(mkdir(mHome.dir().file("config").c_str(), 0700), 0);
    ASSERT_TRUE(writeFile(mHome.prefsFile(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                      "<key>DevicesList</key><string>x</string></dict></plist>\n"));
    plist_t list = nullptr;
    getHalvorneDevicesFromPrefs(&list);
    ASSERT_TRUE(list);
    EXPECT_EQ(plist_get_node_type(list), PLIST_ARRAY);
    EXPECT_EQ(plist_array_get_size(list), 0u);
    plist_free(list);
}

// A preferences file that does not parse reads as no list, says so once on standard error,
// and stays as it is until the list is changed.
TEST_F(DeviceListPrefs, UnparseableFileIsReportedAndKeptUntilTheListChanges)
{
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>DevicesList</key><array>";
    ASSERT_EQ(mkdir(mHome.dir().file("config").c_str(), 0700), 0);
    ASSERT_TRUE(writeFile(mHome.prefsFile(), garbage));

    testing::internal::CaptureStderr();
    plist_t list = nullptr;
    getHalvorneDevicesFromPrefs(&list);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(list);
    EXPECT_EQ(plist_array_get_size(list), 0u);
    EXPECT_EQ(err, "VendorList: preferences " + mHome.prefsFile() + " do not parse; no DevicesList read\n");
    EXPECT_EQ(readFile(mHome.prefsFile()), garbage);

    plist_t listed = makeUnit("a", &A);
    plist_t other = makeUnit("b", &B);
    EXPECT_FALSE(removeHalvorneDeviceFromDeviceList(list, other));
    EXPECT_EQ(readFile(mHome.prefsFile()), garbage);
    EXPECT_TRUE(addHalvorneDeviceToDeviceList(list, listed));
    auto onDisk = stored();
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(*onDisk, std::vector<std::string>({ "a" }));
    plist_free(other);
    plist_free(listed);
    plist_free(list);
}

// Another application storing the list is killed at random moments: the file is always the
// old list or the new one, never a part of either.
TEST_F(DeviceListPrefs, KilledWriterNeverLeavesATornFile)
{
    std::mt19937 random(12345);
    size_t length = 0;
    for (int round = 0; round < 25; ++round) {
        ChildProcess writer;
        ASSERT_TRUE(writer.start({ VENDORLIST_PROBE, mHome.bundle(), "add-forever" }, childOptions()));
        usleep(2000 + random() % 30000);
        writer.kill(SIGKILL);
        ASSERT_EQ(writer.wait(), 128 + SIGKILL) << writer.err();

        struct stat st;
        if (stat(mHome.prefsFile().c_str(), &st) != 0)
            continue;   // killed before the first store
        auto names = stored();
        ASSERT_TRUE(names) << "round " << round << ": the file does not parse";
        ASSERT_GE(names->size(), length);
        for (size_t i = 0; i < names->size(); ++i)
            ASSERT_EQ((*names)[i], "u" + std::to_string(i + 1));
        length = names->size();
    }
    EXPECT_GT(length, 0u);
}

} // namespace
