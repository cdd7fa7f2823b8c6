#include "FWUpdaterDetection.h"

#include "child_process.h"
#include "marker_key.h"
#include "nvlog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;

// Every test works on a key of its own.
class PresenceMarker : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(mMarker.key(), 0);
        mKey = mMarker.key();
        mKeyText = mMarker.text();
    }

    std::vector<std::string> probe(const char* action) const
    {
        return { FWMARKER_PROBE, mKeyText, action };
    }
    // Runs a checker process; its log lines arrive on its standard error.
    int check(ChildProcess& checker, uid_t uid = static_cast<uid_t>(-1)) const
    {
        ChildProcess::Options options;
        options.env = { "NV_LOG_STDERR=1" };
        options.uid = uid;
        return runChild(checker, probe("check"), options);
    }
    void makeSegment(uint32_t value, int mode) const
    {
        int id = shmget(mKey, 4, IPC_CREAT | IPC_EXCL | mode);
        ASSERT_NE(id, -1);
        void* at = shmat(id, nullptr, 0);
        ASSERT_NE(at, reinterpret_cast<void*>(-1));
        *static_cast<uint32_t*>(at) = value;
        shmdt(at);
    }
    int attachments() const { return mMarker.attachments(); }

    MarkerKey mMarker;
    int mKey = 0;
    std::string mKeyText;
};

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(PresenceMarker, SeenWhileTheUpdaterRunsAndGoneAfterItsExitHandler)
{
    ChildProcess updater;
    ASSERT_TRUE(updater.start(probe("register"), {}));
    ASSERT_TRUE(updater.waitForOutput("ready\n")) << updater.out();
    EXPECT_EQ(updater.out(), "fwupdateRegister value successfully written\nready\n");

    ChildProcess running;
    EXPECT_EQ(check(running), 0);
    EXPECT_TRUE(has(running.err(), "]: fwUpdaterActive correct value read\n")) << running.err();
    EXPECT_EQ(running.out(), "");

    updater.closeInput();
    EXPECT_EQ(updater.wait(), 0) << updater.err();
    EXPECT_FALSE(segmentExists(mKey));

    ChildProcess after;
    EXPECT_EQ(check(after), 1);
    EXPECT_TRUE(has(after.err(), "]: fwUpdaterActive: No updater detected\n")) << after.err();
}

TEST_F(PresenceMarker, KilledUpdaterLeavesTheMarkerUntilItIsRemoved)
{
    ChildProcess updater;
    ASSERT_TRUE(updater.start(probe("register"), {}));
    ASSERT_TRUE(updater.waitForOutput("ready\n")) << updater.out();
    updater.kill(SIGKILL);
    EXPECT_EQ(updater.wait(), 128 + SIGKILL);

    for (int i = 0; i < 2; ++i) {
        ChildProcess checker;
        EXPECT_EQ(check(checker), 0) << checker.err();
    }
    removeSegment(mKey);
    ChildProcess checker;
    EXPECT_EQ(check(checker), 1);
    EXPECT_TRUE(has(checker.err(), "fwUpdaterActive: No updater detected\n")) << checker.err();
}

TEST_F(PresenceMarker, ForeignValueIsLoggedInUpperCaseHex)
{
    const std::pair<uint32_t, const char*> cases[] = {
        { 0x00ABCDEF, "fwUpdaterActive wrong shm value: 0xABCDEF\n" },
        { 0x1, "fwUpdaterActive wrong shm value: 0x1\n" },
        { 0x0, "fwUpdaterActive wrong shm value: 0x0\n" },
        { 0xE21C0000, "fwUpdaterActive wrong shm value: 0xE21C0000\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        makeSegment(c.first, 0666);
        ChildProcess checker;
        EXPECT_EQ(check(checker), 1);
        EXPECT_TRUE(has(checker.err(), c.second)) << checker.err();
        removeSegment(mKey);
    }
}

TEST_F(PresenceMarker, UnregisterWithoutRegistrationReportsEinval)
{
    ChildProcess stranger;
    EXPECT_EQ(runChild(stranger, probe("unregister")), 0);
    EXPECT_EQ(stranger.out(), "fwupdateUnRegister: error EINVAL, illegal address\n");
}

// The updater runs as root; checkers of other users must see its marker, and a segment
// they may not read is reported as such, not as "no updater".
TEST_F(PresenceMarker, CheckersOfOtherUsers)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a checker as another user";
    ChildProcess updater;
    ASSERT_TRUE(updater.start(probe("register"), {}));
    ASSERT_TRUE(updater.waitForOutput("ready\n"));
    ChildProcess other;
    EXPECT_EQ(check(other, kNobody), 0);
    EXPECT_TRUE(has(other.err(), "fwUpdaterActive correct value read\n")) << other.err();
    updater.closeInput();
    EXPECT_EQ(updater.wait(), 0);

    makeSegment(kFWUpdaterShmValue, 0600);
    ChildProcess denied;
    EXPECT_EQ(check(denied, kNobody), 1);
    EXPECT_TRUE(has(denied.err(),
                    "fwUpdaterActive: error EACCES, no permission to access this shared memory segment\n"))
        << denied.err();
}

using Lines = std::vector<std::pair<int, std::string>>;

void collect(int priority, const char* text, void* context)
{
    static_cast<Lines*>(context)->emplace_back(priority, text);
}

// The lines go to the system log at the warning level; a checker that asks again and again,
// and an updater that registers again, keep a single attachment.
TEST_F(PresenceMarker, LogsAtWarningLevelAndKeepsOneAttachment)
{
    Lines lines;
    NVLogSetSink(collect, &lines);
    testing::internal::CaptureStdout();
    bool before = fwUpdaterActive();
    bool registered = fwupdateRegister() && fwupdateRegister() && fwupdateRegister();
    int afterRegister = attachments();
    bool seen = true;
    for (int i = 0; i < 5; ++i)
        seen = fwUpdaterActive() && seen;
    int afterChecks = attachments();
    std::string out = testing::internal::GetCapturedStdout();
    NVLogSetSink(nullptr, nullptr);

    EXPECT_FALSE(before);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(seen);
    EXPECT_EQ(afterRegister, 1);
    EXPECT_EQ(afterChecks, 1);
    EXPECT_EQ(_OSShmID.load(), shmget(mKey, 0, 0));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], (std::pair<int, std::string>(LOG_WARNING, "fwUpdaterActive: No updater detected\n")));
    EXPECT_EQ(lines[5], (std::pair<int, std::string>(LOG_WARNING, "fwUpdaterActive correct value read\n")));
    EXPECT_EQ(out, "fwupdateRegister value successfully written\n"
                   "fwupdateRegister value successfully written\n"
                   "fwupdateRegister value successfully written\n");

    _fwUpdateSetRegVal(0);
    EXPECT_FALSE(segmentExists(mKey));
}

} // namespace
