#include <gtest/gtest.h>

#include <QApplication>
#include <QAction>
#include <QBuffer>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "nvbundle.h"
#include "nvtoolkit.h"
#include "nvtoolkit_p.h"

namespace {

const char* kDescription = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>MainWindow</class>
 <widget class="QMainWindow" name="MainWindow">
  <property name="windowTitle"><string>Start</string></property>
  <widget class="QWidget" name="central">
   <widget class="QLabel" name="stxt:2"><property name="text"><string>label</string></property></widget>
   <widget class="QPushButton" name="push:3">
    <property name="text"><string>Go</string></property>
    <property name="command" stdset="0"><string>flsh</string></property>
   </widget>
   <widget class="QProgressBar" name="prgb:4"/>
   <widget class="QLabel" name="imag:1"/>
   <widget class="QPushButton" name="notakey"/>
  </widget>
  <widget class="QMenuBar" name="MenuBar">
   <widget class="QMenu" name="menuFile">
    <addaction name="actionQuit"/>
   </widget>
   <addaction name="menuFile"/>
  </widget>
  <action name="actionQuit">
   <property name="command" stdset="0"><string>exit</string></property>
  </action>
 </widget>
</ui>
)";

class ToolkitTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nvtoolkit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mDir = pattern;
        ASSERT_EQ(system(("mkdir -p " + mDir + "/Resources").c_str()), 0);
        std::ofstream(mDir + "/Resources/main.ui") << kDescription;
        NVBundleSetMainBundlePath(mDir);
        IBNibRef nib = nullptr;
        ASSERT_EQ(CreateNibReference("main", &nib), noErr);
        ASSERT_EQ(SetMenuBarFromNib(nib, "MenuBar"), noErr);
        ASSERT_EQ(CreateWindowFromNib(nib, "MainWindow", &mWindow), noErr);
        DisposeNibReference(nib);
    }
    void TearDown() override {
        NVBundleSetMainBundlePath("");
        ASSERT_EQ(system(("rm -rf " + mDir).c_str()), 0);
    }
    ControlRef control(const char (&sign)[5], int32_t id) {
        ControlID key{NVFourCC(sign), id};
        ControlRef c = nullptr;
        GetControlByID(mWindow, &key, &c);
        return c;
    }
    std::string mDir;
    WindowRef mWindow = nullptr;
};

std::string text(ControlRef c) {
    char buffer[512];
    size_t n = 0;
    if (GetControlData(c, 0, NVFourCC("text"), sizeof(buffer), buffer, &n) != noErr)
        return "<error>";
    return std::string(buffer, std::min(n, sizeof(buffer)));
}

void drain() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

struct Recorder {
    std::vector<std::string> seen;
    OSStatus answer = eventNotHandledErr;
    std::string name;
};

OSStatus record(EventHandlerCallRef, EventRef event, void* userData) {
    auto* r = static_cast<Recorder*>(userData);
    HICommand cmd{};
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof(cmd),
                          nullptr, &cmd) == noErr) {
        std::string code;
        for (int shift = 24; shift >= 0; shift -= 8)
            code += char((cmd.commandID >> shift) & 0xFF);
        r->seen.push_back(code);
    } else {
        r->seen.push_back("closed");
    }
    return r->answer;
}

}  // namespace

TEST_F(ToolkitTest, DescriptionsThatCannotLoad) {
    IBNibRef nib = nullptr;
    EXPECT_EQ(CreateNibReference("absent", &nib), resNotFound);
    EXPECT_EQ(nib, nullptr);
    std::ofstream(mDir + "/Resources/broken.ui") << "<ui><widget";
    EXPECT_NE(CreateNibReference("broken", &nib), noErr);
    ASSERT_EQ(CreateNibReference("main", &nib), noErr);
    EXPECT_EQ(SetMenuBarFromNib(nib, "NoMenu"), resNotFound);
    WindowRef w = nullptr;
    EXPECT_EQ(CreateWindowFromNib(nib, "OtherWindow", &w), resNotFound);
    EXPECT_EQ(w, nullptr);
    DisposeNibReference(nib);
}

