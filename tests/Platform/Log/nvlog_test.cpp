#include "nvlog.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

void collect(int priority, const char* text, void* context)
{
    static_cast<Lines*>(context)->emplace_back(priority, text);
}

TEST(NVLog, SinkReceivesSyslogAndNSLogLines)
{
    Lines lines;
    NVLogSetSink(collect, &lines);
    NVSysLog(LOG_WARNING, "fwupdater %08X\n", 0xE21Cu);
    testing::internal::CaptureStderr();
    NSLog("Failed to remove %s\n", "driver");
    std::string err = testing::internal::GetCapturedStderr();
    NVLogSetSink(nullptr, nullptr);

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (std::pair<int, std::string>(LOG_WARNING, "fwupdater 0000E21C\n")));
    EXPECT_EQ(lines[1], (std::pair<int, std::string>(LOG_NOTICE, "Failed to remove driver\n")));
    // "YYYY-MM-DD hh:mm:ss.mmm name[pid] text", one newline only.
    EXPECT_NE(err.find("] Failed to remove driver\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("\n\n"), std::string::npos);
    EXPECT_EQ(err[4], '-');
    EXPECT_EQ(err[19], '.');
}

} // namespace
