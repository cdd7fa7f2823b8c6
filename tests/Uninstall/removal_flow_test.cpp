// The uninstall run against recording stand-ins: which commands run in which order with
// which exact arguments, the pauses, the texts, the log lines and the verdict.

#include "packageids.h"
#include "recording.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using Log = std::vector<std::string>;

const std::string P = kPackageIdentifierPrefix;
const char* const kRemoved =
    "The driver has been\ncompletly removed.\nYou should reboot your\ncomputer now.";
const char* const kNotRemoved = "The driver has NOT\nbeen removed.";

std::string text(const char* t)
{
    return std::string("text ") + t;
}

const std::string kPause = "pause 500000";

// Every row run, nothing failing.
const Log kCompleteRun = {
    "create",
    text("removing USB drivers."),
    "launch /bin/rm|-r|/System/Library/Extensions/VESK_QM7.kext",
    kPause,
    "launch /bin/rm|-r|/Library/Receipts/VESK_QM7_driver.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "VESK_QM7driver",
    "launch /bin/bash|-c|sudo touch /System/Library/Extensions",
    text("removing USB drivers."),
    "launch /bin/rm|-r|/Library/Extensions/VESK_QM7.kext",
    kPause,
    "launch /bin/rm|-r|/Library/Receipts/VESK_QM7_driver.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "VESK_QM7driver",
    "launch /bin/bash|-c|sudo touch /System/Library/Extensions",
    text("removing audio drivers."),
    kPause,
    "launch /bin/rm|-r|/Library/Audio/Plug-Ins/HAL/VESK_QM7.plugin",
    kPause,
    "launch /bin/rm|-r|/Library/Receipts/VESK_QM7_plugin.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "VESK_QM7plugin",
    text("removing core audio drivers."),
    kPause,
    "launch /bin/rm|-r|/Library/Audio/Plug-Ins/HAL/TBD.driver",
    kPause,
    "launch /bin/rm|-r|/Library/Receipts/TBD_coreaudio.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "TBDplugin",
    text("removing control application."),
    kPause,
    "launch /bin/rm|-r|/Applications/VESK_QM7ControlApp.app",
    "launch /bin/rm|-r|/Library/Receipts/VESK_QM7_control.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "VESK_QM7ControlAppcontrol",
    text("removing MIDI drivers."),
    kPause,
    "launch /bin/rm|-r|/Library/Audio/MIDI Drivers/VESK_QM7 MIDI Driver.plugin",
    kPause,
    "launch /bin/rm|-r|/Library/Receipts/VESK_QM7_midi.pkg",
    kPause,
    "launch /usr/sbin/pkgutil|-f|--forget|" + P + "VESK_QM7 MIDI Drivermidi",
    text("removing receipts."),
    kPause,
    "launch /bin/rm|-f|/var/db/receipts/" + P + "VESK_QM7.control.bom|/var/db/receipts/" + P
        + "VESK_QM7.control.plist|/var/db/receipts/" + P
        + "VESK_QM7.driver.bom|/var/db/receipts/" + P + "VESK_QM7.driver.plist|/var/db/receipts/"
        + P + "VESK_QM7.midi.plugin.bom|/var/db/receipts/" + P
        + "VESK_QM7.midi.plugin.plist|/var/db/receipts/" + P
        + "VESK_QM7.plugin.bom|/var/db/receipts/" + P + "VESK_QM7.plugin.plist",
    text(kRemoved),
    "free 8",
};
constexpr size_t kLaunchesPerRun = 21;

class Flow : public testing::Test {
protected:
    Flow()
    {
        ctrl.textField = &label;
        ctrl.cancelButton = &cancel;
        ctrl.uninstallButton = &uninstall;
    }
    // Launch number `index` of each run yields `status`, every other launch 0.
    void failLaunch(size_t index, OSStatus status)
    {
        system.launchStatus = [=](size_t n) { return n == index ? status : 0; };
    }

    RecordingSystem system;
    RecordingController ctrl {system};
    QLabel label;
    QPushButton cancel;
    QPushButton uninstall;
    LogLines logged;
};

TEST_F(Flow, CompleteRunRemovesEveryRowInOrderAndDisablesUninstall)
{
    ctrl.doUninstall(nullptr);
    EXPECT_EQ(system.log, kCompleteRun);
    EXPECT_EQ(system.count("pause "), 16u);
    EXPECT_EQ(system.count("launch "), kLaunchesPerRun);
    EXPECT_EQ(label.text().toStdString(), kRemoved);
    EXPECT_FALSE(uninstall.isEnabled());
    EXPECT_TRUE(logged.lines.empty());
    // One authorization for the whole run, given to every launch and freed at the end.
    ASSERT_EQ(system.created.size(), 1u);
    EXPECT_EQ(system.used, std::vector<AuthorizationRef>(kLaunchesPerRun + 1, system.created[0]));
    EXPECT_EQ(ctrl.authorizationRef, nullptr);
}

