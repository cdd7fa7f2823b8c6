#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "nvbundle.h"

namespace {

class BundleTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nvbundle-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mDir = pattern;
        ASSERT_EQ(system(("mkdir -p " + mDir + "/Resources/sub").c_str()), 0);
        std::ofstream(mDir + "/Resources/tz_qm7_v141.bin") << "14100A";
        std::ofstream(mDir + "/Resources/README") << "x";
        NVBundleSetMainBundlePath(mDir);
    }
    void TearDown() override {
        NVBundleSetMainBundlePath("");
        ASSERT_EQ(system(("rm -rf " + mDir).c_str()), 0);
    }
    void writeInfo(const std::string& text) { std::ofstream(mDir + "/Info.plist") << text; }
    std::string mDir;
};

}  // namespace

TEST_F(BundleTest, ResourcesByNameAndType) {
    EXPECT_EQ(NVBundleCopyResourcePath("tz_qm7_v141", "bin"), mDir + "/Resources/tz_qm7_v141.bin");
    EXPECT_EQ(NVBundleCopyResourcePath("README", ""), mDir + "/Resources/README");
    EXPECT_EQ(NVBundleCopyResourcePath("README", nullptr), mDir + "/Resources/README");
    EXPECT_EQ(NVBundleCopyResourcePath("tz_qm7_v141", "png"), "");
    EXPECT_EQ(NVBundleCopyResourcePath("sub", ""), "");          // folders are not resources
    EXPECT_EQ(NVBundleCopyResourcePath("", "bin"), "");
    EXPECT_EQ(NVBundleCopyResourcePath(nullptr, "bin"), "");
}

TEST_F(BundleTest, IdentifierFromInfoPlist) {
    EXPECT_EQ(NVBundleGetIdentifier(), "");                       // no Info.plist
    writeInfo("not a property list");
    EXPECT_EQ(NVBundleGetIdentifier(), "");
    writeInfo("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    EXPECT_EQ(NVBundleGetIdentifier(), "");
    writeInfo("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><integer>3</integer></dict></plist>");
    EXPECT_EQ(NVBundleGetIdentifier(), "");
    writeInfo("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>com.example.tool</string></dict></plist>");
    EXPECT_EQ(NVBundleGetIdentifier(), "com.example.tool");
}

TEST(BundleLocation, FollowsTheExecutable) {
    NVBundleSetMainBundlePath("");
    std::string path = NVBundleGetMainBundlePath();
    EXPECT_NE(path.find("/../share/vesk-qm7/nvbundle_tests"), std::string::npos) << path;
}
