// The updater shell: start-up without a device, the command table, quitting.

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FWUpdaterDetection.h"
#include "FWWorkerThread.h"
#include "nvbundle.h"
#include "nvtoolkit_p.h"
#include "updater_fixture.h"

namespace {

struct Seen {
    std::vector<uint32_t> commands;
};

OSStatus recordCommand(EventHandlerCallRef, EventRef event, void* userData) {
    HICommand cmd{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof(cmd),
                      nullptr, &cmd);
    static_cast<Seen*>(userData)->commands.push_back(cmd.commandID);
    return noErr;
}

}  // namespace

TEST_F(UpdaterTest, StartsWithoutADevice) {
    FWUpdater u;
    ASSERT_NE(u.getWindow(), nullptr);
    EXPECT_TRUE(IsWindowVisible(u.getWindow()));
    bool checked = false;
    runWith(u, [&] {
        checked = true;
        EXPECT_EQ(titleText(u), "VESK:QM7 Firmware Updater");
        EXPECT_EQ(statusText(u), "Device not detected.");
        EXPECT_FALSE(IsControlEnabled(controlOf(u, "push", 3)));
        EXPECT_FALSE(IsControlEnabled(controlOf(u, "push", 6)));
        EXPECT_TRUE(IsControlEnabled(controlOf(u, "push", 10)));
        EXPECT_FALSE(IsControlVisible(controlOf(u, "popb", 5)));
        EXPECT_FALSE(IsControlVisible(controlOf(u, "push", 7)));
        ControlRef bar = controlOf(u, "prgb", 4);
        EXPECT_EQ(GetControlMinimum(bar), 0);
        EXPECT_EQ(GetControlMaximum(bar), 96);
        EXPECT_EQ(GetControlValue(bar), 0);
        EXPECT_TRUE(HIImageViewHasImage(controlOf(u, "imag", 1)));
        EXPECT_TRUE(fwUpdaterActive());
        EXPECT_EQ(u.mDevice.load(), nullptr);
        EXPECT_EQ(u.mImageSize, 0);
        EXPECT_TRUE(u.mReady);
        EXPECT_EQ(NVSendCommand(u.getWindow(), NVFourCC("exit")), noErr);
    });
    EXPECT_TRUE(checked);
}

// Each command goes to the handler the table names; "swin" and unknown codes pass on to the
// next handler in the chain.
TEST_F(UpdaterTest, CommandsReachTheRightHandler) {
    FWUpdater u;
    Seen next;
    const EventTypeSpec command{kEventClassCommand, kEventCommandProcess};
    ASSERT_EQ(InstallWindowEventHandler(u.getWindow(), recordCommand, 1, &command, &next, nullptr),
              noErr);
    runWith(u, [&] {
        struct Row {
            const char* code;
            OSStatus status;
            bool reachesNext;
        } rows[] = {
            {"pbok", noErr, false},
            {"flsh", noErr, false},   // handled even though no job is taken yet
            {"swin", noErr, true},    // answered by the next handler
            {"abcd", noErr, true},
        };
        for (const Row& row : rows) {
            size_t before = next.commands.size();
            globOKPressed = false;
            EXPECT_EQ(NVSendCommand(u.getWindow(), commandCode(row.code)),
                      row.status)
                << row.code;
            EXPECT_EQ(next.commands.size() > before, row.reachesNext) << row.code;
            if (std::string(row.code) == "pbok") {
                EXPECT_TRUE(globOKPressed.load());
            }
        }
        // "flsh" handed a job to the worker (without a device it ends at once).
        ASSERT_TRUE(pumpUntil([&] { return u.mIdle.load() && u.mWorker->mJob.load() == 0; }, 10000));

        // A command event without its command record.
        testing::internal::CaptureStdout();
        EventRef bare = NVCreateCommandEvent(NVFourCC("exit"), false);
        EXPECT_EQ(u.onEventHandler(nullptr, bare), eventNotHandledErr);
        ReleaseEvent(bare);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetEventParameter error\n");
        EXPECT_EQ(FWUpdater::mainWindowControlEventHandler(nullptr, nullptr, nullptr),
                  eventNotHandledErr);

        // "exit" while a job runs is ignored, yet handled.
        u.mIdle = false;
        EXPECT_EQ(NVSendCommand(u.getWindow(), NVFourCC("exit")), noErr);
        u.mIdle = true;
        QApplication::processEvents();
        EXPECT_TRUE(IsWindowVisible(u.getWindow()));   // still running
        EXPECT_EQ(NVSendCommand(u.getWindow(), NVFourCC("exit")), noErr);
    });
    EXPECT_EQ(next.commands, (std::vector<uint32_t>{NVFourCC("swin"), NVFourCC("abcd")}));
}