// One row per launch of a run: the step's log line when that launch fails with status
// -60031, the line of removeAll when that decides its row, and whether the run still
// counts as a complete removal.
struct FailedLaunch {
    size_t index;
    const char* stepLine; // %d stands for the status
    const char* rowLine;  // null: the row does not fail
    bool removed;
};
const FailedLaunch kFailedLaunches[] = {
    {0, "\nError removing the\ndriver %d", nullptr, true},
    {1, "\nError removing the\npackage (< 10.6) %d", nullptr, true},
    {2, "\nError forgetting receipt %d", nullptr, true},
    {3, "\nError removing the\nExtension package %d", "Failed to remove driver\n", false},
    {4, "\nError removing the\ndriver %d", nullptr, true},
    {5, "\nError removing the\npackage (< 10.6) %d", nullptr, true},
    {6, "\nError forgetting receipt %d", nullptr, true},
    {7, "\nError removing the\nExtension package %d", "Failed to remove driver\n", true},
    {8, "\nError removing the\nplugin %d", nullptr, true},
    {9, "\nError removing the\nplugin package /Library/Receipts/VESK_QM7_plugin.pkg %d", nullptr,
     true},
    {10, "\nError forgetting receipt %d", "Failed to remove HAL\n", false},
    {11, "\nError removing the\nplugin %d", nullptr, true},
    {12, "\nError removing the\nplugin package /Library/Receipts/TBD_coreaudio.pkg %d", nullptr,
     true},
    {13, "\nError forgetting receipt %d", "Failed to remove CoreAudio DriverPlugin\n", true},
    {14, "\nError removing the\napplication %d", nullptr, true},
    {15, "\nError removing the application package %d", nullptr, true},
    {16, "\nError forgetting receipt %d", "Failed to remove Control\n", false},
    {17, "\nError removing the\nMIDI driver %d", nullptr, true},
    {18, "\nError removing the MIDI package %d", nullptr, true},
    {19, "\nError forgetting receipt %d", "Failed to remove MIDI\n", false},
    {20, "\nError removing the\nfiles %d", "Failed to remove receipts\n", false},
};

// The complete run up to and including its launch number index.
Log throughLaunch(size_t index)
{
    Log prefix;
    size_t launches = 0;
    for (const std::string& entry : kCompleteRun) {
        prefix.push_back(entry);
        if (entry.rfind("launch ", 0) == 0 && launches++ == index)
            break;
    }
    return prefix;
}

std::string withStatus(const char* format, OSStatus status)
{
    std::string line = format;
    line.replace(line.find("%d"), 2, std::to_string(status));
    return line;
}

TEST_F(Flow, FailedLaunchIsLoggedAndJudgedByItsRow)
{
    // -60031 stands for any failure that is logged; -60032 is never logged but fails alike.
    for (OSStatus status : {errAuthorizationToolExecuteFailure, errAuthorizationDenied,
                            errAuthorizationToolEnvironmentError}) {
        for (const FailedLaunch& row : kFailedLaunches) {
            SCOPED_TRACE("launch " + std::to_string(row.index) + ", status "
                         + std::to_string(status));
            system.log.clear();
            logged.lines.clear();
            uninstall.setEnabled(true);
            failLaunch(row.index, status);
            ctrl.doUninstall(nullptr);

            Log expected;
            if (status != errAuthorizationToolEnvironmentError)
                expected.push_back(withStatus(row.stepLine, status));
            if (row.rowLine)
                expected.push_back(row.rowLine);
            EXPECT_EQ(logged.lines, expected);
            EXPECT_EQ(system.count("launch "), kLaunchesPerRun);
            EXPECT_EQ(system.count("pause "), 16u);
            EXPECT_EQ(label.text().toStdString(), row.removed ? kRemoved : kNotRemoved);
            EXPECT_EQ(uninstall.isEnabled(), !row.removed);
            EXPECT_EQ(system.log.back(), "free 8");
        }
    }
}

TEST_F(Flow, CancelledPromptInTheFirstDriverStepEndsTheRun)
{
    const char* const stepLines[] = {
        "\nError removing the\ndriver -60006",
        "\nError removing the\npackage (< 10.6) -60006",
        "\nError forgetting receipt -60006",
        "\nError removing the\nExtension package -60006",
    };
    for (size_t index = 0; index < 4; ++index) {
        SCOPED_TRACE("cancelled at launch " + std::to_string(index));
        system.log.clear();
        logged.lines.clear();
        failLaunch(index, errAuthorizationCanceled);
        ctrl.doUninstall(nullptr);
        Log expected = throughLaunch(index);
        expected.push_back(text(kNotRemoved));
        expected.push_back("free 8");
        EXPECT_EQ(system.log, expected);
        EXPECT_EQ(logged.lines, (Log {stepLines[index], "Failed to remove driver\n"}));
        EXPECT_EQ(label.text().toStdString(), kNotRemoved);
        EXPECT_TRUE(uninstall.isEnabled());
    }

    // The next click runs every row again under a new authorization.
    system.log.clear();
    system.used.clear();
    system.launchStatus = [](size_t) { return 0; };
    ctrl.doUninstall(nullptr);
    EXPECT_EQ(system.log, kCompleteRun);
    ASSERT_EQ(system.created.size(), 5u);
    EXPECT_EQ(system.used, std::vector<AuthorizationRef>(kLaunchesPerRun + 1, system.created[4]));
    EXPECT_NE(system.created[4], system.created[3]);
}

