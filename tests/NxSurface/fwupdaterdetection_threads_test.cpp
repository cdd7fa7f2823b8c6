#include "FWUpdaterDetection.h"

#include "marker_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace {

// The updater registers from its main thread (device detached) and from its worker (end of
// a flash) without a lock between them: the registration stays whole and keeps one
// attachment.
TEST(PresenceMarkerThreads, RegisteringFromTwoThreads)
{
    MarkerKey marker;
    ASSERT_NE(marker.key(), 0);
    testing::internal::CaptureStdout();
    auto registerMany = [] {
        for (int i = 0; i < 50; ++i)
            _fwUpdateSetRegVal(1);
    };
    std::thread worker(registerMany);
    registerMany();
    worker.join();
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(_OSShmID.load(), shmget(marker.key(), 0, 0));
    EXPECT_EQ(marker.attachments(), 1);
    EXPECT_TRUE(fwUpdaterActive());
    _fwUpdateClearSM();
    EXPECT_FALSE(segmentExists(marker.key()));
    EXPECT_EQ(out.size(), 100 * std::string("fwupdateRegister value successfully written\n").size());
}

} // namespace
