#include "FWUpdaterDefines.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Rows whose two forms differ in every way: minor number, missing minor, stage word.
TEST(FWUpdaterDefines, RivoltIsTheFullFormNorvaneTheThreeNumberForm)
{
    struct {
        int major, minor, revision, stage, build;
        const char* norvane;
        const char* rivolt;
    } const cases[] = {
        { 2, 1, 5, 4, 0, "2.5.4", "2.1.5" },
        { 3, 15, 5, 4, 0, "3.5.4", "3.05" },
        { 1, 15, 7, 3, 1, "1.7.3", "1.07.rc1" },
    };
    for (const auto& c : cases) {
        NxVersion v;
        std::memset(&v, 0, sizeof v);
        v.mMajor = c.major;
        v.mMinor = c.minor;
        v.mRevision = c.revision;
        v.mStage = c.stage;
        v.mBuild = c.build;
        FWMakeVersionStringNORVANE(v);
        EXPECT_STREQ(v.mText, c.norvane);
        FWMakeVersionStringRIVOLT(v);
        EXPECT_STREQ(v.mText, c.rivolt);
    }
}

} // namespace