TEST_F(Flow, CancelLaterThanTheFirstRowOnlyEndsThatDriverStep)
{
    failLaunch(4, errAuthorizationCanceled);
    ctrl.doUninstall(nullptr);
    EXPECT_EQ(system.count("launch "), kLaunchesPerRun - 3);
    EXPECT_EQ(logged.lines, (Log {"\nError removing the\ndriver -60006", "Failed to remove driver\n"}));
    EXPECT_EQ(label.text().toStdString(), kRemoved);
}

TEST_F(Flow, AuthorizationThatCannotBeCreatedTouchesNothing)
{
    system.createStatus = errAuthorizationInternal;
    testing::internal::CaptureStderr();
    ctrl.doUninstall(nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(system.log,
              (Log {"create", text("Failed to create the\nauthorization reference.")}));
    EXPECT_NE(err.find("Failed to create the\nauthref: -60008.\n"), std::string::npos) << err;
    EXPECT_TRUE(logged.lines.empty());
    EXPECT_TRUE(uninstall.isEnabled());
}

TEST_F(Flow, StepsThatSucceedWithoutLaunching)
{
    struct Case {
        const char* name;
        std::function<bool(controller&)> step;
        size_t launches;
    };
    const std::string r = P + "X";
    const Case cases[] = {
        {"control folder itself",
         [&](controller& c) { return c.removeControlDriverName("/Applications/", "/p", r); }, 0},
        {"MIDI folder itself",
         [&](controller& c) {
             return c.removeMidiDriverName("/Library/Audio/MIDI Drivers/", "/p", r);
         },
         0},
        {"empty receipt name", [](controller& c) { return c.removeVarDbReceipt(""); }, 0},
        {"templates", [](controller& c) { return c.removeTemplates(); }, 0},
        {"control path without the slash",
         [&](controller& c) { return c.removeControlDriverName("/Applications", "/p", r); }, 3},
        {"MIDI path without the slash",
         [&](controller& c) {
             return c.removeMidiDriverName("/Library/Audio/MIDI Drivers", "/p", r);
         },
         3},
    };
    for (const Case& c : cases) {
        system.log.clear();
        EXPECT_TRUE(c.step(ctrl)) << c.name;
        EXPECT_EQ(system.count("launch "), c.launches) << c.name;
        if (c.launches == 0) {
            EXPECT_TRUE(system.log.empty()) << c.name;
        }
    }
    EXPECT_TRUE(logged.lines.empty());
}

TEST_F(Flow, StepResultComesFromItsLastCommandOnly)
{
    auto statuses = [this](std::vector<OSStatus> byLaunch) {
        system.resetLaunches();
        system.launchStatus = [byLaunch](size_t n) { return byLaunch.at(n); };
    };
    const OSStatus denied = errAuthorizationDenied, unknown = errAuthorizationToolEnvironmentError;
    // The driver step hands back command 4's status, unlogged when it is -60032.
    statuses({0, 0, 0, unknown});
    EXPECT_EQ(ctrl.removeDriverDriverName("/d", "/p", "r"), unknown);
    EXPECT_TRUE(logged.lines.empty());
    statuses({denied, denied, denied, 0});
    EXPECT_EQ(ctrl.removeDriverDriverName("/d", "/p", "r"), 0);
    // The three-command steps: failures of the two removals are only logged.
    statuses({denied, denied, 0});
    EXPECT_TRUE(ctrl.removeHalDriverName("/d", "/p", "r"));
    statuses({0, 0, unknown});
    EXPECT_FALSE(ctrl.removeCoreaudioDriverName("/d", "/p", "r"));
    statuses({0, 0, unknown});
    EXPECT_FALSE(ctrl.removeControlDriverName("/d", "/p", "r"));
    statuses({0, 0, unknown});
    EXPECT_FALSE(ctrl.removeMidiDriverName("/d", "/p", "r"));
    statuses({unknown});
    EXPECT_FALSE(ctrl.removeVarDbReceipt("N"));
    EXPECT_EQ(logged.lines.size(), 5u); // the five denied launches only
}

TEST(ReceiptIdentifier, JoinsPrefixBaseNameAndKindWithoutSeparator)
{
    struct Case {
        const char* path;
        const char* withoutExtension;
    };
    const Case cases[] = {
        {"VESK_QM7.kext", "VESK_QM7"},
        {"VESK_QM7 MIDI Driver.plugin", "VESK_QM7 MIDI Driver"},
        {"a.b.c", "a.b"},
        {"noext", "noext"},
        {".plist", ".plist"},
        {"/x.y/name", "/x.y/name"},
        {"/x/name.app", "/x/name"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stringByDeletingPathExtension(c.path), c.withoutExtension) << c.path;
    EXPECT_EQ(receiptIdentifier("VESK_QM7ControlApp.app", "control"),
              P + "VESK_QM7ControlAppcontrol");
    EXPECT_EQ(P.back(), '.');
}

} // namespace
