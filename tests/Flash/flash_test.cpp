// The flash job end to end: "flsh" to a running updater with a simulated QM7, every outcome
// of the failure table, and the commands and window closing during a job.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FWFlashPacing.h"
#include "FWUpdaterDetection.h"
#include "flash_harness.h"

namespace {

const std::string kBase = "Current firmware version is 1.4.0 (kA)";
const std::string kFailed = "Failed updating firmware. Unplug the device now.";
const std::string kUnplug = "Unplug the device now";
const std::string kPlugIn = "plug in the device again...";
const std::string kNoDevice = "Device not detected.";
const std::string kSuccess = "Update to version 1.4.1 successful. Unplug the device now.";
const std::string kNotSuitable =
    "This update is not suitable for your device.\nPlease contact your manufacturer.";
const std::string kNoReturn = "Failed verifying firmware update.\r\nUnplug the device and retry.";
const std::string kVersionDiffers = "Update failed. Unplug the device now.";

using Texts = std::vector<std::string>;

// The status texts from the first `from` on.
Texts textsFrom(FlashSession& s, const std::string& from) {
    Texts all = textsOf(s.statusControl());
    auto at = std::find(all.begin(), all.end(), from);
    return Texts(at, all.end());
}

// Waits for the device's version line and starts the flash.
void startFlash(FlashSession& s, const std::string& base = kBase) {
    ASSERT_TRUE(s.waitStatus(base)) << s.status();
    EXPECT_TRUE(IsControlEnabled(s.flashButton()));
    controlLogClear();
    DriverCallRecorder::clear();
    s.command("flsh");
    ASSERT_TRUE(s.waitFor([&] { return !s.updater().mIdle; }, 2000));
}

// Unplugs the device under an outcome message and waits for the job to end.
void unplugAndEnd(FlashSession& s, FlashWorld& w) {
    EXPECT_TRUE(w.kernel.unplug(w.qm7)) << w.kernel.lastReply();
    ASSERT_TRUE(s.waitIdle());
    EXPECT_EQ(s.status(), "");
    EXPECT_TRUE(IsControlEnabled(s.exitButton()));
    EXPECT_TRUE(fwUpdaterActive());
}

// Page requests as "w17" / "r17".
std::vector<std::string> pageTrace() {
    std::vector<std::string> trace;
    for (const DriverCall& c : DriverCallRecorder::pageRequests())
        trace.push_back((c.in ? "r" : "w") + std::to_string(c.index));
    return trace;
}

std::vector<std::string> expectedTrace(int writtenPages, bool failedWrite, bool verify) {
    std::vector<std::string> trace{"r0"};
    for (int n = 0; n < writtenPages; ++n) {
        trace.push_back("w" + std::to_string(n));
        trace.push_back("r" + std::to_string(n));
    }
    if (failedWrite)
        trace.push_back("w" + std::to_string(writtenPages));
    if (verify)
        for (int n = 0; n < kFWPageCount; ++n)
            trace.push_back("r" + std::to_string(n));
    return trace;
}

class FlashTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(world.ready()) << world.kernel.lastReply(); }
    FlashWorld world;
};

}  // namespace