TEST_F(ToolkitTest, ControlsByKeyWithValuesFromTheDescription) {
    ControlRef status = control("stxt", 2);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(text(status), "label");
    EXPECT_NE(control("push", 3), nullptr);
    EXPECT_EQ(control("push", 4), nullptr);     // right id, other signature
    EXPECT_EQ(control("prgb", 3), nullptr);
    ControlRef none = nullptr;
    ControlID key{NVFourCC("push"), 99};
    EXPECT_EQ(GetControlByID(mWindow, &key, &none), errUnknownControl);
    EXPECT_EQ(GetControlByID(nullptr, &key, &none), paramErr);

    unsigned char title[256];
    GetWTitle(mWindow, title);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(title + 1), title[0]), "Start");
}

TEST_F(ToolkitTest, ValuesReachTheWidgets) {
    ShowWindow(mWindow);
    ControlRef status = control("stxt", 2);
    ControlRef button = control("push", 3);
    ControlRef bar = control("prgb", 4);
    const char* message = "Line one\r\nLine <b>two</b>";
    SetControlData(status, 0, NVFourCC("text"), strlen(message), message);
    DisableControl(button);
    SetControlMinimum(bar, 0);
    SetControlMaximum(bar, 288);
    SetControlValue(bar, 193);
    HideControl(bar);
    const unsigned char title[] = "\x05Hello";
    SetWTitle(mWindow, title);

    auto* root = mWindow->widget.data();
    auto* label = root->findChild<QLabel*>("stxt:2");
    auto* push = root->findChild<QPushButton*>("push:3");
    auto* progress = root->findChild<QProgressBar*>("prgb:4");
    EXPECT_EQ(label->text().toStdString(), message);   // shown as plain text
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_FALSE(push->isEnabled());
    EXPECT_EQ(progress->maximum(), 288);
    EXPECT_EQ(progress->value(), 193);
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(root->windowTitle(), "Hello");
    EXPECT_FALSE(IsControlEnabled(button));
    EXPECT_FALSE(IsControlVisible(bar));
    EXPECT_EQ(GetControlValue(bar), 193);

    char small[4];
    size_t actual = 0;
    ASSERT_EQ(GetControlData(status, 0, NVFourCC("text"), sizeof(small), small, &actual), noErr);
    EXPECT_EQ(actual, strlen(message));
    EXPECT_EQ(std::string(small, 4), "Line");
    EXPECT_EQ(SetControlData(status, 0, NVFourCC("xxxx"), 1, "x"), paramErr);
    CloseWindow(mWindow);
}

// Changes from another thread are readable at once and reach the widget on the GUI thread;
// whichever thread set a value last, that value is what the widget ends with.
TEST_F(ToolkitTest, ChangesFromAWorkerThreadInOrder) {
    ControlRef status = control("stxt", 2);
    ControlRef bar = control("prgb", 4);
    auto* label = mWindow->widget.data()->findChild<QLabel*>("stxt:2");
    std::thread worker([&] {
        SetControlMaximum(bar, 288);
        for (int i = 0; i <= 288; ++i)
            SetControlValue(bar, int16_t(i));
        SetControlData(status, 0, NVFourCC("text"), 6, "worker");
        EXPECT_EQ(text(status), "worker");
        DisableControl(status);
    });
    worker.join();
    EXPECT_EQ(label->text(), "label");         // not yet: handed to the GUI thread
    SetControlData(status, 0, NVFourCC("text"), 3, "gui");
    EXPECT_EQ(label->text(), "gui");
    drain();
    EXPECT_EQ(label->text(), "gui");
    EXPECT_FALSE(label->isEnabled());
    EXPECT_EQ(mWindow->widget.data()->findChild<QProgressBar*>("prgb:4")->value(),
              288);
}

