// Version records: text forms, the firmware version read through both paths, and the
// property-list major version.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "GetDriverFileVer.h"
#include "fake_driver.h"

namespace {

NxVersion make(int major, int minor, int revision, int stage, int build)
{
    NxVersion v;
    std::memset(&v, 0, sizeof v);
    v.mMajor = major;
    v.mMinor = minor;
    v.mRevision = revision;
    v.mStage = stage;
    v.mBuild = build;
    return v;
}

std::vector<uint8_t> word(uint32_t w) { return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}; }

} // namespace

TEST(Version, TextForms)
{
    struct Case {
        int major, minor, revision, stage, build;
        const char* three;
        const char* full;
    } cases[] = {
        {2, 1, 5, 4, 0, "2.5.4", "2.1.5"},
        {3, 15, 5, 4, 0, "3.5.4", "3.05"},
        {2, 1, 5, 2, 3, "2.5.2", "2.1.5.b3"},
        {1, 15, 7, 3, 1, "1.7.3", "1.07.rc1"},
        {1, 0, 4, 1, 75, "1.4.1", "1.0.4.a75"},
        {2, 1, 5, 9, 0, "2.5.9", "2.1.5.d0"},
        {2, 1, 5, 7, 0, "2.5.7", "2.1.5.d0"},
        {1, 2, 3, 0, 4, "1.3.0", "1.2.3.d4"},
        {-2147483647 - 1, -2147483647 - 1, -2147483647 - 1, 0, -2147483647 - 1,
         "-2147483648.-2147483648.0", "-2147483648.-2147483648.-21.d-2147483648"},
    };
    for (const Case& c : cases) {
        NxVersion v = make(c.major, c.minor, c.revision, c.stage, c.build);
        _nxapiMakeVersionStringStd(v);
        EXPECT_STREQ(v.mText, c.three);
        _nxapiMakeVersionStringFirmware(v);
        EXPECT_STREQ(v.mText, c.three);
        _nxapiMakeVersionString(v);
        EXPECT_STREQ(v.mText, c.full);
    }
}

TEST(Version, FirmwareThroughTheDriverWord)
{
    FakeDriver driver;
    Device d(driver.openDevice());
    driver.answer(23, word(0x01040155));
    driver.answer(24, std::vector<uint8_t>(20, 'e'));
    NxVersion v;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(d->getFirmwareVersion(v, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "uFirmwareVersion 01040155\n");
    EXPECT_EQ(driver.codes(), (std::vector<uint32_t>{23, 24}));
    EXPECT_STREQ(v.mText, "1.4.1");
    EXPECT_EQ(v.mKernel, 'U');
    EXPECT_EQ(v.mBuild, 0x55);
    EXPECT_EQ(v.mMinor, 0);
    EXPECT_EQ(std::string(v.mExtra), std::string(15, 'e'));
}

TEST(Version, FirmwareThroughTheDeviceRequest)
{
    for (bool useRequest : {false, true}) {
        FakeDriver driver;
        Device d(driver.openDevice(0x11));   // layout A driver: the request still uses B
        driver.answer(23, word(0));
        driver.on(34, [](NX_Dispatch& r) {
            r.mPayload[0] = 0x4B;
            r.mPayload[1] = 1;
            r.mPayload[2] = 41;
            return FakeAnswer{};
        });
        driver.fail(24);
        NxVersion v;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(d->getFirmwareVersion(v, useRequest));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "fwupdater 0104014B\nuFirmwareVersion 0104014B\n");
        EXPECT_EQ(driver.codes(), useRequest ? (std::vector<uint32_t>{34, 24})
                                             : (std::vector<uint32_t>{23, 34, 24}));
        const NX_Dispatch& r = driver.mSent[useRequest ? 0 : 1];
        EXPECT_EQ(at<uint8_t>(r, 152), 0x56);
        EXPECT_EQ(at<uint32_t>(r, 140), 0x80u);
        EXPECT_EQ(at<uint32_t>(r, 144), 0x40u);
        EXPECT_EQ(at<uint32_t>(r, 132), 3u);
        EXPECT_EQ(at<uint16_t>(r, 136), 0);
        EXPECT_EQ(at<uint16_t>(r, 138), 0);
        EXPECT_STREQ(v.mText, "1.4.1");
        EXPECT_EQ(v.mKernel, 'K');
        EXPECT_EQ(v.mExtra[0], 0);   // failed code 24: no extra text, still a success
    }
}

TEST(Version, FirmwareReadFailuresLeaveTheRecordCleared)
{
    struct Case {
        const char* name;
        bool closed;
        FakeAnswer word, request;
    } cases[] = {
        {"closed", true, {}, {}},
        {"code 23 fails", false, {-1, 260}, {}},
        {"request fails", false, {0, 260}, {0, 12}},
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        Device d(driver.openDevice());
        driver.answer(23, word(0), c.word);
        driver.answer(34, {1, 2, 3}, c.request);
        if (c.closed) d->close();
        NxVersion v;
        std::memset(&v, 0x33, sizeof v);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(d->getFirmwareVersion(v, false)) << c.name;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(v.mMajor, 0) << c.name;
        EXPECT_EQ(v.mText[0], 0) << c.name;
        EXPECT_EQ(v.mExtra[0], 0) << c.name;
    }
}

TEST(Version, MajorFromPropertyList)
{
    const std::string dir = testing::TempDir();
    struct Case {
        const char* name;
        const char* content;   // null: no file
        int major;
    } cases[] = {
        {"two numbers", "<dict><key>NXModuleVersionString</key><string>2.1</string></dict>", 2},
        {"one number", "<dict><key>NXModuleVersionString</key><string>3</string></dict>", 3},
        {"long text", "<dict><key>NXModuleVersionString</key><string>12.4.7b3</string></dict>",
         12},
        {"letter first", "<dict><key>NXModuleVersionString</key><string>v2.1</string></dict>", 0},
        {"not text", "<dict><key>NXModuleVersionString</key><integer>4</integer></dict>", 0},
        {"no key", "<dict><key>Other</key><string>5.0</string></dict>", 0},
        {"not a dictionary", "<array><string>5.0</string></array>", 0},
        {"malformed", "<dict><key>NXModuleVersionString</key><string>5.0", 0},
        {"empty", "", 0},
        {"no file", nullptr, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir + "/nxversion_" + std::to_string(n++) + ".plist";
        std::remove(path.c_str());
        if (c.content) {
            std::ofstream out(path);
            out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                << c.content << "</plist>\n";
        }
        EXPECT_EQ(getMajorVersionFromPList(path.c_str()), c.major) << c.name;
        std::remove(path.c_str());
    }
    EXPECT_EQ(getMajorVersionFromPList(nullptr), 0);
}

TEST(Version, MajorFromBinaryPropertyList)
{
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "NXModuleVersionString", plist_new_string("7.2"));
    char* bin = nullptr;
    uint32_t size = 0;
    plist_to_bin(dict, &bin, &size);
    plist_free(dict);
    const std::string path = testing::TempDir() + "/nxversion_bin.plist";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bin, size);
    }
    free(bin);
    EXPECT_EQ(getMajorVersionFromPList(path.c_str()), 7);
    std::remove(path.c_str());
}