// The window's buttons issue their commands through the same chain.
TEST_F(UpdaterTest, ExitButtonQuits) {
    FWUpdater u;
    runWith(u, [&] {
        ControlRef button = controlOf(u, "push", 10);
        ASSERT_NE(button, nullptr);
        auto* push = qobject_cast<QPushButton*>(button->widget.data());
        ASSERT_NE(push, nullptr);
        push->click();
    });
}

TEST_F(UpdaterTest, ClosingTheWindowQuits) {
    FWUpdater u;
    runWith(u, [&] { CloseWindow(u.getWindow()); });
    EXPECT_FALSE(IsWindowVisible(u.getWindow()));
}

// Closing during a job cuts the device off and waits for the job; a job that does not end
// within about 5 seconds keeps the application running.
TEST_F(UpdaterTest, ClosingDuringAJobWaitsForIt) {
    FWUpdater u;
    runWith(u, [&] {
        u.mIdle = false;
        EXPECT_EQ(FWUpdater::mainWindowClosedHandler(nullptr, nullptr, &u), noErr);
        EXPECT_FALSE(u.mIdle.load());   // still "running": no quit
        QApplication::processEvents();
        u.mIdle = true;
        EXPECT_EQ(FWUpdater::mainWindowClosedHandler(nullptr, nullptr, nullptr), noErr);
        EXPECT_EQ(FWUpdater::mainWindowClosedHandler(nullptr, nullptr, &u), noErr);
    }, 30000);
}

TEST_F(UpdaterTest, RedrawTimerOnlyWhileAJobRuns) {
    FWUpdater u;
    runWith(u, [&] {
        FWUpdater::windowRedrawTimerProc(nullptr, nullptr);
        FWUpdater::windowRedrawTimerProc(nullptr, &u);
        u.mIdle = false;
        FWUpdater::windowRedrawTimerProc(nullptr, &u);
        u.mIdle = true;
        NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
}

// A description that cannot be found leaves the object without a window; it still runs.
TEST_F(UpdaterTest, WithoutTheWindowDescription) {
    std::string ui = mBundle + "/Resources/main.ui";
    ASSERT_EQ(rename(ui.c_str(), (ui + ".away").c_str()), 0);
    FWUpdater u;
    EXPECT_EQ(u.getWindow(), nullptr);
    runWith(u, [&] {
        EXPECT_EQ(titleText(u), "");
        EXPECT_EQ(statusText(u), "");
        QuitApplicationEventLoop();
    });
}

// The quit paths as a user meets them: a separate updater process sets the marker, and once
// it has quit through "exit" or by closing its window, the marker is gone.
class UpdaterQuit : public UpdaterTest, public testing::WithParamInterface<const char*> {};

TEST_P(UpdaterQuit, RemovesTheMarker) {
    std::string cmd = "NV_UPDATER_CHILD=" + std::string(GetParam()) +
                      " NV_UPDATER_KEY=" + std::to_string(mKey) + " NV_UPDATER_BUNDLE=" + mBundle +
                      " /proc/" + std::to_string(getpid()) +
                      "/exe --gtest_filter=UpdaterChild.Run 2>/dev/null";
    FILE* child = popen(cmd.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof(buffer), child))
        out += buffer;
    EXPECT_EQ(pclose(child), 0) << out;
    EXPECT_NE(out.find("marker set while running"), std::string::npos) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    EXPECT_FALSE(fwUpdaterActive());
}

INSTANTIATE_TEST_SUITE_P(Paths, UpdaterQuit, testing::Values("exit", "close"));

// The child side of UpdaterQuit (skipped unless started by it).
TEST(UpdaterChild, Run) {
    const char* how = getenv("NV_UPDATER_CHILD");
    if (!how)
        GTEST_SKIP() << "started only by UpdaterQuit";
    _fwUpdateSetShmKey(atoi(getenv("NV_UPDATER_KEY")));
    NVBundleSetMainBundlePath(getenv("NV_UPDATER_BUNDLE"));
    FWUpdater u;
    QTimer::singleShot(0, qApp, [&] {
        if (fwUpdaterActive())
            printf("marker set while running\n");
        if (std::string(how) == "close")
            CloseWindow(u.getWindow());
        else
            NVSendCommand(u.getWindow(), NVFourCC("exit"));
    });
    u.run();
}