// The whole road: write, verify, commit, unplug, replug, version check, outcome; then the
// device reports the new version.
TEST_F(FlashTest, SuccessfulUpdate) {
    FWUpdater u;
    double flshAt = 0;
    bool clean = runFlashSession(u, world, [&](FlashSession& s) {
        startFlash(s);
        flshAt = flashNowMs();
        EXPECT_FALSE(IsControlEnabled(s.exitButton()));
        ASSERT_TRUE(s.waitStatus(kUnplug, 30000)) << s.status();
        EXPECT_TRUE(u.mUpdating);
        EXPECT_FALSE(IsControlEnabled(s.flashButton()));
        EXPECT_EQ(textsOf(s.statusControl()),
                  (Texts{kBase + " - writing", kBase + " - verifying", kBase, kBase + " - commit",
                         kUnplug}));
        EXPECT_EQ(pageTrace(), expectedTrace(kFWPageCount, false, true));

        // Progress: 0..95 and 96 while writing, 96..191 and 288 verifying, 193..288 committing.
        std::vector<int> progress{0};
        for (int n = 0; n < kFWPageCount; ++n)
            progress.push_back(n);
        progress.push_back(96);
        progress.push_back(96);
        for (int n = 0; n < kFWPageCount; ++n)
            progress.push_back(96 + n);
        progress.push_back(288);
        for (int n = 193; n <= 288; ++n)
            progress.push_back(n);
        progress.push_back(0);
        EXPECT_EQ(valuesOf(s.progressControl()), progress);

        // The pacing floors: 500 ms before the first request, 10 ms before each write,
        // 20 ms before each verification read, 96 x 62 ms of commit.
        std::vector<DriverCall> pages = DriverCallRecorder::pageRequests();
        ASSERT_EQ(pages.size(), 289u);
        EXPECT_GE(pages[0].ms - flshAt, 500 - 25);
        for (int n = 1; n < kFWPageCount; ++n)
            EXPECT_GE(pages[1 + 2 * n].ms - pages[2 * n].ms, 10) << n;
        for (int n = 1; n < kFWPageCount; ++n)
            EXPECT_GE(pages[193 + n].ms - pages[192 + n].ms, 20) << n;
        EXPECT_GE(timeOfText(s.statusControl(), kUnplug) - pages.back().ms, 96 * 62);

        controlLogClear();
        EXPECT_TRUE(world.kernel.unplug(world.qm7));
        ASSERT_TRUE(s.waitStatus(kPlugIn)) << s.status();
        EXPECT_TRUE(world.kernel.plug(world.qm7));
        ASSERT_TRUE(s.waitStatus(kSuccess)) << s.status();
        EXPECT_FALSE(u.mUpdating);
        EXPECT_EQ(std::string(u.mDeviceVersion.mText), "1.4.1");
        unplugAndEnd(s, world);
        EXPECT_EQ(textsOf(s.statusControl()),
                  (Texts{kNoDevice, kPlugIn, "Current firmware version is 1.4.1 (kA)", kSuccess,
                         kNoDevice, "Current firmware version is 1.4.1 (kA)", ""}));

        EXPECT_TRUE(world.kernel.plug(world.qm7));
        EXPECT_TRUE(s.waitStatus("Current firmware version is 1.4.1 (kA)")) << s.status();
        EXPECT_TRUE(IsControlEnabled(s.flashButton()));
    });
    EXPECT_TRUE(clean);
}

// The device unplugged and plugged back within one poll (the control command's "replug"):
// the job sees a new handle in place of the one it wrote to and goes on.
TEST_F(FlashTest, ReplugWithinOnePollCountsAsAReturn) {
    FWUpdater u;
    bool clean = runFlashSession(u, world, [&](FlashSession& s) {
        startFlash(s);
        ASSERT_TRUE(s.waitStatus(kUnplug, 30000)) << s.status();
        EXPECT_TRUE(world.kernel.replug(world.qm7));
        ASSERT_TRUE(s.waitStatus(kSuccess, 15000)) << s.status();
        unplugAndEnd(s, world);
    });
    EXPECT_TRUE(clean);
}

