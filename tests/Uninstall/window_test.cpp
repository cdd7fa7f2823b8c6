// The real window description, offscreen, with the recording stand-ins behind it.

#include "application.h"
#include "recording.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QFile>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

const char* const kInvitation = "Click 'Uninstall' to\ncompletely remove\nthe VESK:QM7 audio drivers.";

class Window : public testing::Test {
protected:
    void SetUp() override
    {
        QString path = resourcesDirectory() + QStringLiteral("/MainMenu.ui");
        QString error;
        window = loadMainWindow(path, ctrl, &error);
        ASSERT_TRUE(window) << error.toStdString();
        window->show();
    }
    std::string shown() const { return ctrl.textField->text().toStdString(); }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    RecordingSystem system;
    RecordingController ctrl {system};
    std::unique_ptr<QWidget> window;
    LogLines logged;
};

TEST_F(Window, OpensWithTheInvitationAndBothButtons)
{
    ASSERT_NE(ctrl.cancelButton, nullptr);
    ASSERT_NE(ctrl.uninstallButton, nullptr);
    EXPECT_EQ(shown(), kInvitation);
    EXPECT_TRUE(ctrl.cancelButton->isEnabled());
    EXPECT_TRUE(ctrl.uninstallButton->isEnabled());
    EXPECT_TRUE(system.log == std::vector<std::string> {std::string("text ") + kInvitation});
}

TEST_F(Window, ShowsEachOutcome)
{
    struct Case {
        const char* name;
        OSStatus createStatus;
        size_t failingLaunch;
        OSStatus launchStatus;
        const char* text;
        bool uninstallEnabled;
    };
    const Case cases[] = {
        {"no authorization", errAuthorizationInternal, 0, 0,
         "Failed to create the\nauthorization reference.", true},
        {"prompt cancelled", 0, 0, errAuthorizationCanceled, "The driver has NOT\nbeen removed.",
         true},
        {"receipts not removed", 0, 20, errAuthorizationToolExecuteFailure,
         "The driver has NOT\nbeen removed.", true},
        {"removed", 0, 0, 0,
         "The driver has been\ncompletly removed.\nYou should reboot your\ncomputer now.", false},
    };
    // One window through all outcomes: each run starts from where the last one left it.
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        system.createStatus = c.createStatus;
        system.launchStatus = [c](size_t n) { return n == c.failingLaunch ? c.launchStatus : 0; };
        click(ctrl.uninstallButton);
        EXPECT_EQ(shown(), c.text) << c.name;
        EXPECT_EQ(ctrl.uninstallButton->isEnabled(), c.uninstallEnabled) << c.name;
        EXPECT_TRUE(ctrl.cancelButton->isEnabled()) << c.name;
    }
    testing::internal::GetCapturedStderr();

    // The reboot text stays: a click on the disabled button starts nothing.
    size_t entries = system.log.size();
    click(ctrl.uninstallButton);
    EXPECT_EQ(system.log.size(), entries);
    EXPECT_EQ(shown(), cases[3].text);
}

TEST_F(Window, CancelQuitsTheApplication)
{
    QTimer::singleShot(0, [this] { click(ctrl.cancelButton); });
    // Safety net only: without the quit the loop would end here with another code.
    QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(system.count("create"), 0u);
}

TEST(WindowDescription, MissingFileOrOutletIsReportedNotCrashed)
{
    RecordingSystem system;
    controller ctrl(system);
    QString error;
    EXPECT_FALSE(loadMainWindow(QStringLiteral("/nonexistent/MainMenu.ui"), ctrl, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot open"))) << error.toStdString();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString path = dir.filePath(QStringLiteral("w.ui"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"w\"><widget class=\"QLabel\" "
               "name=\"textField\"/></widget></ui>");
    file.close();
    error.clear();
    EXPECT_FALSE(loadMainWindow(path, ctrl, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cancelButton"))) << error.toStdString();
    EXPECT_EQ(ctrl.textField, nullptr);
}

} // namespace