TEST_F(ToolkitTest, HandlerChainStopsAtTheFirstThatHandles) {
    Recorder first{{}, eventNotHandledErr, "first"};
    Recorder second{{}, noErr, "second"};
    Recorder closed{{}, noErr, "closed"};
    EventTypeSpec cmd{kEventClassCommand, kEventCommandProcess};
    EventTypeSpec wclosed{kEventClassWindow, kEventWindowClosed};
    EventHandlerRef h1 = nullptr;
    ASSERT_EQ(InstallWindowEventHandler(mWindow, record, 1, &cmd, &first, &h1), noErr);
    ASSERT_EQ(InstallWindowEventHandler(mWindow, record, 1, &cmd, &second, nullptr), noErr);
    ASSERT_EQ(InstallWindowEventHandler(mWindow, record, 1, &wclosed, &closed, nullptr), noErr);

    EXPECT_EQ(NVSendCommand(mWindow, NVFourCC("swin")), noErr);
    first.answer = noErr;
    EXPECT_EQ(NVSendCommand(mWindow, NVFourCC("pbok")), noErr);
    EXPECT_EQ(first.seen, (std::vector<std::string>{"swin", "pbok"}));
    EXPECT_EQ(second.seen, (std::vector<std::string>{"swin"}));
    EXPECT_TRUE(closed.seen.empty());

    // The button and the menu action issue their commands.
    RemoveEventHandler(h1);
    auto* root = mWindow->widget.data();
    root->findChild<QPushButton*>("push:3")->click();
    root->findChild<QAction*>("actionQuit")->trigger();
    EXPECT_EQ(second.seen, (std::vector<std::string>{"swin", "flsh", "exit"}));

    EventRef bare = NVCreateCommandEvent(NVFourCC("flsh"), false);
    HICommand out{};
    EXPECT_EQ(GetEventParameter(bare, kEventParamDirectObject, typeHICommand, nullptr,
                                sizeof(out), nullptr, &out),
              eventParameterNotFoundErr);
    ReleaseEvent(bare);

    ShowWindow(mWindow);
    drain();
    CloseWindow(mWindow);
    EXPECT_TRUE(closed.seen.empty());          // after the close has gone through
    drain();
    EXPECT_EQ(closed.seen, (std::vector<std::string>{"closed"}));
}

namespace {
struct Ticks {
    std::vector<qint64> at;
    QElapsedTimer clock;
};
void tick(EventLoopTimerRef, void* userData) {
    auto* t = static_cast<Ticks*>(userData);
    t->at.push_back(t->clock.elapsed());
    if (t->at.size() == 3)
        QuitApplicationEventLoop();
}
}  // namespace

TEST_F(ToolkitTest, TimerFiresFirstAfterItsDelayThenRepeats) {
    Ticks ticks;
    ticks.clock.start();
    EventLoopTimerRef timer = nullptr;
    ASSERT_EQ(InstallEventLoopTimer(0.2, 0.05, tick, &ticks, &timer), noErr);
    RunApplicationEventLoop();
    ASSERT_EQ(RemoveEventLoopTimer(timer), noErr);
    ASSERT_EQ(ticks.at.size(), 3u);
    EXPECT_GE(ticks.at[0], 190);
    EXPECT_GE(ticks.at[2] - ticks.at[1], 40);
    EXPECT_EQ(InstallEventLoopTimer(1, 1, nullptr, nullptr, &timer), paramErr);
}

TEST_F(ToolkitTest, ImageViewShowsAPNGAndRefusesOtherData) {
    QImage picture(8, 4, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    EXPECT_EQ(CGImageCreateWithPNGData("not a png", 9), nullptr);
    EXPECT_EQ(CGImageCreateWithPNGData(nullptr, 0), nullptr);
    CGImageRef image = CGImageCreateWithPNGData(png.constData(), size_t(png.size()));
    ASSERT_NE(image, nullptr);
    ControlRef view = control("imag", 1);
    EXPECT_FALSE(HIImageViewHasImage(view));
    EXPECT_EQ(HIImageViewSetImage(view, image, 0.5f), noErr);
    EXPECT_EQ(HIImageViewSetImage(control("push", 3), image, 1.0f), paramErr);  // not a view
    CGImageRelease(image);
    EXPECT_TRUE(HIImageViewHasImage(view));
    EXPECT_TRUE(IsControlVisible(view));

    ShowWindow(mWindow);
    std::string shot = mDir + "/shot.png";
    EXPECT_TRUE(NVWindowSaveImage(mWindow, shot.c_str()));
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());
    CloseWindow(mWindow);
}

TEST(ToolkitLoop, DispatchesGLibSources) {
    // The driver API's notifications arrive as GLib sources inside this loop.
    EXPECT_TRUE(NVToolkitLoopDispatchesGLib()) << NVToolkitDispatcherName();
}

TEST(ToolkitLoop, TerminationSignalsReachTheLoop) {
    static int calls = 0;
    NVToolkitOnTerminationSignal([](void* data) { *static_cast<int*>(data) += 1; }, &calls);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        int before = calls;
        raise(sig);
        for (int i = 0; i < 100 && calls == before; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        EXPECT_EQ(calls, before + 1) << sig;
    }
}