// The failures before the replug: each shows its messages in order, sends only what the
// procedure reaches, and ends when the device is unplugged.
TEST(FlashFailures, BeforeTheReplug) {
    struct Row {
        const char* name;
        const char* fault;
        Texts texts;                          // from base + " - writing" on
        std::vector<std::string> trace;       // page requests
        std::vector<int> progressTail;        // the last values of the bar
        const char* detail;                   // on standard output
    } rows[] = {
        {"prepare refused", "prepare-refused",
         {kBase + " - writing", kBase, kFailed, kNoDevice, kBase, ""},
         {},
         {0, 0},
         "The device is in use and cannot be updated.\r\n"
         "Close all other applications and retry the firmware update."},
        {"write fails at page 17", "write-fail 17",
         {kBase + " - writing", kBase, kFailed, kNoDevice, kBase, ""},
         expectedTrace(17, true, false),
         {15, 16, 96, 0},
         "Write failed at address 0x0440."},
        {"read-back of page 95 differs", "corrupt-read 95 5",
         {kBase + " - writing", kBase, kFailed, kNoDevice, kBase, ""},
         expectedTrace(96, false, false),
         {94, 95, 96, 0},
         "Verify failed at address 0x17C0."},
        {"read-back of page 40 fails", "read-fail 40",
         {kBase + " - writing", kBase, kFailed, kNoDevice, kBase, ""},
         expectedTrace(41, false, false),
         {39, 40, 96, 0},
         "Read failed at address 0x0A00."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FlashWorld w;
        ASSERT_TRUE(w.ready());
        ASSERT_TRUE(w.kernel.fault(w.qm7, row.fault)) << w.kernel.lastReply();
        FWUpdater u;
        testing::internal::CaptureStdout();
        bool clean = runFlashSession(u, w, [&](FlashSession& s) {
            startFlash(s);
            ASSERT_TRUE(s.waitStatus(kFailed)) << s.status();
            EXPECT_FALSE(IsControlEnabled(s.exitButton()));
            EXPECT_EQ(pageTrace(), row.trace);
            unplugAndEnd(s, w);
            EXPECT_EQ(textsOf(s.statusControl()), row.texts);
            std::vector<int> values = valuesOf(s.progressControl());
            ASSERT_GE(values.size(), row.progressTail.size());
            EXPECT_EQ(std::vector<int>(values.end() - row.progressTail.size() - 1, values.end() - 1),
                      row.progressTail)
                << "the detach sets 0 last";
        });
        std::string out = testing::internal::GetCapturedStdout();
        if (HasFailure())
            printf("%s", out.c_str());   // the failures were written there too
        EXPECT_TRUE(clean);
        EXPECT_NE(out.find(std::string(row.detail) + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("failed at address", out.find(row.detail) + strlen(row.detail)),
                  std::string::npos)
            << "one detail line";
    }
}

// An image for another kernel: nothing is prepared or written; the message waits for OK,
// then the job asks for the unplug.
TEST(FlashKernelTag, DifferentKernelTagIsRefused) {
    FlashWorld w("--fw 1.4.0 --kernel B");
    ASSERT_TRUE(w.ready());
    FWUpdater u;
    testing::internal::CaptureStdout();
    bool clean = runFlashSession(u, w, [&](FlashSession& s) {
        startFlash(s, "Current firmware version is 1.4.0 (kB)");
        ASSERT_TRUE(s.waitStatus(kNotSuitable)) << s.status();
        EXPECT_TRUE(IsControlVisible(s.okButton()));
        EXPECT_FALSE(IsControlVisible(s.flashButton()));
        s.command("pbok");
        ASSERT_TRUE(s.waitStatus(kFailed)) << s.status();
        EXPECT_FALSE(IsControlVisible(s.okButton()));
        EXPECT_TRUE(IsControlVisible(s.flashButton()));
        for (const DriverCall& c : DriverCallRecorder::calls())
            EXPECT_TRUE(c.code != 33 && c.code != 34) << "code " << c.code << " sent";
        unplugAndEnd(s, w);
        EXPECT_EQ(textsOf(s.statusControl()),
                  (Texts{kNotSuitable, "Current firmware version is 1.4.0 (kB)", kFailed, kNoDevice,
                         "Current firmware version is 1.4.0 (kB)", ""}));
    });
    EXPECT_TRUE(clean);
    std::string out = testing::internal::GetCapturedStdout();
    if (HasFailure())
        printf("%s", out.c_str());   // the failures were written there too
    EXPECT_NE(out.find("New version kernel: 65, Current: 66\n"), std::string::npos) << out;
}

// "flsh" with no device (the command handler only asks whether a job runs): the job fails at
// once and ends, since there is nothing to unplug.
TEST(FlashNoDevice, FailsAndEndsAtOnce) {
    FlashWorld w;
    ASSERT_TRUE(w.kernel.running());
    ASSERT_TRUE(w.kernel.unplug(w.qm7));
    FWUpdater u;
    bool clean = runFlashSession(u, w, [&](FlashSession& s) {
        ASSERT_TRUE(s.waitStatus(kNoDevice));
        controlLogClear();
        s.command("flsh");
        ASSERT_TRUE(s.waitFor([&] { return !textsOf(s.statusControl()).empty() && s.updater().mIdle; }));
        EXPECT_EQ(textsOf(s.statusControl()), (Texts{kFailed, kNoDevice, ""}));
        EXPECT_TRUE(DriverCallRecorder::pageRequests().empty());
    });
    EXPECT_TRUE(clean);
}

// The replug half: no return, a second drop-off, another version.
TEST(FlashFailures, ReplugOutcomes) {
    struct Row {
        const char* name;
        const char* fault;   // set before the device is plugged back
        std::string outcome;
        bool confirm;        // the outcome waits for OK, not for the unplug
        Texts texts;         // from kPlugIn on
    } rows[] = {
        {"no return within the wait", "no-return", kNoReturn, true, {kPlugIn, kNoReturn, kPlugIn, ""}},
        {"drop-off within 3 s and a second return", "drop-again 300 400", kSuccess, false,
         {kPlugIn, "Current firmware version is 1.4.1 (kA)", kNoDevice,
          "Current firmware version is 1.4.1 (kA)", kSuccess, kNoDevice,
          "Current firmware version is 1.4.1 (kA)", ""}},
        {"another version after the replug", "version-after-replug 1.4.2", kVersionDiffers, false,
         {kPlugIn, "Current firmware version is 1.4.2 (kA)", kVersionDiffers, kNoDevice,
          "Current firmware version is 1.4.2 (kA)", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FlashWorld w;
        ASSERT_TRUE(w.ready());
        fwReplugWaits().comeBack = 400;   // 2 s
        FWUpdater u;
        bool clean = runFlashSession(u, w, [&](FlashSession& s) {
            startFlash(s);
            ASSERT_TRUE(s.waitStatus(kUnplug, 30000)) << s.status();
            ASSERT_TRUE(w.kernel.fault(w.qm7, row.fault)) << w.kernel.lastReply();
            controlLogClear();
            EXPECT_TRUE(w.kernel.unplug(w.qm7));
            ASSERT_TRUE(s.waitStatus(kPlugIn));
            EXPECT_TRUE(w.kernel.plug(w.qm7)) << w.kernel.lastReply();
            ASSERT_TRUE(s.waitStatus(row.outcome, 15000)) << s.status();
            if (row.confirm) {
                EXPECT_TRUE(IsControlVisible(s.okButton()));
                s.command("pbok");
                ASSERT_TRUE(s.waitIdle());
                EXPECT_EQ(s.status(), "");
            } else {
                unplugAndEnd(s, w);
            }
            EXPECT_EQ(textsFrom(s, kPlugIn), row.texts);
        });
        EXPECT_TRUE(clean);
    }
}

// A second "flsh" right after the first is dropped after the worker's 1-second wait; "exit"
// during the job does nothing and quits once the job is over.
TEST_F(FlashTest, CommandsDuringAJob) {
    ASSERT_TRUE(world.kernel.fault(world.qm7, "write-fail 3"));
    FWUpdater u;
    bool quit = false;
    runFlashSession(u, world, [&](FlashSession& s) {
        ASSERT_TRUE(s.waitStatus(kBase));
        controlLogClear();
        DriverCallRecorder::clear();
        // Both in one go, so the second mostly arrives before the worker has taken the first.
        s.onMainThread([&] {
            NVSendCommand(u.getWindow(), NVFourCC("flsh"));
            NVSendCommand(u.getWindow(), NVFourCC("flsh"));
        });
        ASSERT_TRUE(s.waitStatus(kFailed)) << s.status();
        s.command("exit");
        EXPECT_TRUE(s.loopAlive());
        EXPECT_FALSE(s.waitFor([&] { return !s.loopAlive(); }, 300)) << "exit quit during the job";
        EXPECT_TRUE(world.kernel.unplug(world.qm7));
        ASSERT_TRUE(s.waitIdle());
        EXPECT_FALSE(s.waitFor([&] { return !s.updater().mIdle; }, 300)) << "a second job ran";
        EXPECT_EQ(DriverCallRecorder::pageRequests().size(), expectedTrace(3, true, false).size());
        s.command("exit");
        quit = s.waitFor([&] { return !s.loopAlive(); }, 2000) || !s.loopAlive();
    });
    EXPECT_TRUE(quit);
}

// Closing the window while pages are written cuts the device off: the next request fails,
// the job ends at once (nothing to unplug) and the application quits.
TEST_F(FlashTest, ClosingTheWindowDuringTheWritePassEndsTheJobAndQuits) {
    FWUpdater u;
    testing::internal::CaptureStdout();
    bool quit = false;
    Texts texts;
    bool clean = runFlashSession(u, world, [&](FlashSession& s) {
        startFlash(s);
        ASSERT_TRUE(s.waitFor([&] { return GetControlValue(s.progressControl()) >= 10; }));
        s.closeWindow();
        quit = s.waitFor([&] { return !s.loopAlive(); }, 2000) || !s.loopAlive();
        texts = textsOf(s.statusControl());
    });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(clean);
    EXPECT_TRUE(quit);
    EXPECT_TRUE(u.mIdle);
    EXPECT_LT(DriverCallRecorder::pageRequests().size(), 1u + 2 * kFWPageCount);
    EXPECT_NE(out.find("Write failed at address 0x"), std::string::npos) << out;
    // The detach's text comes in before or after the job's own base text.
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(Texts(texts.end() - 3, texts.end()), (Texts{kFailed, kBase, ""}));
    EXPECT_NE(std::find(texts.begin(), texts.end(), kNoDevice), texts.end());
}

// Closing it during the commit phase: the close handler gives up after about 5 s, the job
// goes on through the commit and the replug, and the application does not quit.
TEST_F(FlashTest, ClosingTheWindowDuringTheCommitPhaseLetsTheJobGoOn) {
    FWUpdater u;
    bool clean = runFlashSession(u, world, [&](FlashSession& s) {
        startFlash(s);
        ASSERT_TRUE(s.waitStatus(kBase + " - commit", 20000)) << s.status();
        s.closeWindow();
        ASSERT_TRUE(s.waitStatus(kPlugIn, 10000)) << s.status();
        EXPECT_TRUE(s.loopAlive());
        EXPECT_FALSE(u.mIdle);
        std::vector<int> values = valuesOf(s.progressControl());
        EXPECT_NE(std::find(values.begin(), values.end(), 288), values.end());
        EXPECT_FALSE(u.mUpdating) << "the device was already gone when the unplug was asked for";

        // The device comes back as a new arrival and the job finishes.
        EXPECT_TRUE(world.kernel.replug(world.qm7));
        ASSERT_TRUE(s.waitStatus(kSuccess, 15000)) << s.status();
        unplugAndEnd(s, world);
        EXPECT_TRUE(s.loopAlive()) << "the closed window does not quit the application later";
    });
    EXPECT_TRUE(clean);
}
